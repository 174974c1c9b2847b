#include "transfer.h"

#include "buffer_sizes.h"
#include "run_state.h"
#include "text.h"

int run_transfer(const TransferIo& io, char* chunk, std::atomic<int32_t>& received,
                 int64_t announced_length, int64_t manifest_size)
{
    // The platform's client stops at a length the server announced; without
    // one only the manifest says where the body must end.
    bool bounded = announced_length == LENGTH_UNKNOWN && manifest_size != LENGTH_UNKNOWN;
    int64_t expected = bounded ? manifest_size : announced_length;
    uint32_t count = 0;
    int64_t arrived = 0;
    int ok = 1;
    do {
        uint32_t size = CHUNK_SIZE;
        if (bounded && expected - arrived < static_cast<int64_t>(size))
            // At the size, one byte more is asked: only a read tells the end
            // of the body from more of it.
            size = expected > arrived ? static_cast<uint32_t>(expected - arrived) : 1;
        count = 0;
        ok = io.read(io.context, chunk, size, &count) ? 1 : 0;
        if (bounded && arrived + count > expected) {
            ok = 0;
            count = 0;
        }
        if (count > size)
            count = 0;
        io.pause(io.context);
        if (io.write(io.context, chunk, count) != count)
            ok = 0;
        add_received_bytes(received, count);
        arrived += count;
        // A body cut short reads as a normal end; only the expected length
        // tells it apart.
        if (ok && count == 0 && expected != LENGTH_UNKNOWN && arrived < expected)
            ok = 0;
        io.post_progress(io.context, ok);
    } while (count != 0 && ok == 1);
    return ok;
}

int join_installer_url(char* download_url, uint32_t url_size, const char* installer_name)
{
    return append_text(download_url, url_size, installer_name);
}

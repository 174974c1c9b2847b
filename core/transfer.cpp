#include "transfer.h"

#include "limits.h"
#include "run_state.h"
#include "text.h"

int run_transfer(const TransferIo& io, char* chunk, std::atomic<int32_t>& received,
                 int64_t announced_length)
{
    uint32_t count = 0;
    int64_t arrived = 0;
    int ok = 1;
    do {
        count = 0;
        ok = io.read(io.context, chunk, CHUNK_SIZE, &count) ? 1 : 0;
        if (count > CHUNK_SIZE)
            count = 0;
        io.pause(io.context);
        if (io.write(io.context, chunk, count) != count)
            ok = 0;
        add_received_bytes(received, count);
        arrived += count;
        // A body cut short reads as a normal end; only the announced length
        // tells it apart.
        if (ok && count == 0 && announced_length != LENGTH_UNKNOWN && arrived < announced_length)
            ok = 0;
        io.post_progress(io.context, ok);
    } while (count != 0 && ok == 1);
    return ok;
}

int join_installer_url(char* download_url, uint32_t url_size, const char* installer_name)
{
    return append_text(download_url, url_size, installer_name);
}

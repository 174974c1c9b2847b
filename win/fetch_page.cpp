#include "prepare_download.h"

#include "internet_session.h"
#include "limits.h"

namespace {

// A page that has not arrived whole this long after its request fails,
// however its bytes trickle: the preparation runs on the window's thread.
// Each wait for more bytes is bounded by the receive timeout, so a fetch
// ends at most that long after this deadline.
const DWORD PAGE_DEADLINE_MS = 60000;

}  // namespace

// Fetches one URL into reply (REPLY_BLOCK_SIZE bytes) with a fresh session
// and no cache: the body's first REPLY_BUFFER_SIZE bytes, read as they
// arrive. The block has one byte beyond them, so even a full reply is
// terminated inside it.
int fetch_page(void*, const char* url, char* reply)
{
    reply[0] = '\0';
    DWORD started = GetTickCount();
    UrlRequest opened;
    if (!open_url(url, opened))
        return 0;
    uint32_t total = 0;
    uint32_t count = 0;
    int ok = 1;
    do {
        count = 0;
        ok = GetTickCount() - started <= PAGE_DEADLINE_MS &&
             read_arrived(opened.request.get(), reply + total, REPLY_BUFFER_SIZE - total, &count);
        if (count > REPLY_BUFFER_SIZE - total)
            count = 0;
        total += count;
    } while (ok && count != 0 && total < REPLY_BUFFER_SIZE);
    reply[total] = '\0';
    return ok;
}

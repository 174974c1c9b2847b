#include "prepare_download.h"

#include <string.h>

#include "internet_session.h"
#include "buffer_sizes.h"

// Fetches one URL into reply (REPLY_BLOCK_SIZE bytes) with a fresh session
// and no cache: the body's first REPLY_BUFFER_SIZE bytes, the whole request
// bounded by REQUEST_DEADLINE_MS (the preparation runs on the window's
// thread). A fetch that fails in any way (the deadline, a reset or a failed
// read, a body shorter than announced) leaves the empty reply: a cut page
// could end a search with no directory, or name a cut one.
int fetch_page(void*, const char* url, char* reply)
{
    reply[0] = '\0';
    RequestRef request;
    if (!run_request(url, true, request))
        return 0;
    memcpy(reply, request.get()->reply, REPLY_BLOCK_SIZE);
    return 1;
}

#include "prepare_download.h"

#include "internet_session.h"
#include "limits.h"

// Fetches one URL into reply (REPLY_BLOCK_SIZE bytes) with a fresh session,
// one read and no cache. The block has one byte beyond the read, so even a
// full read is terminated inside it.
int fetch_page(void*, const char* url, char* reply)
{
    reply[0] = '\0';
    UrlRequest opened;
    if (!open_url(url, opened))
        return 0;
    DWORD count = 0;
    BOOL ok = InternetReadFile(opened.request.get(), reply, REPLY_BUFFER_SIZE, &count);
    if (count > REPLY_BUFFER_SIZE)
        count = 0;
    reply[count] = '\0';
    return ok ? 1 : 0;
}

#include "app.h"
#include "internet_session.h"

#include <wininet.h>

// Fetches one URL into reply (REPLY_BLOCK_SIZE bytes) with a fresh session,
// one read and no cache. The block has one byte beyond the read, so even a
// full read is terminated inside it.
int fetch_page(void*, const char* url, char* reply)
{
    reply[0] = '\0';
    HINTERNET session = open_internet_session();
    if (!session)
        return 0;
    HINTERNET request = InternetOpenUrlA(session, url, nullptr, 0,
                                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (!request) {
        InternetCloseHandle(session);
        return 0;
    }
    DWORD count = 0;
    BOOL ok = InternetReadFile(request, reply, REPLY_BUFFER_SIZE, &count);
    InternetCloseHandle(request);
    InternetCloseHandle(session);
    if (count > REPLY_BUFFER_SIZE)
        count = 0;
    reply[count] = '\0';
    return ok ? 1 : 0;
}

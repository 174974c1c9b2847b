#include "internet_session.h"

const char AGENT_NAME[] = "Polvex Download Manager";

namespace {

// How long a request waits for more data from a server that has gone
// silent: Windows' usual default, set so that it does not hang on the
// system's settings. Wine's WinInet ignores it (the download worker has a
// watchdog of its own for that).
const DWORD RECEIVE_TIMEOUT_MS = 30000;

}  // namespace

HINTERNET open_internet_session()
{
    HINTERNET session = InternetOpenA(AGENT_NAME, INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                      nullptr, 0);
    if (session) {
        // Requests opened on the session take its timeouts.
        DWORD timeout = RECEIVE_TIMEOUT_MS;
        InternetSetOptionA(session, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
    }
    return session;
}

HINTERNET open_url(HINTERNET session, const char* url)
{
    return InternetOpenUrlA(session, url, nullptr, 0,
                            INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
}

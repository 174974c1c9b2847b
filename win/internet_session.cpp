#include "internet_session.h"

#include "app.h"

namespace {

// How long a request waits for more data from a server that has gone
// silent. Windows' own default is 30 seconds, but wine's WinInet waits
// forever; the program sets it so that a stalled server always ends in the
// error text instead of a window that never finishes.
const DWORD RECEIVE_TIMEOUT_MS = 30000;

}  // namespace

HINTERNET open_internet_session()
{
    HINTERNET session = InternetOpenA(AGENT_NAME, INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                      nullptr, 0);
    if (session)
        limit_receive_wait(session);
    return session;
}

void limit_receive_wait(HINTERNET handle)
{
    DWORD timeout = RECEIVE_TIMEOUT_MS;
    InternetSetOptionA(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof timeout);
}

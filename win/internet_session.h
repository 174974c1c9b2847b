// The WinInet session and requests of a run.
#pragma once
#include <windows.h>
#include <wininet.h>

// The name the program gives itself in every request.
extern const char AGENT_NAME[];

// A session with the program's agent name and the proxy settings of the
// system, and a bounded wait for data. Null when WinInet cannot start.
HINTERNET open_internet_session();

// A request for url on the session, fetched anew, past any cache, and kept
// out of the cache. Null when the URL cannot be opened.
HINTERNET open_url(HINTERNET session, const char* url);

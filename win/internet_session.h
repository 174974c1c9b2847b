// The WinInet session that every request of a run opens.
#pragma once
#include <windows.h>
#include <wininet.h>

// A session with the program's agent name and the proxy settings of the
// system, and a bounded wait for data. Null when WinInet cannot start.
HINTERNET open_internet_session();

// The download window: the MANAGER dialog, from the preparation to the
// hand-off to the installer.
#pragma once
#include <windows.h>

// Its dialog procedure: one handler per message (program_constants.h has
// the private ones).
INT_PTR CALLBACK download_window_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

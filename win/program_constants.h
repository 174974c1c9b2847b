// What several parts of the Windows side share: the private messages posted
// to the download window, the news ticker's timer and the installer's file
// name.
#pragma once
#include <windows.h>

const UINT UM_BEGIN = WM_USER + 1;     // start the preparation
const UINT UM_DONE = WM_USER + 2;      // wParam 1: the download succeeded
const UINT UM_PROGRESS = WM_USER + 3;  // a chunk arrived

const UINT TICKER_TIMER_ID = 123;
const UINT TICKER_PERIOD_MS = 500;

// The installer, as the download worker writes it into the current folder
// and the launch starts it.
extern const char INSTALLER_FILE_NAME[];
// The same name for the wide calls, which spell any folder's name.
extern const wchar_t INSTALLER_FILE_NAME_W[];

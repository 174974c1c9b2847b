// The news ticker of the download window.
#pragma once
#include <windows.h>

// On the ticker's timer: shows the news rotated by one more line.
void ticker_tick(HWND dialog, WPARAM timer_id);

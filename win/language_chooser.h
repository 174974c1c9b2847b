// The language chooser: the LANGCHOOSER dialog, shown first.
#pragma once
#include <windows.h>

// Its dialog procedure. OK stores the chosen code in run_state.language_code
// and ends the dialog with 1; cancelling ends it with 0.
INT_PTR CALLBACK language_chooser_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

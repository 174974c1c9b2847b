// The download window's status box: texts from the string table, errors
// with the OK button, and the focus kept off the box.
#pragma once
#include <windows.h>

// The string table text id, loaded into run_state.status_text.
const char* get_string_text(UINT id);
// Shows the text id in the status box.
void show_status(UINT id);
// Shows the text id in the status box and offers the OK button of dialog.
void show_error(HWND dialog, UINT id);
// Tells the status box that it lost the focus, without moving the focus.
void park_focus(HWND dialog);

// The progress bar of the download window: blocks painted into an
// off-screen bitmap (run_state.progress_bitmap) that the control shows.
#pragma once
#include <windows.h>

// Paints the bar of the dialog's progress control anew.
void repaint_progress(HWND dialog);
// Paints the bar for a control of width x height pixels.
void draw_progress(HWND control, int width, int height);

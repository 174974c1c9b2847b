// The run of this process, from the entry point.
#pragma once
#include <windows.h>

// Shows the language chooser, then the download window; a second copy
// while one runs leaves at once. Returns the process's exit code.
int run_polvex(HINSTANCE instance, HINSTANCE previous_instance);

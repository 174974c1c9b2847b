// The hand-off: the downloaded installer is started and the previous
// installation's folder moved aside.
#pragma once
#include <windows.h>

// The installer's full path in the current folder: a bare name would be
// looked for beside this executable first.
bool installer_path(wchar_t (&path)[MAX_PATH]);
// Returns 1 when it ended the window, 0 when it showed the launch error.
int launch_installer(HWND dialog);
// Renames the folder of the uninstall command stored in the registry, if
// any, to its first free ".old" name.
void retire_previous_installation();

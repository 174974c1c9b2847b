// Retiring the previous installation: its folder is the directory part of
// the stored uninstall command, renamed with ".old" suffixes.
#pragma once
#include <stddef.h>

extern const char UNINSTALL_KEY_PATH[];
extern const char UNINSTALL_VALUE_NAME[];

// Cuts the folder out of the command in place: it starts after the first
// double quote and ends at the last backslash, which becomes the
// terminator. Returns the folder's first character, or null when the
// command has no double quote or no backslash after the folder's start.
char* folder_of_uninstall_command(char* command);

// Renames from to to; returns 1 when renamed. Must fail, not replace, when
// the new name exists.
typedef int (*RenameFolderFn)(void* context, const char* from, const char* to);

// Tries the folder with ".old" once, twice, ... up to 25 times, and stops
// at the first rename that succeeds. Returns the number of suffixes of the
// new name, or 0 when nothing was renamed.
int retire_folder(const char* folder, RenameFolderFn rename_folder, void* context);

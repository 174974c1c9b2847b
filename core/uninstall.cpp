#include "uninstall.h"

#include <string.h>

#include "buffer_sizes.h"
#include "text.h"

const char UNINSTALL_KEY_PATH[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Polvex Nimbra";
const char UNINSTALL_VALUE_NAME[] = "UninstallString";

char* folder_of_uninstall_command(char* command)
{
    char* start;
    if (command[0] == '"') {
        start = command + 1;
    } else {
        char* quote = strchr(command, '"');
        if (!quote)
            return nullptr;
        start = quote + 1;
    }
    // The character at start itself is not looked at.
    char* backslash = nullptr;
    if (*start != '\0') {
        for (char* p = start + strlen(start) - 1; p > start; --p) {
            if (*p == '\\') {
                backslash = p;
                break;
            }
        }
    }
    if (!backslash)
        return nullptr;
    *backslash = '\0';
    return start;
}

int retire_folder(const char* folder, RenameFolderFn rename_folder, void* context)
{
    char new_name[NEW_NAME_SIZE];
    if (!copy_text(new_name, sizeof new_name, folder))
        return 0;
    for (int suffixes = 1; suffixes <= MAX_OLD_SUFFIXES; ++suffixes) {
        if (!append_text(new_name, sizeof new_name, ".old"))
            return 0;
        if (rename_folder(context, folder, new_name))
            return suffixes;
    }
    return 0;
}

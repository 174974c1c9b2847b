#include "launch.h"

#include <shellapi.h>
#include <stdio.h>
#include <string.h>

#include "ids.h"
#include "limits.h"
#include "program_constants.h"
#include "registry_key.h"
#include "run_state.h"
#include "status_box.h"
#include "text.h"
#include "uninstall.h"

namespace {

// Starts the installer by its full path in the current directory: a bare
// name would be looked for beside this executable first. The shell asks
// for elevation when the installer needs it.
bool start_installer()
{
    char path[MAX_PATH + 16];
    DWORD len = GetCurrentDirectoryA(MAX_PATH, path);
    if (len == 0 || len >= MAX_PATH)
        return false;
    if (path[len - 1] != '\\' && !append_text(path, sizeof path, "\\"))
        return false;
    if (!append_text(path, sizeof path, INSTALLER_FILE_NAME))
        return false;
    SHELLEXECUTEINFOA info;
    memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = "open";
    info.lpFile = path;
    info.nShow = SW_SHOW;
    return ShellExecuteExA(&info) != FALSE;
}

int rename_folder(void*, const char* from, const char* to)
{
    // The runtime's rename fails, rather than replaces, when to exists.
    return rename(from, to) == 0;
}

}  // namespace

int launch_installer(HWND dialog)
{
    show_status(IDS_PREPARING);
    UpdateWindow(static_cast<HWND>(run_state.status_box));
    Sleep(1000);
    if (!start_installer()) {
        show_error(dialog, IDS_ERR_LAUNCH);
        return 0;
    }
    retire_previous_installation();
    EndDialog(dialog, 1);
    return 1;
}

void retire_previous_installation()
{
    char command[COMMAND_BUFFER_SIZE];
    if (!copy_text(command, sizeof command, UNINSTALL_KEY_PATH))
        return;
    RegistryKey key;
    if (!key.open(HKEY_LOCAL_MACHINE, command, KEY_QUERY_VALUE))
        return;
    key.query_string(command, sizeof command, UNINSTALL_VALUE_NAME);
    if (command[0] == '\0')
        return;
    char* folder = folder_of_uninstall_command(command);
    if (folder)
        retire_folder(folder, rename_folder, nullptr);
}

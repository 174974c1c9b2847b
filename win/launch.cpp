#include "launch.h"

#include <shellapi.h>
#include <string.h>

#include "ids.h"
#include "buffer_sizes.h"
#include "owners.h"
#include "program_constants.h"
#include "registry_key.h"
#include "run_state.h"
#include "status_box.h"
#include "text.h"
#include "uninstall.h"

namespace {

// The shell asks for elevation when the installer needs it.
bool start_installer(const wchar_t* path)
{
    SHELLEXECUTEINFOW info;
    memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = L"open";
    info.lpFile = path;
    info.nShow = SW_SHOW;
    return ShellExecuteExW(&info) != FALSE;
}

// The stored command is read as UTF-8, so that a folder outside the code
// page keeps its name; back to wide for the move.
bool to_wide(const char* utf8, wchar_t* wide, int wide_size)
{
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, wide, wide_size) != 0;
}

int rename_folder(void*, const char* from, const char* to)
{
    wchar_t wide_from[COMMAND_BUFFER_SIZE];
    wchar_t wide_to[NEW_NAME_SIZE];
    // MoveFileW fails, rather than replaces, when the new name exists.
    return to_wide(from, wide_from, COMMAND_BUFFER_SIZE) &&
           to_wide(to, wide_to, NEW_NAME_SIZE) && MoveFileW(wide_from, wide_to);
}

}  // namespace

// The installer's full path in the current folder: a bare name would be
// looked for beside this executable first. The wide calls spell the folder
// whatever its name; the ANSI ones give question marks for characters
// outside the code page.
bool installer_path(wchar_t (&path)[MAX_PATH])
{
    // A relative name is resolved against the current folder only.
    DWORD len = GetFullPathNameW(INSTALLER_FILE_NAME_W, MAX_PATH, path, nullptr);
    return len != 0 && len < MAX_PATH;
}

int launch_installer(HWND dialog)
{
    // The download worker's handle, which lets nobody else write, rename or
    // delete the installer (checked, in a build that names a signer, by the
    // worker through the handle it had before): held through the start,
    // closed on every way out.
    // Without it the file is not known to be what was downloaded. Windows
    // and wine both start a file held open for reading only.
    KernelHandle installer(static_cast<HANDLE>(run_state.installer_file));
    run_state.installer_file = nullptr;
    show_status(IDS_PREPARING);
    UpdateWindow(static_cast<HWND>(run_state.status_box));
    Sleep(1000);
    wchar_t path[MAX_PATH];
    if (!installer || !installer_path(path) || !start_installer(path)) {
#ifdef POLVEX_CHECK_INSTALLER_SIGNER
        // Whatever failed, the file goes (the download worker has checked
        // it), as every failure after its creation takes it away.
        installer.reset();
        DeleteFileW(INSTALLER_FILE_NAME_W);
#endif
        show_error(dialog, IDS_ERR_LAUNCH);
        return 0;
    }
    installer.reset();
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

/* A library that a web page could drop beside the program or into the
   folder it runs in, under the name of a system library. It exports
   nothing: when loaded, it appends the loading program's path to a file
   beside itself, NAME.loaded, so that a run can tell that it was loaded. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    char path[MAX_PATH + 8];
    char program[MAX_PATH];
    DWORD len;
    DWORD program_len;
    DWORD written;
    HANDLE file;
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    len = GetModuleFileNameA(instance, path, MAX_PATH);
    program_len = GetModuleFileNameA(NULL, program, MAX_PATH);
    if (len == 0 || len >= MAX_PATH || program_len >= MAX_PATH)
        return TRUE;
    lstrcpyA(path + len, ".loaded");
    file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        WriteFile(file, program, program_len, &written, NULL);
        WriteFile(file, "\r\n", 2, &written, NULL);
        CloseHandle(file);
    }
    return TRUE;
}

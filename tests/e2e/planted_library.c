/* A library that a web page could drop beside the program or into the
   folder it runs in, under the name of a system library. When loaded, it
   appends "loaded by PROGRAM" to a file beside itself, NAME.loaded; it
   exports the version.dll functions the program uses, which append
   "PROGRAM called FUNCTION" there and fail. (Wine's own user32.dll imports
   version.dll, so under wine a planted version.dll is loaded into every
   program that wine is told to give native libraries first: there only
   its calls tell whether the program took its functions. The wide ones
   that wine's user32.dll calls fail without a record: missing, their
   calls would end in wine's crash dialog.) */
#include <windows.h>

static HINSTANCE self;

static void record(const char* before, const char* after)
{
    char path[MAX_PATH + 8];
    char program[MAX_PATH];
    DWORD len = GetModuleFileNameA(self, path, MAX_PATH);
    DWORD program_len = GetModuleFileNameA(NULL, program, MAX_PATH);
    DWORD written;
    HANDLE file;
    if (len == 0 || len >= MAX_PATH || program_len >= MAX_PATH)
        return;
    lstrcpyA(path + len, ".loaded");
    file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    WriteFile(file, before, lstrlenA(before), &written, NULL);
    WriteFile(file, program, program_len, &written, NULL);
    WriteFile(file, after, lstrlenA(after), &written, NULL);
    WriteFile(file, "\r\n", 2, &written, NULL);
    CloseHandle(file);
}

__declspec(dllexport) DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR name, LPDWORD handle)
{
    (void)name;
    (void)handle;
    record("", " called GetFileVersionInfoSizeA");
    return 0;
}

__declspec(dllexport) BOOL WINAPI GetFileVersionInfoA(LPCSTR name, DWORD handle, DWORD size,
                                                      LPVOID data)
{
    (void)name;
    (void)handle;
    (void)size;
    (void)data;
    record("", " called GetFileVersionInfoA");
    return FALSE;
}

__declspec(dllexport) BOOL WINAPI VerQueryValueA(LPCVOID block, LPCSTR sub_block, LPVOID* buffer,
                                                 PUINT length)
{
    (void)block;
    (void)sub_block;
    (void)buffer;
    (void)length;
    record("", " called VerQueryValueA");
    return FALSE;
}

__declspec(dllexport) DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR name, LPDWORD handle)
{
    (void)name;
    (void)handle;
    return 0;
}

__declspec(dllexport) BOOL WINAPI GetFileVersionInfoW(LPCWSTR name, DWORD handle, DWORD size,
                                                      LPVOID data)
{
    (void)name;
    (void)handle;
    (void)size;
    (void)data;
    return FALSE;
}

__declspec(dllexport) BOOL WINAPI VerQueryValueW(LPCVOID block, LPCWSTR sub_block, LPVOID* buffer,
                                                 PUINT length)
{
    (void)block;
    (void)sub_block;
    (void)buffer;
    (void)length;
    return FALSE;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        self = instance;
        record("loaded by ", "");
    }
    return TRUE;
}

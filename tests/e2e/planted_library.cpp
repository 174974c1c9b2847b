// A library that a web page could drop beside the program or into the
// folder it runs in, under the name of a system library. When loaded, it
// appends "loaded by PROGRAM" to a file beside itself, NAME.loaded; it
// exports the version.dll functions the program uses, which append
// "PROGRAM called FUNCTION" there and fail. (Wine's own user32.dll imports
// version.dll, so under wine a planted version.dll is loaded into every
// program that wine is told to give native libraries first: there only
// its calls tell whether the program took its functions. The wide ones
// that wine's user32.dll calls fail without a record: missing, their
// calls would end in wine's crash dialog.)

#include <windows.h>

namespace {

HINSTANCE self;

void record(const char* before, const char* after)
{
    char path[MAX_PATH + 8];
    char program[MAX_PATH];
    DWORD len = GetModuleFileNameA(self, path, MAX_PATH);
    DWORD program_len = GetModuleFileNameA(nullptr, program, MAX_PATH);
    if (len == 0 || len >= MAX_PATH || program_len >= MAX_PATH)
        return;
    lstrcpyA(path + len, ".loaded");
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, before, lstrlenA(before), &written, nullptr);
    WriteFile(file, program, program_len, &written, nullptr);
    WriteFile(file, after, lstrlenA(after), &written, nullptr);
    WriteFile(file, "\r\n", 2, &written, nullptr);
    CloseHandle(file);
}

}  // namespace

extern "C" {

__declspec(dllexport) DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR, LPDWORD)
{
    record("", " called GetFileVersionInfoSizeA");
    return 0;
}

__declspec(dllexport) BOOL WINAPI GetFileVersionInfoA(LPCSTR, DWORD, DWORD, LPVOID)
{
    record("", " called GetFileVersionInfoA");
    return FALSE;
}

__declspec(dllexport) BOOL WINAPI VerQueryValueA(LPCVOID, LPCSTR, LPVOID*, PUINT)
{
    record("", " called VerQueryValueA");
    return FALSE;
}

__declspec(dllexport) DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR, LPDWORD) { return 0; }
__declspec(dllexport) BOOL WINAPI GetFileVersionInfoW(LPCWSTR, DWORD, DWORD, LPVOID) { return FALSE; }
__declspec(dllexport) BOOL WINAPI VerQueryValueW(LPCVOID, LPCWSTR, LPVOID*, PUINT) { return FALSE; }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        self = instance;
        record("loaded by ", "");
    }
    return TRUE;
}

}  // extern "C"

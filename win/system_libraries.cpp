#include "system_libraries.h"

#include <windows.h>

#include "buffer_sizes.h"

// The functions taken from each library, one line each: the library, the
// name, and the bytes of arguments (the "@N" of a 32-bit stdcall name).
#define POLVEX_SYSTEM_IMPORTS(X)                   \
    X(SYSTEM_WININET, HttpOpenRequestA, 32)        \
    X(SYSTEM_WININET, HttpQueryInfoA, 20)          \
    X(SYSTEM_WININET, HttpSendRequestA, 20)        \
    X(SYSTEM_WININET, InternetCloseHandle, 4)      \
    X(SYSTEM_WININET, InternetConnectA, 32)        \
    X(SYSTEM_WININET, InternetCrackUrlA, 16)       \
    X(SYSTEM_WININET, InternetOpenA, 20)           \
    X(SYSTEM_WININET, InternetCombineUrlA, 20)     \
    X(SYSTEM_WININET, InternetQueryDataAvailable, 16) \
    X(SYSTEM_WININET, InternetReadFile, 16)        \
    X(SYSTEM_WININET, InternetSetOptionA, 16)      \
    X(SYSTEM_VERSION, GetFileVersionInfoA, 16)     \
    X(SYSTEM_VERSION, GetFileVersionInfoSizeA, 8)  \
    X(SYSTEM_VERSION, VerQueryValueA, 16)          \
    X(SYSTEM_WINMM, timeBeginPeriod, 4)            \
    X(SYSTEM_WINMM, timeEndPeriod, 4)              \
    POLVEX_SIGNER_IMPORTS(X)

// Only a build that checks the installer's signer loads wintrust and crypt32.
#ifdef POLVEX_CHECK_INSTALLER_SIGNER
#define POLVEX_SIGNER_IMPORTS(X)                      \
    X(SYSTEM_WINTRUST, WinVerifyTrust, 12)            \
    X(SYSTEM_WINTRUST, WTHelperProvDataFromStateData, 4) \
    X(SYSTEM_WINTRUST, WTHelperGetProvSignerFromChain, 16) \
    X(SYSTEM_CRYPT32, CertDuplicateCertificateContext, 4) \
    X(SYSTEM_CRYPT32, CertFreeCertificateContext, 4) \
    X(SYSTEM_CRYPT32, CertGetEnhancedKeyUsage, 16)   \
    X(SYSTEM_CRYPT32, CertVerifyRevocation, 28)      \
    X(SYSTEM_CRYPT32, CertVerifyTimeValidity, 8)     \
    X(SYSTEM_CRYPT32, CryptDecodeObject, 28)         \
    POLVEX_HELD_CRYPTNET(X)
// Crypt32 loads the revocation checker, cryptnet, for each check and frees
// it after; wine's leaves a request that timed out pending, whose callback
// then runs in the freed library (at the latest when the program ends) and
// crashes the program. Taking a function of it keeps it loaded.
#define POLVEX_HELD_CRYPTNET(X) X(SYSTEM_CRYPTNET, CertDllVerifyRevocation, 28)
#else
#define POLVEX_SIGNER_IMPORTS(X)
#endif

// Each function's slot bears the name the compiler calls a declared import
// through, and a jump through the slot bears the function's own name for
// headers that do not declare it an import; the linker drops the jumps
// nothing calls.
#define POLVEX_STRING(x) #x
#if defined(_WIN64)
#define POLVEX_SLOT_SYMBOL(name, bytes) "__imp_" #name
#define POLVEX_THUNK_SYMBOL(name, bytes) #name
#define POLVEX_JUMP(name, bytes) "jmp *" POLVEX_SLOT_SYMBOL(name, bytes) "(%rip)"
#else
#define POLVEX_SLOT_SYMBOL(name, bytes) "__imp__" #name "@" POLVEX_STRING(bytes)
#define POLVEX_THUNK_SYMBOL(name, bytes) "_" #name "@" POLVEX_STRING(bytes)
#define POLVEX_JUMP(name, bytes) "jmp *" POLVEX_SLOT_SYMBOL(name, bytes)
#endif

#define POLVEX_DEFINE_SLOT(library, name, bytes)                                   \
    extern "C" void* polvex_slot_##name asm(POLVEX_SLOT_SYMBOL(name, bytes));       \
    void* polvex_slot_##name = nullptr;                                             \
    extern "C" __attribute__((naked)) void polvex_thunk_##name()                     \
        asm(POLVEX_THUNK_SYMBOL(name, bytes));                                      \
    void polvex_thunk_##name() { asm(POLVEX_JUMP(name, bytes)); }

POLVEX_SYSTEM_IMPORTS(POLVEX_DEFINE_SLOT)

namespace {

// Their files in the system folder, in the order of SystemLibrary.
const wchar_t* const LIBRARY_FILES[SYSTEM_LIBRARY_COUNT] = {
    L"wininet.dll", L"version.dll", L"winmm.dll", L"wintrust.dll", L"crypt32.dll",
    L"cryptnet.dll"};

struct SystemImport {
    SystemLibrary library;
    const char* name;
    void** slot;
};

#define POLVEX_IMPORT_ROW(library, name, bytes) {library, #name, &polvex_slot_##name},
const SystemImport IMPORTS[] = {POLVEX_SYSTEM_IMPORTS(POLVEX_IMPORT_ROW)};

// One bit a library: those loaded with every function taken.
unsigned ready_libraries;

// By its full path, and its own imports from the system folder first:
// LOAD_WITH_ALTERED_SEARCH_PATH does that with or without the loader
// update that brought LOAD_LIBRARY_SEARCH_SYSTEM32.
HMODULE load_from(const wchar_t* folder, const wchar_t* file)
{
    wchar_t path[SYSTEM_DIR_SIZE + 16];
    int len;
    if (folder) {
        len = lstrlenW(folder);
        if (len >= static_cast<int>(SYSTEM_DIR_SIZE))
            return nullptr;
        lstrcpynW(path, folder, static_cast<int>(SYSTEM_DIR_SIZE));
    } else {
        len = static_cast<int>(GetSystemDirectoryW(path, SYSTEM_DIR_SIZE));
        if (len == 0 || len >= static_cast<int>(SYSTEM_DIR_SIZE))
            return nullptr;
    }
    path[len] = L'\\';
    // The file names are short: the copy is never cut.
    lstrcpynW(path + len + 1, file, static_cast<int>(sizeof path / sizeof *path) - len - 1);
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

void restrict_library_search()
{
    // Looked up: Windows Vista and 7 without the 2011 loader update lack it.
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesCall)(DWORD);
    FARPROC found = GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
    if (found)
        reinterpret_cast<SetDefaultDllDirectoriesCall>(reinterpret_cast<void*>(found))(
            LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Without it, this at least takes the current folder out of the search.
    SetDllDirectoryA("");
}

void load_system_libraries(const wchar_t* folder)
{
    HMODULE modules[SYSTEM_LIBRARY_COUNT] = {};
    unsigned tried = 0;
    unsigned missing = 0;
    // A library is loaded when the table first names it: one without
    // functions taken is never loaded.
    for (const SystemImport& import : IMPORTS) {
        unsigned bit = 1u << import.library;
        if (!(tried & bit)) {
            tried |= bit;
            modules[import.library] = load_from(folder, LIBRARY_FILES[import.library]);
        }
        FARPROC function =
            modules[import.library] ? GetProcAddress(modules[import.library], import.name) : nullptr;
        // Emptied when missing: a call past a missing test fails at once.
        *import.slot = reinterpret_cast<void*>(function);
        if (!function)
            missing |= bit;
    }
    ready_libraries = tried & ~missing;
}

bool system_library_ready(SystemLibrary library)
{
    return (ready_libraries >> library) & 1u;
}

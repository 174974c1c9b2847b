// The system libraries that are not known DLLs (WinInet, version.dll, winmm
// and the like). Windows looks for a library that a program imports by name
// in the program's own folder first, where a web page can drop one beside a
// downloaded program; these are therefore not imported but loaded from the
// system folder once, at start, and their functions taken by name.
//
// The call sites stay ordinary Win32 calls: the import slots they call
// through are defined in system_libraries.cpp and filled by the loader, so
// that a function the table lacks fails the link instead of coming back
// into the import table. A library or one of its functions that cannot be
// had leaves the library not ready, and each step that uses it tests that
// at its entry and fails as it does when its first call fails.
#pragma once

enum SystemLibrary {
    SYSTEM_WININET,
    SYSTEM_VERSION,
    SYSTEM_WINMM,
    SYSTEM_WINTRUST,
    SYSTEM_CRYPT32,
    SYSTEM_CRYPTNET,
    SYSTEM_LIBRARY_COUNT
};

// Keeps the program's folder and the current folder out of every later
// search for a library: the first thing the program does.
void restrict_library_search();

// Loads each library that the table names from folder, the system folder
// when null, and fills its functions' slots. Another folder is for tests.
void load_system_libraries(const wchar_t* folder = nullptr);

// Whether library was loaded with every function the program takes from it.
bool system_library_ready(SystemLibrary library);

#include <windows.h>

#include "run.h"
#include "system_libraries.h"

// The program's own entry point, in place of the runtime's start-up code:
// msvcrt.dll initialises itself when it is loaded, the program has no
// global objects to construct and reads no arguments or environment, and
// the process exit code is always 0. Half of the runtime's start-up code
// served a console, arguments and atexit lists this program never uses.
// The loader gives the entry point a stack aligned to 4 bytes only.
extern "C" __attribute__((force_align_arg_pointer)) void __stdcall polvex_entry()
{
    // Before any library that is not a known DLL is loaded.
    restrict_library_search();
    load_system_libraries();
    run_polvex(GetModuleHandleA(nullptr), nullptr);
    ExitProcess(0);
}

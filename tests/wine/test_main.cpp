// The Windows-side test binary's entry point.
#include <gtest/gtest.h>
#include <stdio.h>
#include <windows.h>

#include "system_libraries.h"

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    // As the program does first: the code under test calls WinInet,
    // version.dll and winmm through the slots this fills.
    restrict_library_search();
    load_system_libraries();
    int result = RUN_ALL_TESTS();
    fflush(stdout);
    fflush(stderr);
    // Under wine, ending a process whose threads used WinInet and windows
    // sometimes takes a minute or more while other wine programs run (the
    // results are all printed by then). The tests leave nothing that needs
    // the orderly end, so the process ends at once.
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(result));
    return result;
}

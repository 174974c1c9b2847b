/* A library that only carries its resources (a version resource, or none):
   the tests read them, and the end-to-end runs place it where the package
   survey looks for a system library. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}

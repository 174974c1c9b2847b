#include <windows.h>
#include <math.h>

#include "run.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous_instance, LPSTR, int)
{
    return run_polvex(instance, previous_instance);
}

// The runtime's own handler of math errors prints to a console that this
// program does not have, and brings its texts and printf along; the program
// does no floating-point math, so it keeps the default result instead.
extern "C" int __cdecl _matherr(struct _exception*)
{
    return 0;
}

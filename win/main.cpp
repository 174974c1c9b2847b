#include "app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous_instance, LPSTR, int)
{
    return run_polvex(instance, previous_instance);
}

// The benchmarks' clock.
#pragma once
#include <windows.h>

// Seconds from an arbitrary start, at the performance counter's resolution.
inline double seconds_now()
{
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

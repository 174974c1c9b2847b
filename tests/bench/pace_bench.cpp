// Where the download worker's time per read goes: the one-millisecond pause
// as the system keeps it, and the read of 4096 bytes itself, over WinInet
// from a local server. Prints microseconds per read.
#include <stdio.h>
#include <windows.h>
#include <mmsystem.h>
#include <wininet.h>

#include "bench_clock.h"

namespace {

// Reads the whole body at url in reads of 4096 bytes, pausing 1 ms after
// each when pause is set. Returns the reads made, and the seconds taken.
int read_body(const char* url, bool pause, double* seconds)
{
    static char chunk[4096];
    HINTERNET session = InternetOpenA("Polvex Download Manager", INTERNET_OPEN_TYPE_PRECONFIG,
                                      nullptr, nullptr, 0);
    HINTERNET request = InternetOpenUrlA(session, url, nullptr, 0,
                                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (!request)
        return 0;
    int reads = 0;
    double start = seconds_now();
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(request, chunk, sizeof chunk, &got))
            break;
        ++reads;
        if (got == 0)
            break;
        if (pause)
            Sleep(1);
    }
    *seconds = seconds_now() - start;
    InternetCloseHandle(request);
    InternetCloseHandle(session);
    return reads;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: pace_bench URL\n");
        return 2;
    }
    timeBeginPeriod(1);
    const int pauses = 2000;
    double start = seconds_now();
    for (int i = 0; i < pauses; ++i)
        Sleep(1);
    double pause_us = (seconds_now() - start) * 1e6 / pauses;
    printf("Sleep(1): %.0f us\n", pause_us);
    for (int pause = 0; pause <= 1; ++pause) {
        double seconds = 0;
        int reads = read_body(argv[1], pause != 0, &seconds);
        if (!reads) {
            fprintf(stderr, "pace_bench: cannot open %s\n", argv[1]);
            return 1;
        }
        printf("%s: %d reads, %.0f us per read, %.2f s\n",
               pause ? "reads with the pause" : "reads alone", reads, seconds * 1e6 / reads,
               seconds);
    }
    timeEndPeriod(1);
    return 0;
}

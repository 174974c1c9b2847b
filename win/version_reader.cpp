#include <stdlib.h>

#include "app.h"

int read_file_version(void*, const char* path, int* major, int* minor)
{
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0)
        return 0;
    void* block = malloc(size);
    if (!block)
        return 0;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT info_size = 0;
    int ok = GetFileVersionInfoA(path, 0, size, block) &&
             VerQueryValueA(block, "\\", reinterpret_cast<void**>(&info), &info_size) && info &&
             info_size >= sizeof *info;
    if (ok) {
        *major = HIWORD(info->dwFileVersionMS);
        *minor = LOWORD(info->dwFileVersionMS);
    }
    free(block);
    return ok;
}

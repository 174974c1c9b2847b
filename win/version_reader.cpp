#include "prepare_download.h"

#include <stdlib.h>

#include "owners.h"
#include "system_libraries.h"

int read_file_version(void*, const char* path, int* major, int* minor)
{
    if (!system_library_ready(SYSTEM_VERSION))
        return 0;
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0)
        return 0;
    HeapBlock block(malloc(size));
    if (!block)
        return 0;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT info_size = 0;
    int ok = GetFileVersionInfoA(path, 0, size, block.get()) &&
             VerQueryValueA(block.get(), "\\", reinterpret_cast<void**>(&info), &info_size) &&
             info && info_size >= sizeof *info;
    if (ok) {
        *major = HIWORD(info->dwFileVersionMS);
        *minor = LOWORD(info->dwFileVersionMS);
    }
    return ok;
}

#include "manifest.h"

#include <string.h>

#include "text.h"

int read_manifest_size(const char* text, int32_t* size)
{
    return read_decimal_int32(text, size);
}

int parse_manifest(char* reply, char** ticker_start, int32_t* total_bytes)
{
    char* line_end = strchr(reply, '\n');
    if (!line_end)
        return 0;
    *line_end = '\0';
    *ticker_start = line_end + 1;
    int32_t size = 0;
    if (!read_manifest_size(reply, &size) || size <= 0)
        return 0;
    *total_bytes = size;
    return 1;
}

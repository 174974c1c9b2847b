#include "manifest.h"

#include <string.h>

#include "text.h"

int read_manifest_size(const char* text, int32_t* size)
{
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    int64_t magnitude = 0;
    for (; is_ascii_digit(*p); ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > static_cast<int64_t>(INT32_MAX) + 1)
            return 0;
    }
    int64_t value = negative ? -magnitude : magnitude;
    if (value > INT32_MAX)
        return 0;
    *size = static_cast<int32_t>(value);
    return 1;
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

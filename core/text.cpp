#include "text.h"

#include <string.h>

int copy_text(char* dst, size_t dst_size, const char* src)
{
    if (dst_size == 0)
        return 0;
    size_t len = strlen(src);
    if (len >= dst_size) {
        dst[0] = '\0';
        return 0;
    }
    memcpy(dst, src, len + 1);
    return 1;
}

int append_text(char* dst, size_t dst_size, const char* src)
{
    size_t used = strnlen(dst, dst_size);
    if (used >= dst_size)
        return 0;
    size_t len = strlen(src);
    if (len >= dst_size - used)
        return 0;
    memcpy(dst + used, src, len + 1);
    return 1;
}

size_t copy_text_cut(char* dst, size_t dst_size, const char* src, size_t src_len)
{
    if (dst_size == 0)
        return 0;
    size_t len = strnlen(src, src_len);
    if (len > dst_size - 1)
        len = dst_size - 1;
    memcpy(dst, src, len);
    dst[len] = '\0';
    return len;
}

int is_ascii_digit(char c)
{
    return c >= '0' && c <= '9';
}

int is_ascii_alnum(char c)
{
    return is_ascii_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

static char lower_ascii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

int starts_with_ignoring_case(const char* text, const char* prefix)
{
    for (; *prefix; ++text, ++prefix) {
        if (lower_ascii(*text) != lower_ascii(*prefix))
            return 0;
    }
    return 1;
}

int read_decimal_int32(const char* text, int32_t* value)
{
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    // One past INT32_MAX is where a negative number may end; the magnitude
    // stops there, so it never grows past 64 bits either.
    int64_t magnitude = 0;
    for (; is_ascii_digit(*p); ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > static_cast<int64_t>(INT32_MAX) + 1)
            return 0;
    }
    int64_t result = negative ? -magnitude : magnitude;
    if (result > INT32_MAX)
        return 0;
    *value = static_cast<int32_t>(result);
    return 1;
}

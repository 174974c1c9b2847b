#include "reply_record.h"

#include <string.h>

#include "text.h"

const char* find_field(const char* text, const char* name)
{
    size_t name_len = strlen(name);
    if (name_len == 0)
        return nullptr;
    const char* search = text;
    for (;;) {
        const char* hit = strstr(search, name);
        if (!hit)
            return nullptr;
        bool starts_field = hit == text || hit[-1] == '|';
        if (starts_field && hit[name_len] == '=') {
            // A name with a character other than a letter or digit never
            // reaches its '=' here, so it is never found.
            const char* p = hit;
            while (is_ascii_alnum(*p))
                ++p;
            return *p == '=' ? p + 1 : nullptr;
        }
        // Step one byte on, so that overlapping occurrences are seen too.
        search = hit + 1;
        if (*search == '\0')
            return nullptr;
    }
}

int get_int_field(const char* reply, const char* name, int32_t* value)
{
    if (!reply)
        return 0;
    const char* start = find_field(reply, name);
    if (!start)
        return 0;
    const char* end = start;
    while (is_ascii_digit(*end) || *end == '-')
        ++end;
    if (*end != '|' && *end != '\0')
        return 0;

    // Only digits and '-' get here, so the reader's white space and '+'
    // never apply; it reads as atoi does ("12-3" is 12, "-" is 0).
    int32_t result = 0;
    if (!read_decimal_int32(start, &result))
        return 0;
    if (value)
        *value = result;
    return 1;
}

size_t expanded_value_size(const char* value)
{
    size_t needed = 1;
    for (const char* p = value; *p && *p != '|'; ++p)
        needed += *p == '\n' ? 2 : 1;
    return needed;
}

int get_string_field(const char* reply, const char* name, char* dest, size_t dest_size)
{
    if (!reply)
        return 0;
    const char* value = find_field(reply, name);
    if (!value)
        return 0;
    if (!dest)
        return 1;

    if (expanded_value_size(value) > dest_size)
        return 0;

    char* out = dest;
    for (const char* p = value; *p && *p != '|'; ++p) {
        if (*p == '\n')
            *out++ = '\r';
        *out++ = *p;
    }
    *out = '\0';
    return 1;
}

int is_url_value(const char* value)
{
    // Schemes are case-insensitive: "HTTP://" is as good as "http://", and
    // the platform's client asks both.
    if (!starts_with_ignoring_case(value, "http:") && !starts_with_ignoring_case(value, "https:"))
        return 0;
    for (const char* p = value; *p && *p != '|'; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c <= ' ' || c == 0x7F)
            return 0;
    }
    return 1;
}

int get_url_field(const char* reply, const char* name, char* dest, size_t dest_size)
{
    if (!reply)
        return 0;
    const char* value = find_field(reply, name);
    if (!value || !is_url_value(value))
        return 0;
    return get_string_field(reply, name, dest, dest_size);
}

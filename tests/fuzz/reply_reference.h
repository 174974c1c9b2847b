// Reply record reading written out directly from the record's rules, over
// std::string, for the targets to compare the program's readers with.
#pragma once
#include <stdint.h>

#include <string>

namespace reference {

inline bool is_alnum(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Offset of the named field's value in text, or npos. The first occurrence
// of the name that starts the text or follows a '|' and is followed by '='
// decides; from its start every letter and digit is passed over, and only
// an '=' reached that way opens a value.
inline size_t find_field(const std::string& text, const std::string& name)
{
    if (name.empty())
        return std::string::npos;
    for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
        bool starts_field = at == 0 || text[at - 1] == '|';
        if (!starts_field || at + name.size() >= text.size() || text[at + name.size()] != '=')
            continue;
        size_t p = at;
        while (p < text.size() && is_alnum(text[p]))
            ++p;
        return p < text.size() && text[p] == '=' ? p + 1 : std::string::npos;
    }
    return std::string::npos;
}

// The raw value at offset: up to the next '|' or the end.
inline std::string raw_value(const std::string& text, size_t offset)
{
    size_t end = text.find('|', offset);
    return text.substr(offset, end == std::string::npos ? std::string::npos : end - offset);
}

// An integer field: digits and '-' only, read as atoi reads it, inside the
// signed 32-bit range.
inline bool int_field(const std::string& text, const std::string& name, int32_t* value)
{
    size_t offset = find_field(text, name);
    if (offset == std::string::npos)
        return false;
    std::string raw = raw_value(text, offset);
    size_t after = offset + raw.size();
    if (raw.find_first_not_of("0123456789-") != std::string::npos)
        return false;
    if (after < text.size() && text[after] != '|')
        return false;
    bool negative = !raw.empty() && raw[0] == '-';
    size_t digits_start = negative ? 1 : 0;
    size_t digits_end = raw.find('-', digits_start);
    std::string digits = raw.substr(digits_start, digits_end == std::string::npos
                                                      ? std::string::npos
                                                      : digits_end - digits_start);
    size_t first = digits.find_first_not_of('0');
    digits = first == std::string::npos ? "" : digits.substr(first);
    if (digits.size() > 10)
        return false;
    int64_t magnitude = digits.empty() ? 0 : std::stoll(digits);
    int64_t result = negative ? -magnitude : magnitude;
    if (result > INT32_MAX || result < INT32_MIN)
        return false;
    *value = static_cast<int32_t>(result);
    return true;
}

// A string field's value with every LF written as CR LF.
inline bool string_field(const std::string& text, const std::string& name, std::string* value)
{
    size_t offset = find_field(text, name);
    if (offset == std::string::npos)
        return false;
    std::string expanded;
    for (char c : raw_value(text, offset)) {
        if (c == '\n')
            expanded += '\r';
        expanded += c;
    }
    *value = expanded;
    return true;
}

}  // namespace reference

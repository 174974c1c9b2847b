// The reply record read another way than the program reads it, over
// std::string, for the targets to compare the program's readers with.
//
// The program searches the text for the name. Here the text is cut at every
// '|' into pieces instead; a piece is a field when its leading run of ASCII
// letters and digits (its name, possibly empty) is followed by '=', and the
// field's value runs from after that '=' to the end of the piece. Then:
// - a name of letters and digits only is the first field of that name, so a
//   name inside a value, a longer name or another case never matches;
// - the empty name is never found (a piece "=v" is a field without a name);
// - a name that holds another character is found only when its first such
//   character is '=': written A=R (A letters and digits, maybe empty), it
//   finds the first field named A whose value, read on past any '|', starts
//   with R and '='; "a=b" finds "b=c" in "a=b=c". Any other character, as
//   in "s_url", means it is never found.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

namespace reference {

inline bool is_alnum(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

struct Field {
    std::string name;
    size_t value_at;  // offset of the value's first byte in the text
    std::string value;
};

// The fields of the record, in order.
inline std::vector<Field> fields(const std::string& text)
{
    std::vector<Field> found;
    size_t start = 0;
    for (;;) {
        size_t end = text.find('|', start);
        std::string piece = text.substr(start, end == std::string::npos ? end : end - start);
        size_t name_end = 0;
        while (name_end < piece.size() && is_alnum(piece[name_end]))
            ++name_end;
        if (name_end < piece.size() && piece[name_end] == '=')
            found.push_back({piece.substr(0, name_end), start + name_end + 1,
                             piece.substr(name_end + 1)});
        if (end == std::string::npos)
            return found;
        start = end + 1;
    }
}

// The field that a lookup of name finds, or null.
inline const Field* lookup(const std::vector<Field>& record, const std::string& text,
                           const std::string& name)
{
    if (name.empty())
        return nullptr;
    size_t other = 0;
    while (other < name.size() && is_alnum(name[other]))
        ++other;
    if (other < name.size() && name[other] != '=')
        return nullptr;
    std::string field_name = name.substr(0, other);
    // Empty for a plain name: then any value will do.
    std::string value_opening = other < name.size() ? name.substr(other + 1) + "=" : "";
    for (const Field& field : record) {
        if (field.name == field_name &&
            text.compare(field.value_at, value_opening.size(), value_opening) == 0)
            return &field;
    }
    return nullptr;
}

// Offset of the named field's value in text, or npos.
inline size_t find_field(const std::string& text, const std::string& name)
{
    std::vector<Field> record = fields(text);
    const Field* field = lookup(record, text, name);
    return field ? field->value_at : std::string::npos;
}

// The value of the field found, up to the next '|', or false.
inline bool raw_field(const std::string& text, const std::string& name, std::string* value)
{
    std::vector<Field> record = fields(text);
    const Field* field = lookup(record, text, name);
    if (!field)
        return false;
    *value = field->value;
    return true;
}

// An integer field: digits and '-' only, read as atoi reads it (an optional
// '-', then the digits before any further '-'), inside the signed 32-bit
// range. The first field found decides, malformed or not.
inline bool int_field(const std::string& text, const std::string& name, int32_t* value)
{
    std::string raw;
    if (!raw_field(text, name, &raw))
        return false;
    if (raw.find_first_not_of("0123456789-") != std::string::npos)
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
    std::string raw;
    if (!raw_field(text, name, &raw))
        return false;
    std::string expanded;
    for (char c : raw) {
        if (c == '\n')
            expanded += '\r';
        expanded += c;
    }
    *value = expanded;
    return true;
}

// A URL field's value, when it is a URL the program asks: the text before
// its first ':' spells http or https, letters in either case, and every
// byte is a printable ASCII character other than the space, or lies beyond
// ASCII. Any other value counts as no field at all.
inline bool url_field(const std::string& text, const std::string& name, std::string* value)
{
    std::string raw;
    if (!raw_field(text, name, &raw))
        return false;
    size_t colon = raw.find(':');
    if (colon == std::string::npos)
        return false;
    std::string scheme;
    for (char c : raw.substr(0, colon))
        scheme += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
    if (scheme != "http" && scheme != "https")
        return false;
    for (char c : raw) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x80 && (byte <= ' ' || byte == 0x7F))
            return false;
    }
    *value = raw;
    return true;
}

}  // namespace reference

#include "cli/printing.h"

#include <stdio.h>

std::string hex_byte(unsigned char byte)
{
    const char digits[] = "0123456789abcdef";
    return std::string{digits[byte >> 4], digits[byte & 15]};
}

std::string printable(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\\')
            out += "\\\\";
        else if (c < ' ' || c >= 0x7F)
            out += "\\x" + hex_byte(c);
        else
            out += static_cast<char>(c);
    }
    return out;
}

std::string json_string(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < ' ' || c >= 0x7F) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

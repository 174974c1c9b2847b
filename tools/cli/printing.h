// How dlmtool shows text that it did not write itself: escaped for a
// terminal, or as a JSON string.
#pragma once
#include <string>

// text as one line that a terminal shows as it is: line ends, tabs and
// the backslash escaped as in C, every other byte outside printable ASCII
// as \xHH (a site's bytes are in a Windows code page in any case).
std::string printable(const std::string& text);

// text as a JSON string, quotes included.
std::string json_string(const std::string& text);

// Two lowercase hexadecimal digits.
std::string hex_byte(unsigned char byte);

// The lines and words of a site configuration.
#pragma once
#include <functional>
#include <string>

#include "site/config/config_reader.h"

// A line's keyword and what follows it.
struct KeywordLine {
    std::string keyword;
    std::string args;       // after the first separator
    bool has_args = false;  // a separator follows the keyword
};

// Words are separated by a space or a tab.
extern const char SEPARATORS[];

// Splits "head rest" at the first separator. Returns false when there is
// none (rest is then empty).
bool split_first(const std::string& text, std::string* head, std::string* rest);

// Whether a line says nothing: blank, or a comment ('#' first).
bool is_blank_or_comment(const std::string& text);

// Hands each line of text to read, counting reader.line from 1: without a
// byte order mark before the first, and without the CR of a CR LF end.
// reader.line is 0 again at the end.
void for_each_line(const std::string& text, ConfigReader& reader,
                   const std::function<void(const std::string&)>& read);

// The one argument of keyword, and nothing after it; what names it.
std::string single_argument(const ConfigReader& reader, const std::string& keyword,
                            const std::string& args, bool has_args, const std::string& what);

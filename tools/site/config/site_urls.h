// What a URL of the download site may be: what a reply can carry and the
// program take, and whether it is relative to the site's base.
#pragma once
#include <string>

// Characters that no URL of the site may hold: '|' ends a reply value, and
// control characters and spaces cannot travel in a request line.
bool is_representable_url(const std::string& url);
extern const char UNREPRESENTABLE[];  // the complaint about one

// The program takes any other URL in a reply as absent.
bool is_not_program_url(const std::string& value);
extern const char NOT_PROGRAM_URL[];  // the complaint about one

bool lacks_scheme(const std::string& value);    // no "://": relative to base
bool starts_at_root(const std::string& value);  // '/' first

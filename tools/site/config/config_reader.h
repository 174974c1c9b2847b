// One site configuration being read: the record that the reader's parts
// share, and how they report a mistake. The parts: config_words.h (lines
// and words), value_rules.h (what a value must be), config_keywords.h and
// config_sources.h (each keyword's rule), reply_graph.h (where the reply
// pages lead); config_file.h puts them together.
#pragma once
#include <map>
#include <string>

#include "site/config/site_config.h"

// What the reader has seen so far, keeping what is needed for messages.
struct ConfigReader {
    std::string name;    // of the configuration, in messages
    std::string folder;  // relative file names are resolved against it
    int line = 0;        // being read; 0 once all are read
    int base_line = 0;
    int directory_line = 0;
    int placement_line = 0;
    std::map<std::string, int> reply_lines;  // by reply path
    SiteConfig config;
};

// Throws ToolError with "name:line: " in front of message; the line being
// read unless line is given (none when 0).
[[noreturn]] void config_error(const ConfigReader& reader, const std::string& message,
                               int line = -1);

// Refuses what was given before, on first_line (0: not given).
void check_first(const ConfigReader& reader, const std::string& what, int first_line);

// Each keyword's rule: a line of a site configuration read into the
// configuration, and what the whole must hold once all lines are read.
#pragma once
#include <string>

#include "site/config/config_reader.h"

// Reads one line (blank lines and comments say nothing).
void read_config_line(ConfigReader& reader, const std::string& text);

// After the last line: what must have been given, and how it fits together
// (the reply graph apart: reply_graph.h).
void finish_config(ConfigReader& reader);

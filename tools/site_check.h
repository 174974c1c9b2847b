// dlmtool site check: asks a download site what the program would ask it,
// and checks every package that the site offers.
#pragma once
#include <ostream>
#include <string>
#include <vector>

#include "tool_support.h"
#include "web_client.h"

extern const char site_check_usage[];

// Resolves the download directory from the two bootstrap URLs with the
// program's own resolution, then fetches and parses each of the 22
// manifests and checks that its installer is served whole. Prints the
// chain, one line per package and a summary to out. Returns 0 when every
// package is fine, 1 otherwise.
int check_site(const std::string& bootstrap_1, const std::string& bootstrap_2, WebClient& web,
               std::ostream& out);

// One or two bootstrap URLs as the positional arguments.
int site_check_command(const ParsedArgs& args);

// A table of commands and how the tool runs one from its command line:
// help, the count of arguments, and the exit code of each failure.
#pragma once
#include <stddef.h>

#include <set>
#include <string>
#include <vector>

#include "cli/args.h"

const size_t ANY_NUMBER = static_cast<size_t>(-1);

// A command, what it takes and how it is explained. A command runs only
// with its number of positional arguments.
struct NamedCommand {
    const char* name;
    int (*run)(const ParsedArgs& args);
    const char* usage;
    std::set<std::string> value_options;
    size_t min_positional;
    size_t max_positional;
    // Why a count is refused; null: the first argument too many is named.
    const char* count_error;
    std::set<std::string> flag_options = {};
};

// The whole tool, its commands in a table: what it prints for help, its
// version, and the commands whose names are two words.
struct ToolTable {
    const NamedCommand* commands;
    size_t count;
    const char* usage;       // of the whole tool
    const char* version;     // printed by --version after "dlmtool "
    const char* group;       // first word of the two-word commands ("site")
    const char* group_usage; // of that word alone
};

// Runs the command that args (the command line without the tool's name)
// names; returns the exit code: 0, 1 for a failure, 2 for a usage mistake.
int run_tool(const ToolTable& tool, const std::vector<std::string>& args);

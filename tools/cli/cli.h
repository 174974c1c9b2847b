// cli/: how dlmtool meets whoever runs it. Here: the failures that end a
// command and the exit code of each; args.h reads a command line,
// suggestion.h names the nearest word to a mistyped one, printing.h shows
// text (escaped, or as JSON), progress_line.h the progress of long work,
// and command_table.h runs a table of commands.
#pragma once
#include <stdexcept>

// A failure that ends the command: the message goes to stderr, exit 1.
struct ToolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Arguments the command cannot make sense of: the message and the usage go
// to stderr, exit 2.
struct UsageError : ToolError {
    using ToolError::ToolError;
};

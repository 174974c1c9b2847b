// dlmtool reply: one reply record, enciphered as the servers send it.
#pragma once
#include <string>
#include <vector>

#include "files/files.h"

extern const char reply_usage[];

// Joins "name=value" arguments with '|' into a reply record. Throws
// ToolError for a field the program could not read back: a name that is
// empty or holds anything but ASCII letters and digits, or a value holding
// '|', which would end the value early.
std::string build_reply_record(const std::vector<std::string>& fields);

int reply_command(const ParsedArgs& args);

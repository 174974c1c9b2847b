// A reply record made of fields given one by one, as dlmtool reply takes
// them.
#pragma once
#include <string>
#include <vector>

// Joins "name=value" arguments with '|' into a reply record. Throws
// ToolError for a field the program could not read back: a name that is
// empty or holds anything but ASCII letters and digits, or a value holding
// '|', which would end the value early.
std::string build_reply_record(const std::vector<std::string>& fields);

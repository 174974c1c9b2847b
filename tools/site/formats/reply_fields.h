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

// Why the download directory a record names (its sDlurl, as the program
// reads it) cannot serve the program: a URL it would use that does not end
// with '/', so that the installer's name would be joined to its last word.
// Empty when it can, or when the program would take it as absent.
std::string download_dir_problem(const std::string& record);

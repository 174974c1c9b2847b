// A file that should hold a Windows program, read and checked as one.
#pragma once
#include <string>

// The file's bytes, refusing what is not a regular readable file.
std::string read_program_file(const std::string& path);

// Refuses (ToolError) a file that cannot be read or is not a Windows
// program (no MZ and PE headers).
void check_program(const std::string& path);

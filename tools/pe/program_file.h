// A file that should hold a Windows program, read and checked as one.
#pragma once
#include <string>

// The file's bytes, refusing what is not a regular readable file.
std::string read_program_file(const std::string& path);

// The bytes of a Windows program; refuses (ToolError) a file that cannot
// be read or is not one (no MZ and PE headers).
std::string read_windows_program(const std::string& path);

// The same, for a program that is only checked.
void check_program(const std::string& path);

// files/: dlmtool's files. Here: reading a file and making folders;
// output.h is the one safe way to write an output; descriptor.h holds the
// open descriptor and the piecewise read that both build on.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

// The whole content of a file.
std::string read_file(const std::string& path);

// The content of the first file named in paths, or of standard input when
// paths is empty.
std::string read_input(const std::vector<std::string>& paths);

// Size of a regular file that can be opened for reading.
uint64_t readable_file_size(const std::string& path);

// Creates a folder and its parents; existing ones are fine, and so is the
// empty path (the current folder).
void make_directories(const std::string& path);

// What every dlmtool command shares: its errors, its arguments and its files.
#pragma once
#include <stdint.h>

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

// A failure that ends the command: the message goes to stderr, exit 1.
struct ToolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Arguments the command cannot make sense of: the message and the usage go
// to stderr, exit 2.
struct UsageError : ToolError {
    using ToolError::ToolError;
};

// A command line split into options and the arguments that are not options.
struct ParsedArgs {
    std::map<std::string, std::string> options;  // "--id" -> "X"
    std::vector<std::string> positional;
    bool help = false;

    bool has(const std::string& option) const { return options.count(option) != 0; }
    std::string get(const std::string& option) const;
};

// Splits args: "--help" anywhere asks for help; each of value_options takes
// the next argument as its value; any other argument starting with '-' is
// refused; the rest are positional, in order.
ParsedArgs parse_args(const std::vector<std::string>& args,
                      const std::set<std::string>& value_options);

// The whole content of a file.
std::string read_file(const std::string& path);

// Replaces path with data: written beside it, then renamed over it, so that
// a file hard-linked to the old one keeps its content and a reader never
// sees half a file.
void write_file(const std::string& path, const std::string& data);

// Writes data to path, or to standard output when path is empty.
void write_output(const std::string& path, const std::string& data);

// Size of a regular file that can be opened for reading.
uint64_t readable_file_size(const std::string& path);

// Creates a folder and its parents; existing ones are fine.
void make_directories(const std::string& path);

// Copies a file (through a file beside to, renamed over it).
void copy_file(const std::string& from, const std::string& to);

// Makes to another name of from, replacing to. Returns false when the file
// system cannot do it (to is then absent).
bool hard_link(const std::string& from, const std::string& to);

// "a/b/c.txt" -> "a/b"; "c.txt" -> ".".
std::string parent_directory(const std::string& path);

// Joins two paths with one '/'; an absolute second path stands alone.
std::string join_path(const std::string& dir, const std::string& path);

std::string system_error_text();  // strerror(errno)

// What every dlmtool command shares: its errors, its arguments and its files.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
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

// The value of option as a whole number from 1 to largest; fallback when
// the option is not given.
uint64_t number_option(const ParsedArgs& args, const std::string& option, uint64_t fallback,
                       uint64_t largest);

// Splits args: "--help" anywhere asks for help; each of value_options takes
// the next argument as its value, or the text after '=' when given as
// --option=value; each of flag_options stands alone (its value is empty);
// "--output" is another name of "-o", and "-o -" names standard output
// (the value is then empty, as without -o); any other argument starting
// with '-' is refused, with the nearest option suggested; the rest are
// positional, in order.
ParsedArgs parse_args(const std::vector<std::string>& args,
                      const std::set<std::string>& value_options,
                      const std::set<std::string>& flag_options = {});

// " (did you mean 'WORD'?)" for the candidate nearest to word, or the
// empty text when none is near: at most two single-character edits
// (insert, delete, replace, ignoring case) and fewer than word's length.
std::string nearest_suggestion(const std::string& word, const std::vector<std::string>& candidates);

// text as a JSON string, quotes included.
std::string json_string(const std::string& text);

// The whole content of a file.
std::string read_file(const std::string& path);

// Where written bytes go: standard output, or the file being written.
class OutputSink {
public:
    OutputSink(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
    void write(const char* data, size_t size) const;
    void write(const std::string& data) const { write(data.data(), data.size()); }

private:
    int fd_;
    std::string name_;  // for messages
};

typedef std::function<void(const OutputSink&)> OutputFill;

// Every file the tool writes is written here. What fill writes goes to
// standard output when path is empty. A device or pipe at path (a terminal,
// /dev/null, a named pipe) is written through. Otherwise it goes into a new
// file beside path, renamed over path once complete, so that a file
// hard-linked to the old one keeps its content and a reader never sees half
// a file; when fill throws, nothing is left. A new file gets the permission
// bits mode, or without one the usual 0644 less the umask. A symbolic link
// or a folder at path is refused: a link is neither followed nor replaced.
void write_output(const std::string& path, const OutputFill& fill,
                  std::optional<std::filesystem::perms> mode = std::nullopt);

// What the usage of every command that writes files says of them.
#define OUTPUT_FILE_NOTE                                                              \
    "An output file is written whole or not at all (a new file renamed over it);\n" \
    "a device or pipe is written through; a symbolic link there is refused,\n"     \
    "neither followed nor replaced.\n"

// Creates a new file named path + ".tmp-" + next_suffix(), never opening
// one that exists or a link (another suffix is tried then, a few times).
// Returns the open descriptor for writing; *name: the name it got.
int create_beside(const std::string& path, std::string* name,
                  const std::function<std::string()>& next_suffix, unsigned mode);

// Writes data to path, or to standard output when path is empty.
void write_output(const std::string& path, const std::string& data);

const uint64_t WHOLE_FILE = UINT64_MAX;

// Writes the file at from to out: all of it, or exactly its first length
// bytes (a file that has fewer is an error).
void copy_bytes(const std::string& from, const OutputSink& out, uint64_t length = WHOLE_FILE);

// Copies a file (through a file beside to, renamed over it). A large copy
// shows its progress on standard error when that is a terminal.
void copy_file(const std::string& from, const std::string& to);

// Size of a regular file that can be opened for reading.
uint64_t readable_file_size(const std::string& path);

// Creates a folder and its parents; existing ones are fine, and so is the
// empty path (the current folder).
void make_directories(const std::string& path);

// Makes to another name of from, replacing to. Returns false when the file
// system cannot do it (to is then absent).
bool hard_link(const std::string& from, const std::string& to);

// text as one line that a terminal shows as it is: line ends, tabs and
// the backslash escaped as in C, every other byte outside printable ASCII
// as \xHH (a site's bytes are in a Windows code page in any case).
std::string printable(const std::string& text);

std::string system_error_text();  // strerror(errno)

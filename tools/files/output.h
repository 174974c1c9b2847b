// The one way dlmtool writes an output: whole or not at all.
#pragma once
#include <stddef.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>

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

// Copies a file (through a file beside to, renamed over it). A large copy
// shows its progress on standard error when that is a terminal.
void copy_file(const std::string& from, const std::string& to);

// Makes to another name of from, replacing to. Returns false when the file
// system cannot do it (to is then absent).
bool hard_link(const std::string& from, const std::string& to);

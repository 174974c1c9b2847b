// An open file descriptor that closes itself, a file read piece by piece,
// and the system's word for a failure: what reading and writing files
// build on.
#pragma once
#include <errno.h>
#include <stddef.h>
#include <stdint.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli/cli.h"

// Owns an open descriptor and closes it once.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { close(); }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    // Closes now; returns false when closing reports an error (a write that
    // did not reach the file).
    bool close()
    {
        int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

FileDescriptor open_for_reading(const std::string& path);

// A new file of its own in the temporary folder ($TMPDIR, else /tmp), open
// for writing, removed when the object goes.
class TemporaryFile {
public:
    TemporaryFile();  // throws ToolError when none can be made
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::string& path() const { return path_; }
    int fd() const { return fd_.get(); }

private:
    std::string path_;
    FileDescriptor fd_;
};

std::string system_error_text();  // strerror(errno)

const uint64_t WHOLE_FILE = UINT64_MAX;
const size_t COPY_CHUNK = 1 << 16;

// Reads the file at path, handing each piece to take: to its end, or
// exactly length bytes (a file that has fewer is an error).
template <typename Take>
void read_pieces(const std::string& path, uint64_t length, Take take)
{
    FileDescriptor in = open_for_reading(path);
    std::vector<char> chunk(COPY_CHUNK);
    while (length > 0) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(length, chunk.size()));
        ssize_t n = ::read(in.get(), chunk.data(), want);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw ToolError("cannot read " + path + ": " + system_error_text());
        if (n == 0 && length == WHOLE_FILE)
            return;
        if (n == 0)
            throw ToolError("cannot read " + path + ": file shrank");
        take(chunk.data(), static_cast<size_t>(n));
        if (length != WHOLE_FILE)
            length -= static_cast<uint64_t>(n);
    }
}

#include "files/output.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/cli.h"
#include "cli/printing.h"
#include "cli/progress_line.h"
#include "files/descriptor.h"
#include "files/files.h"

namespace fs = std::filesystem;

namespace {

// Random letters for a temporary name that another user cannot guess.
std::string random_suffix()
{
    unsigned char bytes[8] = {0};
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
        throw ToolError("cannot draw a random name: " + system_error_text());
    std::string suffix;
    for (unsigned char byte : bytes)
        suffix += hex_byte(byte);
    return suffix;
}

// What lies at an output path, as write_output treats it.
enum class Destination { NEW_FILE, WRITE_THROUGH };

Destination destination_of(const std::string& path)
{
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode))
        return Destination::NEW_FILE;  // absent, or a file the rename replaces
    if (S_ISLNK(info.st_mode))
        throw ToolError(path + " is a symbolic link: dlmtool neither follows nor replaces one; "
                               "remove it or name the file it points to");
    if (S_ISDIR(info.st_mode))
        throw ToolError(path + " is a folder");
    return Destination::WRITE_THROUGH;
}

// Writes into the device or pipe at path as it is. Returns false when path
// turned out to be a regular file after all (swapped meanwhile).
bool write_through(const std::string& path, const OutputFill& fill)
{
    FileDescriptor out(::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    if (out.get() < 0)
        throw ToolError("cannot write " + path + ": " + system_error_text());
    struct stat info;
    if (::fstat(out.get(), &info) != 0 || S_ISREG(info.st_mode))
        return false;
    fill(OutputSink(out.get(), path));
    if (!out.close())
        throw ToolError("cannot write " + path + ": " + system_error_text());
    return true;
}

// Fills a new file beside path, then renames it over path.
void replace_file(const std::string& path, const OutputFill& fill,
                  std::optional<fs::perms> mode)
{
    std::string temp;
    FileDescriptor out(create_beside(path, &temp, random_suffix, mode ? 0600 : 0644));
    try {
        fill(OutputSink(out.get(), temp));
        // On the descriptor: the name may have been swapped meanwhile.
        if (mode && ::fchmod(out.get(), static_cast<mode_t>(*mode) & 07777) != 0)
            throw ToolError("cannot write " + path + ": " + system_error_text());
        if (!out.close() || ::rename(temp.c_str(), path.c_str()) != 0)
            throw ToolError("cannot write " + path + ": " + system_error_text());
    } catch (...) {
        ::unlink(temp.c_str());
        throw;
    }
}

}  // namespace

void OutputSink::write(const char* data, size_t size) const
{
    while (size > 0) {
        ssize_t n = ::write(fd_, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw ToolError("cannot write " + name_ + ": " + system_error_text());
        data += n;
        size -= static_cast<size_t>(n);
    }
}

int create_beside(const std::string& path, std::string* name,
                  const std::function<std::string()>& next_suffix, unsigned mode)
{
    const int ATTEMPTS = 16;
    for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
        *name = path + ".tmp-" + next_suffix();
        // O_EXCL and O_NOFOLLOW: never a file or link that someone put there.
        int fd = ::open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0)
            return fd;
        if (errno != EEXIST)
            throw ToolError("cannot create " + *name + ": " + system_error_text());
    }
    throw ToolError("cannot create a temporary file beside " + path + ": " +
                    std::to_string(ATTEMPTS) + " names taken");
}

void write_output(const std::string& path, const OutputFill& fill, std::optional<fs::perms> mode)
{
    if (path.empty())
        fill(OutputSink(STDOUT_FILENO, "standard output"));
    else if (destination_of(path) == Destination::NEW_FILE || !write_through(path, fill))
        replace_file(path, fill, mode);
}

void write_output(const std::string& path, const std::string& data)
{
    write_output(path, [&](const OutputSink& out) { out.write(data); });
}

void copy_file(const std::string& from, const std::string& to)
{
    ProgressLine progress("copying " + from, readable_file_size(from));
    write_output(to, [&](const OutputSink& out) {
        read_pieces(from, WHOLE_FILE, [&](const char* piece, size_t size) {
            out.write(piece, size);
            progress.add(size);
        });
    });
}

bool hard_link(const std::string& from, const std::string& to)
{
    // Only a file is replaced; anything else is write_output's to handle.
    if (destination_of(to) != Destination::NEW_FILE)
        return false;
    std::error_code error;
    fs::remove(to, error);
    if (error)
        throw ToolError("cannot replace " + to + ": " + error.message());
    fs::create_hard_link(from, to, error);
    return !error;
}

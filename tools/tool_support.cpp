#include "tool_support.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const size_t COPY_CHUNK = 1 << 16;

// Closes a descriptor when it goes out of scope.
struct FileDescriptor {
    int fd;
    explicit FileDescriptor(int d) : fd(d) {}
    ~FileDescriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
};

void write_all(int fd, const char* data, size_t size, const std::string& what)
{
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw ToolError("cannot write " + what + ": " + system_error_text());
        data += n;
        size -= static_cast<size_t>(n);
    }
}

std::string temporary_beside(const std::string& path)
{
    return path + ".tmp-" + std::to_string(::getpid());
}

// Fills a file beside path through fill(fd), then renames it over path.
template <typename Fill>
void replace_file(const std::string& path, Fill fill)
{
    std::string temp = temporary_beside(path);
    {
        FileDescriptor out(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
        if (out.fd < 0)
            throw ToolError("cannot create " + temp + ": " + system_error_text());
        try {
            fill(out.fd, temp);
        } catch (...) {
            ::unlink(temp.c_str());
            throw;
        }
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        std::string reason = system_error_text();
        ::unlink(temp.c_str());
        throw ToolError("cannot write " + path + ": " + reason);
    }
}

}  // namespace

std::string ParsedArgs::get(const std::string& option) const
{
    auto it = options.find(option);
    return it == options.end() ? std::string() : it->second;
}

ParsedArgs parse_args(const std::vector<std::string>& args,
                      const std::set<std::string>& value_options)
{
    ParsedArgs parsed;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            parsed.help = true;
        } else if (value_options.count(arg)) {
            if (i + 1 >= args.size())
                throw UsageError(arg + " needs a value");
            if (parsed.has(arg))
                throw UsageError(arg + " given twice");
            parsed.options[arg] = args[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option " + arg);
        } else {
            parsed.positional.push_back(arg);
        }
    }
    return parsed;
}

namespace {

// Reads the open file at fd to its end, handing each piece to take.
template <typename Take>
void read_pieces(int fd, const std::string& path, Take take)
{
    std::vector<char> chunk(COPY_CHUNK);
    for (;;) {
        ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw ToolError("cannot read " + path + ": " + system_error_text());
        if (n == 0)
            return;
        take(chunk.data(), static_cast<size_t>(n));
    }
}

}  // namespace

std::string read_file(const std::string& path)
{
    FileDescriptor in(::open(path.c_str(), O_RDONLY));
    if (in.fd < 0)
        throw ToolError("cannot read " + path + ": " + system_error_text());
    std::string data;
    read_pieces(in.fd, path, [&](const char* piece, size_t size) { data.append(piece, size); });
    return data;
}

void write_file(const std::string& path, const std::string& data)
{
    replace_file(path, [&](int fd, const std::string& temp) {
        write_all(fd, data.data(), data.size(), temp);
    });
}

void write_output(const std::string& path, const std::string& data)
{
    if (path.empty()) {
        write_all(STDOUT_FILENO, data.data(), data.size(), "standard output");
        return;
    }
    write_file(path, data);
}

uint64_t readable_file_size(const std::string& path)
{
    FileDescriptor in(::open(path.c_str(), O_RDONLY));
    struct stat info;
    if (in.fd < 0 || ::fstat(in.fd, &info) != 0)
        throw ToolError("cannot read " + path + ": " + system_error_text());
    if (!S_ISREG(info.st_mode))
        throw ToolError(path + " is not a regular file");
    return static_cast<uint64_t>(info.st_size);
}

void make_directories(const std::string& path)
{
    if (path.empty() || path == "." || path == "/")
        return;
    struct stat info;
    if (::stat(path.c_str(), &info) == 0) {
        if (!S_ISDIR(info.st_mode))
            throw ToolError(path + " exists and is not a folder");
        return;
    }
    make_directories(parent_directory(path));
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
        throw ToolError("cannot create folder " + path + ": " + system_error_text());
}

void copy_file(const std::string& from, const std::string& to)
{
    FileDescriptor in(::open(from.c_str(), O_RDONLY));
    if (in.fd < 0)
        throw ToolError("cannot read " + from + ": " + system_error_text());
    replace_file(to, [&](int out, const std::string& temp) {
        read_pieces(in.fd, from, [&](const char* piece, size_t size) {
            write_all(out, piece, size, temp);
        });
    });
}

bool hard_link(const std::string& from, const std::string& to)
{
    if (::unlink(to.c_str()) != 0 && errno != ENOENT)
        throw ToolError("cannot replace " + to + ": " + system_error_text());
    return ::link(from.c_str(), to.c_str()) == 0;
}

std::string parent_directory(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string join_path(const std::string& dir, const std::string& path)
{
    if (path.empty() || path[0] == '/' || dir.empty())
        return path;
    return dir.back() == '/' ? dir + path : dir + "/" + path;
}

std::string system_error_text()
{
    return strerror(errno);
}

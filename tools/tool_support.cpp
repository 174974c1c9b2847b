#include "tool_support.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

namespace fs = std::filesystem;

namespace {

const size_t COPY_CHUNK = 1 << 16;

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

FileDescriptor open_for_reading(const std::string& path)
{
    FileDescriptor in(::open(path.c_str(), O_RDONLY));
    if (in.get() < 0)
        throw ToolError("cannot read " + path + ": " + system_error_text());
    return in;
}

// Reads the file at path, handing each piece to take: to its end, or
// exactly length bytes.
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

// Fills a file beside path, then renames it over path.
void replace_file(const std::string& path, const OutputFill& fill,
                  std::optional<fs::perms> mode)
{
    std::string temp = path + ".tmp-" + std::to_string(::getpid());
    try {
        FileDescriptor out(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
        if (out.get() < 0)
            throw ToolError("cannot create " + temp + ": " + system_error_text());
        fill(OutputSink(out.get(), temp));
        std::error_code error;
        if (mode)
            fs::permissions(temp, *mode, error);
        if (!error && (!out.close() || ::rename(temp.c_str(), path.c_str()) != 0))
            error = std::error_code(errno, std::generic_category());
        if (error)
            throw ToolError("cannot write " + path + ": " + error.message());
    } catch (...) {
        ::unlink(temp.c_str());
        throw;
    }
}

}  // namespace

std::string ParsedArgs::get(const std::string& option) const
{
    auto it = options.find(option);
    return it == options.end() ? std::string() : it->second;
}

ParsedArgs parse_args(const std::vector<std::string>& args,
                      const std::set<std::string>& value_options,
                      const std::set<std::string>& flag_options)
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
        } else if (flag_options.count(arg)) {
            parsed.options[arg] = std::string();
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option " + arg);
        } else {
            parsed.positional.push_back(arg);
        }
    }
    return parsed;
}

std::string read_file(const std::string& path)
{
    std::string data;
    read_pieces(path, WHOLE_FILE, [&](const char* piece, size_t size) { data.append(piece, size); });
    return data;
}

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

void write_output(const std::string& path, const OutputFill& fill, std::optional<fs::perms> mode)
{
    if (path.empty())
        fill(OutputSink(STDOUT_FILENO, "standard output"));
    else
        replace_file(path, fill, mode);
}

void write_output(const std::string& path, const std::string& data)
{
    write_output(path, [&](const OutputSink& out) { out.write(data); });
}

void copy_bytes(const std::string& from, const OutputSink& out, uint64_t length)
{
    read_pieces(from, length, [&](const char* piece, size_t size) { out.write(piece, size); });
}

void copy_file(const std::string& from, const std::string& to)
{
    write_output(to, [&](const OutputSink& out) { copy_bytes(from, out); });
}

uint64_t readable_file_size(const std::string& path)
{
    // Opened, not only looked up: a file the tool cannot read fails here.
    open_for_reading(path);
    std::error_code error;
    if (!fs::is_regular_file(path, error))
        throw ToolError(path + " is not a regular file");
    uint64_t size = fs::file_size(path, error);
    if (error)
        throw ToolError("cannot read " + path + ": " + error.message());
    return size;
}

void make_directories(const std::string& path)
{
    std::error_code error;
    if (path.empty() || fs::create_directories(path, error) || !error)
        return;
    // Name the part of the path that stands in the way, when one does.
    for (fs::path part = path; !part.empty() && part != part.parent_path();
         part = part.parent_path()) {
        std::error_code ignored;
        if (fs::exists(part, ignored) && !fs::is_directory(part, ignored))
            throw ToolError(part.string() + " exists and is not a folder");
    }
    throw ToolError("cannot create folder " + path + ": " + error.message());
}

bool hard_link(const std::string& from, const std::string& to)
{
    std::error_code error;
    fs::remove(to, error);
    if (error)
        throw ToolError("cannot replace " + to + ": " + error.message());
    fs::create_hard_link(from, to, error);
    return !error;
}

std::string system_error_text()
{
    return strerror(errno);
}

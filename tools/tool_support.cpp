#include "tool_support.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace fs = std::filesystem;

namespace {

const size_t COPY_CHUNK = 1 << 16;

std::string hex_byte(unsigned char byte)
{
    const char digits[] = "0123456789abcdef";
    return std::string{digits[byte >> 4], digits[byte & 15]};
}

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

uint64_t number_option(const ParsedArgs& args, const std::string& option, uint64_t fallback,
                       uint64_t largest)
{
    if (!args.has(option))
        return fallback;
    const std::string text = args.get(option);
    uint64_t value = 0;
    bool fits = !text.empty() && text.size() <= 19;  // 19 digits cannot overflow
    for (char c : text) {
        fits = fits && c >= '0' && c <= '9';
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (!fits || value < 1 || value > largest)
        throw UsageError(option + " takes a whole number from 1 to " + std::to_string(largest) +
                         ", not '" + printable(text) + "'");
    return value;
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

std::string printable(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\\')
            out += "\\\\";
        else if (c < ' ' || c >= 0x7F)
            out += "\\x" + hex_byte(c);
        else
            out += static_cast<char>(c);
    }
    return out;
}

std::string system_error_text()
{
    return strerror(errno);
}

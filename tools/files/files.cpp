#include "files/files.h"

#include <errno.h>
#include <fcntl.h>
#include <ctype.h>
#include <stdio.h>
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

namespace {

// One option and its value, from "--name=value" or from the next argument.
// Returns the option's canonical name.
std::string take_option(const std::vector<std::string>& args, size_t* i,
                        const std::set<std::string>& value_options,
                        const std::set<std::string>& flag_options, std::string* value)
{
    const std::string& arg = args[*i];
    size_t equals = arg.compare(0, 2, "--") == 0 ? arg.find('=') : std::string::npos;
    std::string name = arg.substr(0, equals);
    if (name == "--output")
        name = "-o";
    if (flag_options.count(name)) {
        if (equals != std::string::npos)
            throw UsageError(name + " takes no value");
        return name;
    }
    if (!value_options.count(name)) {
        std::vector<std::string> known(value_options.begin(), value_options.end());
        known.insert(known.end(), flag_options.begin(), flag_options.end());
        if (value_options.count("-o"))
            known.push_back("--output");
        throw UsageError("unknown option " + printable(arg) + nearest_suggestion(name, known));
    }
    if (equals != std::string::npos) {
        *value = arg.substr(equals + 1);
    } else {
        if (*i + 1 >= args.size())
            throw UsageError(name + " needs a value");
        *value = args[++*i];
    }
    if (name == "-o" && *value == "-")
        value->clear();  // standard output, as without -o
    return name;
}

}  // namespace

ParsedArgs parse_args(const std::vector<std::string>& args,
                      const std::set<std::string>& value_options,
                      const std::set<std::string>& flag_options)
{
    ParsedArgs parsed;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            parsed.help = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::string value;
            std::string name = take_option(args, &i, value_options, flag_options, &value);
            if (parsed.has(name) && !flag_options.count(name))
                throw UsageError(name + " given twice");
            parsed.options[name] = value;
        } else {
            parsed.positional.push_back(arg);
        }
    }
    return parsed;
}

namespace {

// Single-character edits from a to b, letters compared without case.
size_t edit_distance(const std::string& a, const std::string& b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            size_t above = row[j];
            bool same = tolower(static_cast<unsigned char>(a[i - 1])) ==
                        tolower(static_cast<unsigned char>(b[j - 1]));
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

std::string nearest_suggestion(const std::string& word, const std::vector<std::string>& candidates)
{
    const std::string* best = nullptr;
    size_t best_distance = 3;  // more than two edits is not a slip of the hand
    for (const std::string& candidate : candidates) {
        size_t distance = edit_distance(word, candidate);
        if (distance < best_distance && distance < word.size()) {
            best = &candidate;
            best_distance = distance;
        }
    }
    return best ? " (did you mean '" + *best + "'?)" : std::string();
}

std::string json_string(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < ' ' || c >= 0x7F) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
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

namespace {

// Copies shorter than this end before anyone waits for them.
const uint64_t PROGRESS_FROM = 16 << 20;

// "copying NAME: N of M MiB" on standard error, rewritten in place, when
// standard error is a terminal and the work is long.
class ProgressLine {
public:
    ProgressLine(std::string what, uint64_t total)
        : what_(std::move(what)), total_(total), shown_(total >= PROGRESS_FROM && isatty(STDERR_FILENO))
    {
    }
    ~ProgressLine()
    {
        if (shown_)
            fputs("\r\033[K", stderr);  // the finished line goes
    }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void add(uint64_t bytes)
    {
        done_ += bytes;
        uint64_t mib = done_ >> 20;
        if (!shown_ || (mib == last_mib_ && done_ != total_))
            return;
        last_mib_ = mib;
        fprintf(stderr, "\r%s: %llu of %llu MiB", what_.c_str(), static_cast<unsigned long long>(mib),
                static_cast<unsigned long long>(total_ >> 20));
        fflush(stderr);
    }

private:
    std::string what_;
    uint64_t total_;
    bool shown_;
    uint64_t done_ = 0;
    uint64_t last_mib_ = UINT64_MAX;
};

}  // namespace

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

#include "stamp.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "limits.h"
#include "tag.h"
#include "tool_support.h"

const char stamp_usage[] =
    "usage: dlmtool stamp IN.exe --id ID [--suffix S] [-o OUT.exe]\n"
    "Writes a copy of IN.exe that ends with the distribution tag trailer\n"
    "(identifier at most 11 bytes, suffix at most 20). A trailer that IN.exe\n"
    "already has is replaced, not followed by a second one. The program then\n"
    "reads the tag ID, or ID_S with a suffix.\n";

const char tag_usage[] =
    "usage: dlmtool tag FILE\n"
    "Prints the distribution tag that the program would read when run from\n"
    "FILE: from its trailer, or else from its file name (\"polvex\" + tag).\n"
    "Exits 1 when the program would read no tag.\n";

namespace {

// The file operations the program's tag reader uses, over POSIX calls. The
// reader is handed a path in the program's form (backslashes); the file is
// opened by its real path, kept in the context.
struct PosixTagFiles {
    std::string real_path;

    TagFileOps ops() { return TagFileOps{&open_file, &seek_end, &read_file, &close_file, this}; }

    static int open_file(void* context, const char*)
    {
        return ::open(static_cast<PosixTagFiles*>(context)->real_path.c_str(), O_RDONLY);
    }
    static int64_t seek_end(void*, int fd, int offset)
    {
        return ::lseek(fd, offset, SEEK_END);
    }
    static int read_file(void*, int fd, char* buffer, int size)
    {
        return static_cast<int>(::read(fd, buffer, static_cast<size_t>(size)));
    }
    static void close_file(void*, int fd) { ::close(fd); }
};

// The program takes the name after the last backslash; a Linux path
// separates with '/', so hand it over with backslashes.
std::string program_form(const std::string& path)
{
    std::string converted = path;
    std::replace(converted.begin(), converted.end(), '/', '\\');
    return converted;
}

}  // namespace

std::string trailer_for(const std::string& identifier, const std::string& suffix)
{
    if (identifier.size() > static_cast<size_t>(TRAILER_ID_SIZE))
        throw ToolError("identifier '" + identifier + "' has " +
                        std::to_string(identifier.size()) + " bytes; at most 11 fit the trailer");
    if (suffix.size() > static_cast<size_t>(TRAILER_SUFFIX_SIZE))
        throw ToolError("suffix '" + suffix + "' has " + std::to_string(suffix.size()) +
                        " bytes; at most 20 fit the trailer");
    if (identifier.find('\0') != std::string::npos || suffix.find('\0') != std::string::npos)
        throw ToolError("identifier and suffix cannot hold NUL bytes");
    char trailer[TRAILER_SIZE];
    if (!make_tag_trailer(identifier.c_str(), suffix.c_str(), trailer))
        throw ToolError("cannot build the trailer");
    return std::string(trailer, TRAILER_SIZE);
}

uint64_t length_without_trailer(const std::string& path)
{
    uint64_t size = readable_file_size(path);
    PosixTagFiles files{path};
    char tag[TAG_BUFFER_SIZE];
    // The program's own reader decides what counts as a trailer.
    if (read_tag_trailer(path.c_str(), files.ops(), tag, sizeof tag))
        return size - TRAILER_SIZE;
    return size;
}

void stamp_file(const std::string& in, const std::string& out, const std::string& identifier,
                const std::string& suffix)
{
    std::string trailer = trailer_for(identifier, suffix);
    uint64_t keep = length_without_trailer(in);
    // A stamped program stays as runnable as the one it was made from.
    std::error_code error;
    std::filesystem::perms mode = std::filesystem::status(in, error).permissions();
    if (error)
        throw ToolError("cannot read " + in + ": " + error.message());
    // write_output writes beside out and renames, so in may be out.
    write_output(
        out,
        [&](const OutputSink& sink) {
            copy_bytes(in, sink, keep);
            sink.write(trailer);
        },
        mode);
}

bool tag_of_file(const std::string& path, std::string* tag)
{
    PosixTagFiles files{path};
    char buffer[TAG_BUFFER_SIZE] = {0};
    std::string program_path = program_form(path);
    if (!read_distribution_tag_from(program_path.c_str(), files.ops(), buffer, sizeof buffer))
        return false;
    *tag = buffer;
    return true;
}

int stamp_command(const ParsedArgs& args)
{
    if (!args.has("--id"))
        throw UsageError("--id ID is required");
    stamp_file(args.positional[0], args.get("-o"), args.get("--id"), args.get("--suffix"));
    return 0;
}

int tag_command(const ParsedArgs& args)
{
    const std::string& path = args.positional[0];
    // The program would fall back on the name of a file it cannot open;
    // here a missing file is more likely a mistyped path.
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::status(path, error)))
        throw ToolError("cannot read " + path + ": " + error.message());
    std::string tag;
    if (!tag_of_file(path, &tag))
        throw ToolError(path + ": the program would read no tag (the path names no file)");
    write_output("", tag + "\n");
    return 0;
}

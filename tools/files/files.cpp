#include "files/files.h"

#include <filesystem>
#include <iostream>
#include <iterator>

#include "cli/cli.h"
#include "files/descriptor.h"

namespace fs = std::filesystem;

std::string read_file(const std::string& path)
{
    std::string data;
    read_pieces(path, WHOLE_FILE, [&](const char* piece, size_t size) { data.append(piece, size); });
    return data;
}

std::string read_input(const std::vector<std::string>& paths)
{
    if (!paths.empty())
        return read_file(paths[0]);
    return std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
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

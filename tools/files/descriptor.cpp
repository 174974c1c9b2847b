#include "files/descriptor.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>

FileDescriptor open_for_reading(const std::string& path)
{
    FileDescriptor in(::open(path.c_str(), O_RDONLY));
    if (in.get() < 0)
        throw ToolError("cannot read " + path + ": " + system_error_text());
    return in;
}

std::string system_error_text()
{
    return strerror(errno);
}

namespace {

std::string temporary_pattern()
{
    const char* folder = getenv("TMPDIR");
    return std::string(folder && *folder ? folder : "/tmp") + "/dlmtool-XXXXXX";
}

}  // namespace

TemporaryFile::TemporaryFile() : path_(temporary_pattern()), fd_(mkstemp(&path_[0]))
{
    if (fd_.get() < 0)
        throw ToolError("cannot make a temporary file like " + path_ + ": " + system_error_text());
}

TemporaryFile::~TemporaryFile()
{
    fd_.close();
    unlink(path_.c_str());
}

#include "files/descriptor.h"

#include <errno.h>
#include <fcntl.h>
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

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

#include "app.h"
#include "cipher.h"
#include "registry_key.h"
#include "tag.h"
#include "text.h"

namespace {

int open_file(void*, const char* path)
{
    return _open(path, _O_RDONLY | _O_BINARY);
}

int64_t seek_end(void*, int fd, int offset)
{
    return _lseek(fd, offset, SEEK_END);
}

int read_file(void*, int fd, char* buffer, int size)
{
    return _read(fd, buffer, size);
}

void close_file(void*, int fd)
{
    _close(fd);
}

}  // namespace

int read_distribution_tag(char* tag)
{
    tag[0] = '\0';
    char path[MODULE_PATH_SIZE];
    memset(path, 0, sizeof path);
    GetModuleFileNameA(nullptr, path, sizeof path);
    path[sizeof path - 1] = '\0';
    // Under the old DOS host the module is the host itself; the command
    // line names the program. A longer command line is cut to fit.
    if (_stricmp(path, "ntvdm") == 0) {
        const char* command_line = GetCommandLineA();
        if (!command_line || command_line[0] == '\0')
            return 0;
        copy_text_cut(path, sizeof path, command_line, strlen(command_line));
    }
    TagFileOps ops = {open_file, seek_end, read_file, close_file, nullptr};
    return read_distribution_tag_from(path, ops, tag, TAG_BUFFER_SIZE);
}

int record_distribution_tag(const char* tag)
{
    decipher_text(stored_tag_key_path);
    RegistryKey key;
    if (key.create(HKEY_LOCAL_MACHINE, stored_tag_key_path))
        key.set_string(tag, "");
    return 1;
}

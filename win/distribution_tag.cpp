#include "distribution_tag.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

#include "cipher.h"
#include "limits.h"
#include "owners.h"
#include "registry_key.h"
#include "stored_texts.h"
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
    // The trailer reader hands the descriptor back: its owner closes it.
    CrtFile file(fd);
}

}  // namespace

int read_distribution_tag(char* tag, size_t tag_size)
{
    char path[MODULE_PATH_SIZE];
    memset(path, 0, sizeof path);
    GetModuleFileNameA(nullptr, path, sizeof path);
    path[sizeof path - 1] = '\0';
    // Under the old DOS host the module is the host itself; the command
    // line names the program. A longer command line is cut to fit; without
    // one the path is empty, which has no tag.
    if (_stricmp(path, "ntvdm") == 0) {
        const char* command_line = GetCommandLineA();
        path[0] = '\0';
        if (command_line)
            copy_text_cut(path, sizeof path, command_line, sizeof path);
    }
    TagFileOps ops = {open_file, seek_end, read_file, close_file, nullptr};
    return read_distribution_tag_from(path, ops, tag, tag_size);
}

int record_distribution_tag(const char* tag)
{
    char key_path[TAG_KEY_PATH_SIZE];
    RegistryKey key;
    if (decipher_into(stored_tag_key_path, key_path, sizeof key_path) &&
        key.create(HKEY_LOCAL_MACHINE, key_path, KEY_SET_VALUE))
        key.set_string(tag, "");
    return 1;
}

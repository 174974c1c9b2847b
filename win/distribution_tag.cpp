#include "distribution_tag.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

#include "cipher.h"
#include "buffer_sizes.h"
#include "owners.h"
#include "registry_key.h"
#include "stored_texts.h"
#include "tag.h"
#include "text.h"

namespace {

// context: the program's own path in wide characters, which opens the
// file wherever it lies; path, the ANSI one, may hold question marks for a
// folder outside the code page. Without a wide path, path is opened.
int open_file(void* context, const char* path)
{
    const wchar_t* own_path = static_cast<const wchar_t*>(context);
    return own_path ? _wopen(own_path, _O_RDONLY | _O_BINARY) : _open(path, _O_RDONLY | _O_BINARY);
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
    // The ANSI path gives the file name's characters as the code page
    // spells them, for the name's tag; the wide one opens the file.
    char path[MODULE_PATH_SIZE];
    memset(path, 0, sizeof path);
    GetModuleFileNameA(nullptr, path, sizeof path);
    path[sizeof path - 1] = '\0';
    wchar_t own_path[MODULE_PATH_SIZE];
    DWORD own_len = GetModuleFileNameW(nullptr, own_path, MODULE_PATH_SIZE);
    const wchar_t* wide_path = own_len > 0 && own_len < MODULE_PATH_SIZE ? own_path : nullptr;
    // Under the old DOS host the module is the host itself; the command
    // line names the program. A longer command line is cut to fit; without
    // one the path is empty, which has no tag.
    if (_stricmp(path, "ntvdm") == 0) {
        const char* command_line = GetCommandLineA();
        path[0] = '\0';
        wide_path = nullptr;
        if (command_line)
            copy_text_cut(path, sizeof path, command_line, sizeof path);
    }
    TagFileOps ops = {open_file, seek_end, read_file, close_file,
                      const_cast<wchar_t*>(wide_path)};
    return read_distribution_tag_from(path, ops, tag, tag_size);
}

int record_distribution_tag(const char* tag, HKEY first_root)
{
    char key_path[TAG_KEY_PATH_SIZE];
    if (!decipher_into(stored_tag_key_path, key_path, sizeof key_path))
        return 1;
    // A standard account may not write under the machine's key: the same
    // key of the user's own then holds the record, where the installer
    // looks as well.
    const HKEY roots[] = {first_root, HKEY_CURRENT_USER};
    RegistryKey key;
    for (HKEY root : roots) {
        if (key.create(root, key_path, KEY_SET_VALUE) && key.set_string(tag, ""))
            break;
    }
    return 1;
}

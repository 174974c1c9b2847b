#include "package.h"

#include <string.h>

#include "buffer_sizes.h"
#include "text.h"

const char PREFIX_REGULAR[] = "p_Vandel_reg_";
const char PREFIX_SYSTEM[] = "p_Vandel_sys_";

namespace {

struct RequiredLibrary {
    const char* file_name;
    int min_major;
    int min_minor;
};

const RequiredLibrary required_libraries[] = {
    {"mfc42.dll", 4, 2},
    {"msvcrt.dll", 4, 20},
    {"msvcrt40.dll", 4, 10},
    {"olepro32.dll", 4, 2},
    {"wininet.dll", 4, 70},
};

bool is_new_enough(const char* system_dir, const RequiredLibrary& library,
                   const VersionReader& reader)
{
    char path[SYSTEM_DIR_SIZE + 32];
    path[0] = '\0';
    if (!append_text(path, sizeof path, system_dir) || !append_text(path, sizeof path, "\\") ||
        !append_text(path, sizeof path, library.file_name))
        return false;
    int major = 0;
    int minor = 0;
    if (!reader.read(reader.context, path, &major, &minor))
        return false;
    if (major != library.min_major)
        return major > library.min_major;
    return minor >= library.min_minor;
}

}  // namespace

const char* survey_package_prefix(const char* system_dir, const VersionReader& reader)
{
    if (!system_dir)
        return PREFIX_SYSTEM;
    for (const RequiredLibrary& library : required_libraries) {
        if (!is_new_enough(system_dir, library, reader))
            return PREFIX_SYSTEM;
    }
    return PREFIX_REGULAR;
}

namespace {

// prefix, code, "." and extension.
int make_package_file_name(const char* prefix, const char* language_code,
                           const char* extension, char* name, size_t name_size)
{
    if (name_size == 0)
        return 0;
    name[0] = '\0';
    if (append_text(name, name_size, prefix) && append_text(name, name_size, language_code) &&
        append_text(name, name_size, ".") && append_text(name, name_size, extension))
        return 1;
    name[0] = '\0';
    return 0;
}

}  // namespace

int make_manifest_name(const char* prefix, const char* language_code, char* name,
                       size_t name_size)
{
    return make_package_file_name(prefix, language_code, language_code, name, name_size);
}

int make_installer_name(const char* prefix, const char* language_code, char* name,
                        size_t name_size)
{
    return make_package_file_name(prefix, language_code, "exe", name, name_size);
}

int append_package_names(const char* prefix, const char* language_code, char* url_buffer,
                         size_t url_size, char* installer_name, size_t name_size)
{
    char manifest_name[64];
    char file_name[64];
    if (!make_manifest_name(prefix, language_code, manifest_name, sizeof manifest_name) ||
        !make_installer_name(prefix, language_code, file_name, sizeof file_name))
        return 0;
    size_t url_len = strnlen(url_buffer, url_size);
    size_t name_len = strnlen(installer_name, name_size);
    if (url_len + strlen(manifest_name) >= url_size ||
        name_len + strlen(file_name) >= name_size)
        return 0;
    append_text(url_buffer, url_size, manifest_name);
    append_text(installer_name, name_size, file_name);
    return 1;
}

int choose_package(const char* system_dir, const VersionReader& reader,
                   const char* language_code, char* url_buffer, size_t url_size,
                   char* installer_name, size_t name_size)
{
    const char* prefix = survey_package_prefix(system_dir, reader);
    return append_package_names(prefix, language_code, url_buffer, url_size, installer_name,
                                name_size);
}

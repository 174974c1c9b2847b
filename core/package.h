// Package choice: the survey of five system libraries picks the package
// prefix; the prefix and the language code name the manifest and installer.
#pragma once
#include <stddef.h>

// Reads the (major, minor) file version of a library at a full path.
// Returns 1 after storing both, 0 when the version cannot be read.
typedef int (*ReadFileVersionFn)(void* context, const char* path, int* major, int* minor);

struct VersionReader {
    ReadFileVersionFn read;
    void* context;
};

extern const char PREFIX_REGULAR[];  // all five libraries new enough
extern const char PREFIX_SYSTEM[];   // the survey stopped

// Surveys the libraries in the system directory (null when it could not be
// obtained: the survey then counts as stopped) and returns the prefix.
const char* survey_package_prefix(const char* system_dir, const VersionReader& reader);

// The file names of a package in the download directory: the manifest
// (prefix, code, "." and code) and the installer (prefix, code and ".exe").
// Each returns 0, leaving name empty, when the name does not fit name_size.
int make_manifest_name(const char* prefix, const char* language_code, char* name,
                       size_t name_size);
int make_installer_name(const char* prefix, const char* language_code, char* name,
                        size_t name_size);

// Appends prefix, code, "." and code to url_buffer, and prefix, code and
// ".exe" to installer_name. Returns 0, changing neither, when either would
// not fit.
int append_package_names(const char* prefix, const char* language_code, char* url_buffer,
                         size_t url_size, char* installer_name, size_t name_size);

// The survey and the names together.
int choose_package(const char* system_dir, const VersionReader& reader,
                   const char* language_code, char* url_buffer, size_t url_size,
                   char* installer_name, size_t name_size);

// The distribution tag of the running program and its record in the
// registry.
#pragma once
#include <windows.h>
#include <stddef.h>

// The tag of this executable, from its trailer or its file name, into tag
// (tag_size bytes). Returns 0 when it has none to record.
int read_distribution_tag(char* tag, size_t tag_size);
// Stores tag as the default value of the build's tag key under first_root
// or, when that write is refused, under HKEY_CURRENT_USER. Returns 1.
int record_distribution_tag(const char* tag, HKEY first_root = HKEY_LOCAL_MACHINE);

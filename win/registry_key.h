// Owns at most one open registry key, closed when the object goes away.
#pragma once
#include <windows.h>

class RegistryKey {
public:
    RegistryKey() : key_(nullptr) {}
    ~RegistryKey() { close(); }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    // Opens the subkey for access (KEY_SET_VALUE, ...), creating it and
    // missing keys on its path.
    int create(HKEY root, const char* path, REGSAM access);
    // Opens an existing subkey for access (KEY_QUERY_VALUE, ...).
    int open(HKEY root, const char* path, REGSAM access);
    // Stores text, with its terminator, as a REG_SZ value.
    int set_string(const char* text, const char* value_name);
    // Reads a string value into dest (dest_size bytes) as UTF-8 text, so
    // that any name survives. A value that does not fit, or is longer than
    // COMMAND_BUFFER_SIZE characters, is refused: 0 with dest empty. dest is
    // always terminated.
    int query_string(char* dest, DWORD dest_size, const char* value_name);
    void close();

private:
    HKEY key_;
};

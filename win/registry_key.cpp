#include "registry_key.h"

int RegistryKey::create(HKEY root, const char* path, REGSAM access)
{
    close();
    return RegCreateKeyExA(root, path, 0, nullptr, 0, access, nullptr, &key_, nullptr) ==
                   ERROR_SUCCESS
               ? 1
               : 0;
}

int RegistryKey::open(HKEY root, const char* path, REGSAM access)
{
    close();
    return RegOpenKeyExA(root, path, 0, access, &key_) == ERROR_SUCCESS ? 1 : 0;
}

int RegistryKey::set_string(const char* text, const char* value_name)
{
    return RegSetValueExA(key_, value_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          lstrlenA(text) + 1) == ERROR_SUCCESS
               ? 1
               : 0;
}

int RegistryKey::query_string(char* dest, DWORD dest_size, const char* value_name)
{
    if (dest_size == 0)
        return 0;
    dest[0] = '\0';
    DWORD size = 0;
    if (RegQueryValueExA(key_, value_name, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
        return 0;
    // The stored value may lack its terminator: it needs one byte beyond
    // its size unless its last byte already is one.
    if (size > dest_size)
        return 0;
    DWORD read = size;
    if (RegQueryValueExA(key_, value_name, nullptr, nullptr, reinterpret_cast<BYTE*>(dest),
                         &read) != ERROR_SUCCESS)
        read = 0;
    if (read > 0 && dest[read - 1] == '\0')
        return 1;
    if (read >= dest_size) {
        dest[0] = '\0';
        return 0;
    }
    dest[read] = '\0';
    return 1;
}

void RegistryKey::close()
{
    if (key_) {
        RegCloseKey(key_);
        key_ = nullptr;
    }
}

#include "registry_key.h"

#include "buffer_sizes.h"

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
    // Read wide and handed on as UTF-8: the ANSI read spells characters
    // outside the code page as question marks.
    wchar_t name[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, value_name, -1, name, MAX_PATH))
        return 0;
    // One character more than the longest value, for a terminator that
    // the stored value may lack; a longer value is refused (ERROR_MORE_DATA).
    wchar_t text[COMMAND_BUFFER_SIZE + 1];
    DWORD size = sizeof text - sizeof text[0];
    if (RegQueryValueExW(key_, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size) !=
        ERROR_SUCCESS)
        return 0;
    text[size / sizeof text[0]] = L'\0';
    if (!WideCharToMultiByte(CP_UTF8, 0, text, -1, dest, static_cast<int>(dest_size), nullptr,
                             nullptr)) {
        dest[0] = '\0';
        return 0;
    }
    return 1;
}

void RegistryKey::close()
{
    if (key_) {
        RegCloseKey(key_);
        key_ = nullptr;
    }
}

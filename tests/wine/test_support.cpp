#include "test_support.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "run_state.h"
#include "system_libraries.h"
#include "test_settings.h"

namespace {

std::string windows_path(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        return path;
    // A Unix path: wine shows the root of the Unix file system as drive Z:.
    std::string result = "Z:" + path;
    for (char& c : result)
        if (c == '/')
            c = '\\';
    return result;
}

std::string port_file_path()
{
    const char* from_environment = getenv("POLVEX_TEST_SERVER_PORT_FILE");
    if (from_environment && *from_environment)
        return windows_path(from_environment);
#ifdef POLVEX_TEST_SERVER_PORT_FILE
    return windows_path(POLVEX_TEST_SERVER_PORT_FILE);
#else
    return std::string();
#endif
}

struct WinsockStartup {
    WinsockStartup()
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
};

void start_winsock()
{
    static WinsockStartup started;
    (void)started;
}

bool send_all(SOCKET s, const char* data, size_t size)
{
    while (size > 0) {
        int sent = send(s, data, static_cast<int>(size > 65536 ? 65536 : size), 0);
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

}  // namespace

std::string exe_folder()
{
    char path[MAX_PATH];
    DWORD len = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, len);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

ScratchFolder::ScratchFolder(bool enter)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    static unsigned counter = 0;
    for (;;) {
        char name[64];
        snprintf(name, sizeof name, "polvex-wt-%lu-%u", GetCurrentProcessId(), ++counter);
        path_ = std::string(temp) + name;
        if (CreateDirectoryA(path_.c_str(), nullptr))
            break;
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            ADD_FAILURE() << "cannot create " << path_;
            break;
        }
    }
    if (enter) {
        char current[MAX_PATH];
        DWORD len = GetCurrentDirectoryA(sizeof current, current);
        previous_.assign(current, len);
        EXPECT_TRUE(SetCurrentDirectoryA(path_.c_str())) << path_;
    }
}

ScratchFolder::~ScratchFolder()
{
    if (!previous_.empty())
        SetCurrentDirectoryA(previous_.c_str());
    remove_tree(path_);
}

SystemLibrariesFrom::SystemLibrariesFrom(const std::string& folder)
{
    load_system_libraries(widen(folder).c_str());
}

SystemLibrariesFrom::~SystemLibrariesFrom()
{
    load_system_libraries();
}

std::wstring widen(const std::string& text)
{
    int size = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(size > 0 ? size : 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], size);
    wide.resize(wide.size() - 1);
    return wide;
}

std::string utf8(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 0 ? size : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &bytes[0], size, nullptr, nullptr);
    bytes.resize(bytes.size() - 1);
    return bytes;
}

bool ansi_cannot_spell(const std::wstring& text)
{
    BOOL lost = FALSE;
    char spelt[MAX_PATH];
    return WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, spelt, sizeof spelt, nullptr,
                               &lost) != 0 &&
           lost;
}

void remove_tree(const std::string& path)
{
    remove_tree(widen(path));
}

// Wide, so that names the code page cannot spell go too.
void remove_tree(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
        return;
    }
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0)
                remove_tree(path + L"\\" + found.cFileName);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

bool write_file(const std::string& path, const std::string& data)
{
    return write_file(widen(path), data);
}

bool write_file(const std::wstring& path, const std::string& data)
{
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f)
        return false;
    bool ok = fwrite(data.data(), 1, data.size(), f) == data.size();
    return fclose(f) == 0 && ok;
}

bool read_file(const std::string& path, std::string* data)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    data->clear();
    char buffer[8192];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, f)) > 0)
        data->append(buffer, got);
    fclose(f);
    return true;
}

bool is_folder(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string pattern_bytes(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    unsigned state = seed * 2654435761u + 12345u;
    for (size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = static_cast<char>((state >> 16) & 0xff);
    }
    return bytes;
}

std::string test_case_prefix()
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "none";
    for (char& c : name) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '.' || c == '_' || c == '-';
        if (!plain)
            c = '_';
    }
    return "/" + name + "/";
}

void start_run_state()
{
    reset_run_state(run_state);
    run_state.app_instance = GetModuleHandleA(nullptr);
}

RawValue read_raw_value(HKEY root, const char* path, const char* name)
{
    RawValue value;
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.data.assign(size, '\0');
        DWORD got = size;
        if (RegQueryValueExA(key, name, nullptr, &value.type,
                             reinterpret_cast<BYTE*>(&value.data[0]), &got) == ERROR_SUCCESS) {
            value.data.resize(got);
            value.found = true;
        }
    }
    RegCloseKey(key);
    return value;
}

bool write_raw_value(HKEY root, const char* path, const char* name, DWORD type,
                     const void* data, DWORD size)
{
    HKEY key;
    if (RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    bool ok = RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size) ==
              ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

bool write_wide_string(HKEY root, const char* path, const wchar_t* name, const std::wstring& text)
{
    HKEY key;
    if (RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    bool ok = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) ==
              ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

bool key_exists(HKEY root, const char* path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void delete_key_tree(HKEY root, const char* path)
{
    RegDeleteTreeA(root, path);
    RegDeleteKeyA(root, path);
}

RegistryValueGuard::RegistryValueGuard(HKEY root, const char* path, const char* name)
    : root_(root), path_(path), name_(name), key_existed_(key_exists(root, path)),
      saved_(read_raw_value(root, path, name))
{
}

RegistryValueGuard::~RegistryValueGuard()
{
    if (!key_existed_) {
        delete_key_tree(root_, path_.c_str());
        return;
    }
    if (saved_.found) {
        write_raw_value(root_, path_.c_str(), name_.c_str(), saved_.type, saved_.data.data(),
                        static_cast<DWORD>(saved_.data.size()));
    } else {
        HKEY key;
        if (RegOpenKeyExA(root_, path_.c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, name_.c_str());
            RegCloseKey(key);
        }
    }
}

int run_program(const std::string& path, const std::string& arguments,
                const std::string& folder, DWORD timeout_ms)
{
    return run_program(widen(path), widen(arguments), widen(folder), timeout_ms);
}

int run_program(const std::wstring& path, const std::wstring& arguments,
                const std::wstring& folder, DWORD timeout_ms)
{
    std::wstring command = L"\"" + path + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    STARTUPINFOW startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &process))
        return -1;
    CloseHandle(process.hThread);
    int code = -1;
    if (WaitForSingleObject(process.hProcess, timeout_ms) == WAIT_OBJECT_0) {
        DWORD exit_code = 0;
        GetExitCodeProcess(process.hProcess, &exit_code);
        code = static_cast<int>(exit_code);
    } else {
        TerminateProcess(process.hProcess, 99);
    }
    CloseHandle(process.hProcess);
    return code;
}

RefusedPort::RefusedPort() : socket_(INVALID_SOCKET), port_(0)
{
    start_winsock();
    socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int size = sizeof address;
    if (socket_ != INVALID_SOCKET &&
        bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port_ = ntohs(address.sin_port);
}

RefusedPort::~RefusedPort()
{
    if (socket_ != INVALID_SOCKET)
        closesocket(socket_);
}

std::string url_encode(const std::string& text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '/' || c == '.' || c == '_' || c == '-' || c == '~';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

TestServer::TestServer() : port_(0)
{
    std::string text;
    std::string path = port_file_path();
    if (!path.empty() && read_file(path, &text))
        port_ = atoi(text.c_str());
}

std::string TestServer::url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

int TestServer::exchange(const std::string& method, const std::string& target,
                         const std::string& body, std::string* reply_body)
{
    if (port_ <= 0)
        return 0;
    start_winsock();
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return 0;
    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(port_));
    std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                          "Content-Length: " + std::to_string(body.size()) +
                          "\r\nConnection: close\r\n\r\n" + body;
    std::string reply;
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        send_all(s, request.data(), request.size())) {
        char buffer[8192];
        int got;
        while ((got = recv(s, buffer, sizeof buffer, 0)) > 0)
            reply.append(buffer, static_cast<size_t>(got));
    }
    closesocket(s);
    int status = 0;
    if (reply.compare(0, 9, "HTTP/1.1 ") == 0 || reply.compare(0, 9, "HTTP/1.0 ") == 0)
        status = atoi(reply.c_str() + 9);
    size_t header_end = reply.find("\r\n\r\n");
    if (reply_body)
        *reply_body = header_end == std::string::npos ? "" : reply.substr(header_end + 4);
    return status;
}

bool TestServer::set(const std::string& path, const std::string& body, int status,
                     const std::string& mode, const std::string& extra)
{
    std::string target = "/_control/set?path=" + url_encode(path) +
                         "&status=" + std::to_string(status) + "&mode=" + mode + extra;
    std::string reply;
    bool ok = exchange("POST", target, body, &reply) == 200;
    EXPECT_TRUE(ok) << "server refused " << target << ": " << reply;
    return ok;
}

std::vector<ServedRequest> TestServer::log(const std::string& prefix)
{
    std::vector<ServedRequest> entries;
    std::string text;
    if (exchange("GET", "/_control/log?prefix=" + url_encode(prefix), "", &text) != 200) {
        ADD_FAILURE() << "the test server gave no log";
        return entries;
    }
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        size_t tab1 = line.find('\t');
        size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
        if (tab2 == std::string::npos)
            continue;
        entries.push_back({line.substr(0, tab1), line.substr(tab1 + 1, tab2 - tab1 - 1),
                           line.substr(tab2 + 1)});
    }
    return entries;
}

bool TestServer::reset(const std::string& prefix)
{
    return exchange("POST", "/_control/reset?prefix=" + url_encode(prefix), "", nullptr) == 200;
}

// What the Windows-side tests share: scratch folders, the registry, the
// run state at start, files and the test web server.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <string>
#include <vector>

// The folder of the running test executable, with a trailing backslash;
// the helper programs and libraries are built beside it.
std::string exe_folder();

// A fresh folder under the temporary folder, removed with its contents at
// the end. With enter = true it is also the current folder meanwhile (the
// previous one comes back at the end).
class ScratchFolder {
public:
    explicit ScratchFolder(bool enter);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return path_; }  // no trailing backslash
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
    std::string previous_;
};

// The system libraries loaded from another folder for the life of this
// object (from one without them: as on a system that lacks them); the
// system folder's come back at the end.
class SystemLibrariesFrom {
public:
    explicit SystemLibrariesFrom(const std::string& folder);
    ~SystemLibrariesFrom();
    SystemLibrariesFrom(const SystemLibrariesFrom&) = delete;
    SystemLibrariesFrom& operator=(const SystemLibrariesFrom&) = delete;
};

void remove_tree(const std::string& path);
void remove_tree(const std::wstring& path);
bool write_file(const std::string& path, const std::string& data);
bool write_file(const std::wstring& path, const std::string& data);

// Between the ANSI code page and wide text, and wide text as UTF-8.
std::wstring widen(const std::string& text);
std::string utf8(const std::wstring& text);
// True when the ANSI code page has no spelling for some of text's
// characters (the folders named in Cyrillic need a code page such as 1252:
// LC_ALL=de_DE.UTF-8).
bool ansi_cannot_spell(const std::wstring& text);
// The file's bytes; false when it cannot be read.
bool read_file(const std::string& path, std::string* data);
bool is_folder(const std::string& path);
bool exists(const std::string& path);

// Bytes 0..255 in a repeating but position-dependent pattern (zeros included).
std::string pattern_bytes(size_t size, unsigned seed = 1);

// "/Suite.Name/" of the running test: its own corner of the test server
// and a name for its own registry keys.
std::string test_case_prefix();

// Sets the run state as the entry point does (the process's module as the
// application instance).
void start_run_state();

// A registry value as stored, raw.
struct RawValue {
    bool found = false;
    DWORD type = 0;
    std::string data;
};
RawValue read_raw_value(HKEY root, const char* path, const char* name);
bool write_raw_value(HKEY root, const char* path, const char* name, DWORD type,
                     const void* data, DWORD size);
// A REG_SZ value stored from wide text, with its terminator, as installers
// store names the code page cannot spell.
bool write_wide_string(HKEY root, const char* path, const wchar_t* name, const std::wstring& text);
bool key_exists(HKEY root, const char* path);
void delete_key_tree(HKEY root, const char* path);

// Keeps a registry value as it was before the test: a value that existed
// comes back, a key that did not exist is deleted with its contents.
class RegistryValueGuard {
public:
    RegistryValueGuard(HKEY root, const char* path, const char* name);
    ~RegistryValueGuard();
    RegistryValueGuard(const RegistryValueGuard&) = delete;
    RegistryValueGuard& operator=(const RegistryValueGuard&) = delete;

private:
    HKEY root_;
    std::string path_;
    std::string name_;
    bool key_existed_;
    RawValue saved_;
};

// Runs a program and waits for it (at most timeout_ms). Returns its exit
// code, or -1 when it could not be started or did not end in time.
int run_program(const std::string& path, const std::string& arguments,
                const std::string& folder, DWORD timeout_ms);
int run_program(const std::wstring& path, const std::wstring& arguments,
                const std::wstring& folder, DWORD timeout_ms);

// A port on 127.0.0.1 where nothing listens: a socket is bound to it but
// never listens, so a connection is refused at once.
class RefusedPort {
public:
    RefusedPort();
    ~RefusedPort();
    RefusedPort(const RefusedPort&) = delete;
    RefusedPort& operator=(const RefusedPort&) = delete;
    int port() const { return port_; }

private:
    SOCKET socket_;
    int port_;
};

// The test web server (tests/server/test_server.py), driven over its control
// paths with plain sockets, so that WinInet state is never shared with the
// code under test.
struct ServedRequest {
    std::string method;
    std::string path;
    std::string agent;
};

class TestServer {
public:
    // Reads the port file the CTest fixture wrote; port() is 0 without one.
    TestServer();
    int port() const { return port_; }
    std::string url(const std::string& path) const;

    // Serves body at path. mode: "full", "short" (then length is the
    // announced length), "nolength" or "slow" (extra holds e.g.
    // "&chunk=1000&delay_ms=50").
    bool set(const std::string& path, const std::string& body, int status = 200,
             const std::string& mode = "full", const std::string& extra = "");
    std::vector<ServedRequest> log(const std::string& prefix);
    bool reset(const std::string& prefix);

    // One HTTP exchange; returns the status (0 when it failed).
    int exchange(const std::string& method, const std::string& target, const std::string& body,
                 std::string* reply_body);

private:
    int port_;
};

// Percent-encodes everything but letters, digits and "/._-~".
std::string url_encode(const std::string& text);

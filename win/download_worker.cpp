#include "app.h"

#include <fcntl.h>
#include <io.h>
#include <mmsystem.h>
#include <process.h>
#include <sys/stat.h>
#include <wininet.h>

#include "transfer.h"

namespace {

struct WorkerContext {
    HINTERNET url;
    int file;
    HWND window;
};

int read_chunk(void* context, char* buffer, uint32_t size, uint32_t* count)
{
    DWORD got = 0;
    BOOL ok = InternetReadFile(static_cast<WorkerContext*>(context)->url, buffer, size, &got);
    *count = got;
    return ok ? 1 : 0;
}

int64_t write_chunk(void* context, const char* buffer, uint32_t count)
{
    return _write(static_cast<WorkerContext*>(context)->file, buffer, count);
}

void pause_after_read(void*)
{
    Sleep(1);
}

void post_progress(void* context, int ok)
{
    PostMessageA(static_cast<WorkerContext*>(context)->window, UM_PROGRESS, ok, 0);
}

int64_t announced_length(HINTERNET url)
{
    DWORD length = 0;
    DWORD size = sizeof length;
    if (!HttpQueryInfoA(url, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &size,
                        nullptr))
        return LENGTH_UNKNOWN;
    return length;
}

// The window waits for this message to offer OK: it must not be lost to a
// full queue.
void post_done_and_end(HWND window, int ok)
{
    while (!PostMessageA(window, UM_DONE, ok, 0) && IsWindow(window))
        Sleep(10);
    _endthread();
}

char chunk[CHUNK_SIZE];

}  // namespace

void __cdecl download_worker(void* window_handle)
{
    HWND window = static_cast<HWND>(window_handle);
    if (!join_installer_url(run_state.download_url, sizeof run_state.download_url,
                            run_state.installer_name))
        post_done_and_end(window, 0);

    int file = _open(INSTALLER_FILE_NAME, _O_RDWR | _O_CREAT | _O_TRUNC | _O_BINARY,
                     _S_IREAD | _S_IWRITE);
    if (file == -1)
        post_done_and_end(window, 0);
    HINTERNET session = InternetOpenA(AGENT_NAME, INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                      nullptr, 0);
    if (!session) {
        _close(file);
        post_done_and_end(window, 0);
    }
    HINTERNET url = InternetOpenUrlA(session, run_state.download_url, nullptr, 0,
                                     INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (!url) {
        _close(file);
        InternetCloseHandle(session);
        post_done_and_end(window, 0);
    }

    // A one-millisecond pause lasts a whole scheduler tick (about 15 ms)
    // unless the timer resolution is raised for the transfer.
    timeBeginPeriod(1);
    WorkerContext context = {url, file, window};
    TransferIo io = {read_chunk, write_chunk, pause_after_read, post_progress, &context};
    int ok = run_transfer(io, chunk, run_state.received_bytes, announced_length(url));
    timeEndPeriod(1);

    _close(file);
    InternetCloseHandle(url);
    InternetCloseHandle(session);
    post_done_and_end(window, ok);
}

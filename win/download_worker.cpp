#include "app.h"
#include "internet_session.h"

#include <fcntl.h>
#include <io.h>
#include <mmsystem.h>
#include <process.h>
#include <sys/stat.h>
#include <wininet.h>

#include "transfer.h"

namespace {

// The window waits for UM_DONE to offer OK: it must not be lost to a full
// queue.
void post_done(HWND window, int ok)
{
    while (!PostMessageA(window, UM_DONE, ok, 0) && IsWindow(window))
        Sleep(10);
}

// Wine's WinInet waits for ever on a server that stops sending in the
// middle of a body, whatever receive timeout is set, and closing the request
// does not end the pending read (Windows gives up after its receive
// timeout). So a watchdog ends the download itself when no read has ended
// for this long: it reports the failure to the window, which then offers
// OK, and closes the request, which on Windows also ends the pending read.
const DWORD STALL_LIMIT_MS = 30000;
const DWORD WATCH_PERIOD_MS = 500;

struct WorkerContext {
    HINTERNET url;
    int file;
    HWND window;
    HANDLE stop_watching;
    volatile LONG last_read_end;  // GetTickCount() when the last read ended
    volatile LONG gave_up;        // the watchdog closed the request
    volatile LONG done_posted;    // UM_DONE went out, from either thread
};

unsigned __stdcall watch_reads(void* argument)
{
    WorkerContext* worker = static_cast<WorkerContext*>(argument);
    while (WaitForSingleObject(worker->stop_watching, WATCH_PERIOD_MS) == WAIT_TIMEOUT) {
        DWORD quiet = GetTickCount() - static_cast<DWORD>(worker->last_read_end);
        if (quiet >= STALL_LIMIT_MS) {
            InterlockedExchange(&worker->gave_up, 1);
            if (InterlockedExchange(&worker->done_posted, 1) == 0)
                post_done(worker->window, 0);
            InternetCloseHandle(worker->url);
            break;
        }
    }
    return 0;
}

int read_chunk(void* context, char* buffer, uint32_t size, uint32_t* count)
{
    WorkerContext* worker = static_cast<WorkerContext*>(context);
    DWORD got = 0;
    BOOL ok = InternetReadFile(worker->url, buffer, size, &got);
    InterlockedExchange(&worker->last_read_end, static_cast<LONG>(GetTickCount()));
    *count = got;
    return ok && !worker->gave_up ? 1 : 0;
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

void post_done_and_end(HWND window, int ok)
{
    post_done(window, ok);
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
    HINTERNET session = open_internet_session();
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
    WorkerContext context = {url, file, window, CreateEventA(nullptr, TRUE, FALSE, nullptr),
                             static_cast<LONG>(GetTickCount()), 0, 0};
    HANDLE watcher = nullptr;
    if (context.stop_watching)
        watcher = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, watch_reads, &context, 0,
                                                          nullptr));
    TransferIo io = {read_chunk, write_chunk, pause_after_read, post_progress, &context};
    int ok = run_transfer(io, chunk, run_state.received_bytes, announced_length(url));
    timeEndPeriod(1);
    if (watcher) {
        SetEvent(context.stop_watching);
        WaitForSingleObject(watcher, INFINITE);
        CloseHandle(watcher);
    }
    if (context.stop_watching)
        CloseHandle(context.stop_watching);

    _close(file);
    if (!context.gave_up)
        InternetCloseHandle(url);
    InternetCloseHandle(session);
    if (InterlockedExchange(&context.done_posted, 1) == 0)
        post_done(window, ok);
}

#include "download_worker.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <mmsystem.h>
#include <process.h>
#include <sys/stat.h>

#include "internet_session.h"
#include "owners.h"
#include "program_constants.h"
#include "run_state.h"
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
    HWND window;
    HINTERNET url;
    int file;
    HANDLE stop_watching;
    volatile LONG last_read_end;  // GetTickCount() when the last read ended
    volatile LONG gave_up;        // the watchdog closed the request
    volatile LONG done_posted;    // UM_DONE went out, from either thread
};

// Posts UM_DONE unless the other thread already did.
void post_done_once(WorkerContext* worker, int ok)
{
    if (InterlockedExchange(&worker->done_posted, 1) == 0)
        post_done(worker->window, ok);
}

unsigned __stdcall watch_reads(void* argument)
{
    WorkerContext* worker = static_cast<WorkerContext*>(argument);
    while (WaitForSingleObject(worker->stop_watching, WATCH_PERIOD_MS) == WAIT_TIMEOUT) {
        DWORD quiet = GetTickCount() - static_cast<DWORD>(worker->last_read_end);
        if (quiet >= STALL_LIMIT_MS) {
            InterlockedExchange(&worker->gave_up, 1);
            post_done_once(worker, 0);
            // The request is closed here; the worker gives its own claim up.
            InternetHandle closing(worker->url);
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

char chunk[CHUNK_SIZE];

// Runs the transfer loop over the open request and file, under the
// watchdog when its thread can start. Returns the success flag.
int watched_transfer(WorkerContext& context)
{
    KernelHandle stop_watching(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    context.stop_watching = stop_watching.get();
    context.last_read_end = static_cast<LONG>(GetTickCount());
    KernelHandle watcher;
    if (stop_watching)
        watcher.reset(reinterpret_cast<HANDLE>(
            _beginthreadex(nullptr, 0, watch_reads, &context, 0, nullptr)));
    // A one-millisecond pause lasts a whole scheduler tick (about 15 ms)
    // unless the timer resolution is raised for the transfer.
    timeBeginPeriod(1);
    TransferIo io = {read_chunk, write_chunk, pause_after_read, post_progress, &context};
    int ok = run_transfer(io, chunk, run_state.received_bytes, announced_length(context.url));
    timeEndPeriod(1);
    if (watcher) {
        SetEvent(stop_watching.get());
        WaitForSingleObject(watcher.get(), INFINITE);
    }
    return ok;
}

// The download itself: the installer file, then the request, then the
// transfer. Returns 1 when the whole body was written.
int download_installer(WorkerContext& context)
{
    if (!join_installer_url(run_state.download_url, sizeof run_state.download_url,
                            run_state.installer_name))
        return 0;
    CrtFile file(_open(INSTALLER_FILE_NAME, _O_RDWR | _O_CREAT | _O_TRUNC | _O_BINARY,
                       _S_IREAD | _S_IWRITE));
    if (!file)
        return 0;
    InternetHandle session(open_internet_session());
    if (!session)
        return 0;
    InternetHandle url(open_url(session.get(), run_state.download_url));
    if (!url)
        return 0;
    context.url = url.get();
    context.file = file.get();
    int ok = watched_transfer(context);
    // The watchdog, ended by now, closed the request when it gave up.
    if (context.gave_up)
        url.release();
    return ok;
}

}  // namespace

void __cdecl download_worker(void* window)
{
    // The request, the file and the watchdog's event are filled in as the
    // download opens them.
    WorkerContext context = {};
    context.window = static_cast<HWND>(window);
    int ok = download_installer(context);
    post_done_once(&context, ok);
}

#include "download_worker.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <mmsystem.h>
#include <sys/stat.h>

#include "internet_session.h"
#include "owners.h"
#include "program_constants.h"
#include "run_state.h"
#include "system_libraries.h"
#include "transfer.h"

namespace {

// The window waits for UM_DONE to offer OK: it must not be lost to a full
// queue.
void post_done(HWND window, int ok)
{
    while (!PostMessageA(window, UM_DONE, ok, 0) && IsWindow(window))
        Sleep(10);
}

struct WorkerContext {
    HWND window;
    HINTERNET request;
    int file;
};

// Reads what has arrived, up to size bytes. A read of a fixed size would
// wait for all of it, and a link slower than size bytes in the receive
// timeout would fail while still moving; waiting only for the first byte
// (InternetQueryDataAvailable) leaves the request's receive timeout to end
// only a server that has sent nothing for that long. At the body's end
// nothing is available and the read reports the end.
int read_chunk(void* context, char* buffer, uint32_t size, uint32_t* count)
{
    HINTERNET request = static_cast<WorkerContext*>(context)->request;
    DWORD available = 0;
    DWORD got = 0;
    *count = 0;
    if (!InternetQueryDataAvailable(request, &available, 0, 0))
        return 0;
    if (available != 0 && available < size)
        size = available;
    BOOL ok = InternetReadFile(request, buffer, size, &got);
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

int64_t announced_length(HINTERNET request)
{
    DWORD length = 0;
    DWORD size = sizeof length;
    if (!HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length,
                        &size, nullptr))
        return LENGTH_UNKNOWN;
    return length;
}

char chunk[CHUNK_SIZE];

// The download itself: the installer file, then the request, then the
// transfer. Returns 1 when the whole body was written; everything is closed
// by then.
int download_installer(WorkerContext& context)
{
    if (!join_installer_url(run_state.download_url, sizeof run_state.download_url,
                            run_state.installer_name))
        return 0;
    CrtFile file(_open(INSTALLER_FILE_NAME, _O_RDWR | _O_CREAT | _O_TRUNC | _O_BINARY,
                       _S_IREAD | _S_IWRITE));
    if (!file)
        return 0;
    UrlRequest opened;
    if (!open_url(run_state.download_url, opened))
        return 0;
    context.request = opened.request.get();
    context.file = file.get();
    // A one-millisecond pause lasts a whole scheduler tick (about 15 ms)
    // unless the timer resolution is raised for the transfer.
    bool fine_timer = system_library_ready(SYSTEM_WINMM);
    if (fine_timer)
        timeBeginPeriod(1);
    TransferIo io = {read_chunk, write_chunk, pause_after_read, post_progress, &context};
    int ok = run_transfer(io, chunk, run_state.received_bytes, announced_length(context.request));
    if (fine_timer)
        timeEndPeriod(1);
    return ok;
}

}  // namespace

void __cdecl download_worker(void* window)
{
    // The request and the file are filled in as the download opens them.
    WorkerContext context = {};
    context.window = static_cast<HWND>(window);
    post_done(context.window, download_installer(context));
}

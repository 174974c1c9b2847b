// The WinInet requests of a run.
#pragma once
#include <stdint.h>
#include <windows.h>
#include <wininet.h>

#include "buffer_sizes.h"
#include "owners.h"

// The name the program gives itself in every request.
extern const char AGENT_NAME[];

// How long a request may take in all: connecting, the headers, each
// redirection hop and, for a page, the body.
const DWORD REQUEST_DEADLINE_MS = 60000;

// One request, run on a thread of its own so that its caller stops
// waiting at the deadline whatever the server does. Closing the handle
// would not do: wine's WinInet does not end a call that waits on a handle
// when it is closed, and Windows' documentation allows the close only
// while no call uses the handle. The caller and the thread share the
// record; the last to let go of it frees it, so a thread left waiting at
// the deadline keeps what it uses (and asks no further hop). The owners
// close the request first, the session last.
struct BoundedRequest {
    volatile LONG references;
    volatile LONG expired;  // the caller stopped waiting: no further hop
    int ok;                 // the thread's result, once it has ended
    bool read_page;
    InternetHandle session;
    InternetHandle connection;
    InternetHandle request;
    // The URL of each hop, the first the one asked, and the Location that
    // leads to the next.
    char hop_urls[2][URL_BUFFER_SIZE];
    char location[URL_BUFFER_SIZE];
    // A page's body: its first REPLY_BUFFER_SIZE bytes, terminated.
    char reply[REPLY_BLOCK_SIZE];
};

void release_request(BoundedRequest* request);

struct BoundedRequestTraits {
    typedef BoundedRequest* Handle;
    static Handle empty() { return nullptr; }
    static void close(Handle request)
    {
        if (request)
            release_request(request);
    }
};
typedef Owner<BoundedRequestTraits> RequestRef;

// Sends a GET for url (http or https) in a fresh session with the program's
// agent name and the proxy settings of the system: fetched anew, past any
// cache, kept out of the cache, at most MAX_HTTP_REDIRECTIONS redirections
// followed, every wait for the server bounded by the receive timeout, and
// the whole of it by REQUEST_DEADLINE_MS. With read_page, the body is read
// too, within the same deadline, into request's reply. An https URL is
// fetched with the server's certificate checked, and no hop after an https
// one may be plain http. Returns 1 when the response's headers arrived (and
// a page's body, whole) in time: the body can then be read from
// request->request. Returns 0 when the URL is not one, the server cannot be
// reached or does not answer, its certificate fails the checks, there are
// too many redirections, one leads from https to http or names a Location
// that does not fit, a page's body fails or ends short, or the deadline
// passed.
int run_request(const char* url, bool read_page, RequestRef& request);

// Reads what has arrived of the body, up to size bytes, into buffer: waits
// only for the first byte, so that only a server silent for the receive
// timeout fails, however slowly it sends. Returns 1 with *count set (0 at
// the body's end) or 0 when the read fails.
int read_arrived(HINTERNET request, char* buffer, uint32_t size, uint32_t* count);

// The body's length as the server announced it (Content-Length), or
// LENGTH_UNKNOWN.
int64_t announced_length(HINTERNET request);

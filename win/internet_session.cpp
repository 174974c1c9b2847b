#include "internet_session.h"

#include <stdlib.h>

#include <new>

#include "buffer_sizes.h"
#include "system_libraries.h"
#include "text.h"
#include "transfer.h"

const char AGENT_NAME[] = "Polvex Download Manager";

namespace {

// How long a request waits for the server's next bytes, from the response's
// headers to the body's end: Windows' usual default, set so that it does not
// hang on the system's settings. It is set on the request itself because
// wine's WinInet gives a request only the timeouts of the connection it was
// opened on (HTTP_HttpOpenRequestW), and a connection none of the session's
// (HTTP_Connect), so that neither a session's timeout nor InternetOpenUrlA,
// which makes its connection inside, ever reaches the socket there
// (NETCON_set_timeout in HTTP_GetResponseHeaders); nor can a closed handle
// end a read that waits.
const DWORD RECEIVE_TIMEOUT_MS = 30000;

// The certificate checks stay on: no INTERNET_FLAG_IGNORE_CERT_* flag here,
// no SECURITY_FLAG_IGNORE_* option on the request, so that a server whose
// certificate fails them fails the request as if it did not answer.
// Redirections are followed by open_url, one hop at a time.
const DWORD REQUEST_FLAGS =
    INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT;

// Wine 8.0 reads a header line into 4096 bytes and cuts a longer one
// there: a Location that long may have been cut, and is not followed.
const DWORD LONGEST_LOCATION = 4096 - sizeof "Location: ";

// Sends a GET for url on the session of opened, in a connection and a
// request of its own; status gets the reply's HTTP status (0 if unknown).
// Once a request has reached https, a hop to plain http fails it before
// that hop is asked. Returns 1 when the reply's headers arrived.
int send_hop(const char* url, BoundedRequest& opened, bool& secure, DWORD& status)
{
    // The host is copied out to end it; the path is the rest of the URL,
    // its query included.
    char host[INTERNET_MAX_HOST_NAME_LENGTH];
    URL_COMPONENTSA parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = sizeof host;
    parts.dwUrlPathLength = 1;
    if (!InternetCrackUrlA(url, 0, 0, &parts))
        return 0;
    DWORD flags = REQUEST_FLAGS;
    if (parts.nScheme == INTERNET_SCHEME_HTTPS) {
        flags |= INTERNET_FLAG_SECURE;
        secure = true;
    } else if (secure || parts.nScheme != INTERNET_SCHEME_HTTP) {
        return 0;
    }
    // Once its caller has stopped waiting, a request asks no further hop.
    opened.request.reset();
    if (opened.expired)
        return 0;
    opened.connection.reset(InternetConnectA(opened.session.get(), host, parts.nPort, nullptr,
                                             nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!opened.connection)
        return 0;
    opened.request.reset(HttpOpenRequestA(opened.connection.get(), nullptr, parts.lpszUrlPath,
                                          nullptr, nullptr, nullptr, flags, 0));
    if (!opened.request)
        return 0;
    DWORD timeout = RECEIVE_TIMEOUT_MS;
    InternetSetOptionA(opened.request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout,
                       sizeof timeout);
    if (!HttpSendRequestA(opened.request.get(), nullptr, 0, nullptr, 0))
        return 0;
    DWORD size = sizeof status;
    status = 0;
    HttpQueryInfoA(opened.request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                   &size, nullptr);
    return 1;
}

bool is_redirection(DWORD status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Opens the URL of the first hop and follows the redirections.
int open_url(BoundedRequest& opened)
{
    opened.session.reset(
        InternetOpenA(AGENT_NAME, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!opened.session)
        return 0;
    // Wine's WinInet follows a redirection from https to plain http and asks
    // the plain server (Windows' refuses it): each hop is checked here,
    // before it is asked.
    bool secure = false;
    const char* url = opened.hop_urls[0];
    for (int hop = 1;; ++hop) {
        DWORD status;
        if (!send_hop(url, opened, secure, status))
            return 0;
        if (!is_redirection(status))
            return 1;
        // A redirection without a Location is a reply as any other; one
        // whose Location does not fit fails, never followed cut.
        DWORD size = sizeof opened.location;
        if (!HttpQueryInfoA(opened.request.get(), HTTP_QUERY_LOCATION, opened.location, &size,
                            nullptr))
            return GetLastError() == ERROR_HTTP_HEADER_NOT_FOUND;
        char* next = opened.hop_urls[hop & 1];
        DWORD next_size = URL_BUFFER_SIZE;
        if (hop > MAX_HTTP_REDIRECTIONS || size >= LONGEST_LOCATION ||
            !InternetCombineUrlA(url, opened.location, next, &next_size, 0))
            return 0;
        url = next;
    }
}

// The body's first REPLY_BUFFER_SIZE bytes, read as they arrive. A body
// that fails or ends before its announced length is no reply.
int read_page(BoundedRequest& opened)
{
    uint32_t total = 0;
    uint32_t count = 0;
    int ok = 1;
    do {
        count = 0;
        ok = read_arrived(opened.request.get(), opened.reply + total, REPLY_BUFFER_SIZE - total,
                          &count);
        if (count > REPLY_BUFFER_SIZE - total)
            count = 0;
        total += count;
    } while (ok && count != 0 && total < REPLY_BUFFER_SIZE);
    opened.reply[total] = '\0';
    int64_t announced = announced_length(opened.request.get());
    return ok && (total == REPLY_BUFFER_SIZE || announced == LENGTH_UNKNOWN || announced == total);
}

DWORD WINAPI request_thread(void* request)
{
    BoundedRequest* opened = static_cast<BoundedRequest*>(request);
    opened->ok = open_url(*opened) && (!opened->read_page || read_page(*opened));
    release_request(opened);
    return 0;
}

// A record of its own for each request: the one a thread left waiting at
// the deadline still works on stays its own.
BoundedRequest* new_request()
{
    void* block = malloc(sizeof(BoundedRequest));
    return block ? new (block) BoundedRequest() : nullptr;
}

}  // namespace

void release_request(BoundedRequest* request)
{
    if (InterlockedDecrement(&request->references) == 0) {
        request->~BoundedRequest();
        free(request);
    }
}

int run_request(const char* url, bool read_page, RequestRef& request)
{
    if (!system_library_ready(SYSTEM_WININET))
        return 0;
    request.reset(new_request());
    if (!request)
        return 0;
    BoundedRequest& opened = *request.get();
    opened.references = 2;  // the caller's and the thread's
    opened.read_page = read_page;
    KernelHandle thread;
    if (copy_text(opened.hop_urls[0], URL_BUFFER_SIZE, url))
        thread.reset(CreateThread(nullptr, 0, request_thread, &opened, 0, nullptr));
    if (!thread) {
        InterlockedDecrement(&opened.references);  // no thread holds it
        return 0;
    }
    if (WaitForSingleObject(thread.get(), REQUEST_DEADLINE_MS) == WAIT_OBJECT_0)
        return opened.ok;
    InterlockedExchange(&opened.expired, 1);
    return 0;
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

// A read of a fixed size would wait for all of it, and a link slower than
// size bytes in the receive timeout would fail while still moving; waiting
// only for the first byte (InternetQueryDataAvailable) leaves the request's
// receive timeout to end only a server that has sent nothing for that long.
// At the body's end nothing is available and the read reports the end.
int read_arrived(HINTERNET request, char* buffer, uint32_t size, uint32_t* count)
{
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

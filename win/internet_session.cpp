#include "internet_session.h"

#include "limits.h"
#include "system_libraries.h"

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

// The URLs of a request's hops and the Location that leads to the next:
// static, since requests run one at a time and stack buffers this large
// would need stack probes.
char hop_urls[2][URL_BUFFER_SIZE];
char location[URL_BUFFER_SIZE];

// Sends a GET for url on the session of opened, in a connection and a
// request of its own; status gets the reply's HTTP status (0 if unknown).
// Once a request has reached https, a hop to plain http fails it before
// that hop is asked. Returns 1 when the reply's headers arrived.
int send_hop(const char* url, UrlRequest& opened, bool& secure, DWORD& status)
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
    opened.request.reset();
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

}  // namespace

int open_url(const char* url, UrlRequest& opened)
{
    if (!system_library_ready(SYSTEM_WININET))
        return 0;
    opened.session.reset(
        InternetOpenA(AGENT_NAME, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!opened.session)
        return 0;
    // Wine's WinInet follows a redirection from https to plain http and asks
    // the plain server (Windows' refuses it): each hop is checked here,
    // before it is asked.
    bool secure = false;
    for (int hop = 0;; ++hop) {
        DWORD status;
        if (!send_hop(url, opened, secure, status))
            return 0;
        DWORD size = sizeof location;
        // A redirection without a Location is a reply as any other.
        if ((status != 301 && status != 302 && status != 303 && status != 307 && status != 308) ||
            !HttpQueryInfoA(opened.request.get(), HTTP_QUERY_LOCATION, location, &size, nullptr))
            return 1;
        char* next = hop_urls[hop & 1];
        DWORD next_size = URL_BUFFER_SIZE;
        if (hop == MAX_HTTP_REDIRECTIONS || !InternetCombineUrlA(url, location, next, &next_size, 0))
            return 0;
        url = next;
    }
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

#include "internet_session.h"

#include "limits.h"
#include "system_libraries.h"
#include "text.h"

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
const DWORD REQUEST_FLAGS = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;

// The URL an https request ended at: the longest URL the program asks for,
// static since requests run one at a time and a stack buffer this large
// would need stack probes.
char ended_url[URL_BUFFER_SIZE];

// Whether an https request stayed https through the redirections WinInet
// followed. Windows' WinInet refuses a redirection from https to plain http
// by itself, but wine's follows it and reads the plain page, so the
// program reads back where the request ended rather than handling every
// redirection itself. A URL too long to read back counts as plain.
int ended_secure(HINTERNET request)
{
    DWORD size = sizeof ended_url;
    return InternetQueryOptionA(request, INTERNET_OPTION_URL, ended_url, &size) &&
           starts_with_ignoring_case(ended_url, "https:");
}

}  // namespace

int open_url(const char* url, UrlRequest& opened)
{
    if (!system_library_ready(SYSTEM_WININET))
        return 0;
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
    if (parts.nScheme == INTERNET_SCHEME_HTTPS)
        flags |= INTERNET_FLAG_SECURE;
    else if (parts.nScheme != INTERNET_SCHEME_HTTP)
        return 0;
    opened.session.reset(
        InternetOpenA(AGENT_NAME, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!opened.session)
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
    return !(flags & INTERNET_FLAG_SECURE) || ended_secure(opened.request.get());
}

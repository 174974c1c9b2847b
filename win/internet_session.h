// The WinInet requests of a run.
#pragma once
#include <stdint.h>
#include <windows.h>
#include <wininet.h>

#include "owners.h"

// The name the program gives itself in every request.
extern const char AGENT_NAME[];

// One request and the handles it goes through; the owners close the request
// first, the session last.
struct UrlRequest {
    InternetHandle session;
    InternetHandle connection;
    InternetHandle request;
};

// Sends a GET for url (http or https) in a fresh session with the program's
// agent name and the proxy settings of the system: fetched anew, past any
// cache, kept out of the cache, at most MAX_HTTP_REDIRECTIONS redirections
// followed, and every wait for the server bounded. An https URL is fetched
// with the server's certificate checked, and no hop after an https one may
// be plain http. Returns 1 when the response's headers arrived and its body
// can be read from opened.request; 0 when the URL is not one, the server
// cannot be reached or does not answer, its certificate fails the checks,
// there are too many redirections or one leads from https to http.
int open_url(const char* url, UrlRequest& opened);

// Reads what has arrived of the body, up to size bytes, into buffer: waits
// only for the first byte, so that only a server silent for the receive
// timeout fails, however slowly it sends. Returns 1 with *count set (0 at
// the body's end) or 0 when the read fails.
int read_arrived(HINTERNET request, char* buffer, uint32_t size, uint32_t* count);

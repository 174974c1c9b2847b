// The WinInet requests of a run.
#pragma once
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
// cache, kept out of the cache, redirections followed, and every wait for
// the server bounded. An https URL is fetched with the server's certificate
// checked, and must not be redirected to plain http. Returns 1 when the
// response's headers arrived and its body can be read from opened.request;
// 0 when the URL is not one, the server cannot be reached or does not
// answer, its certificate fails the checks or an https request ended at
// http.
int open_url(const char* url, UrlRequest& opened);

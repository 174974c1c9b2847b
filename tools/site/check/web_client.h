// What dlmtool site check asks of the web: pages fetched as the program
// fetches them, and the status and length of an installer.
#pragma once
#include <stdint.h>

#include <string>

struct InstallerProbe {
    bool answered = false;  // false: the URL could not be opened at all
    long status = 0;        // HTTP status of the final answer
    int64_t length = -1;    // bytes of the body; -1 when unknown
    std::string error;      // why there was no answer
};

// A whole file fetched with GET.
struct FetchedFile {
    bool answered = false;  // false: the URL could not be opened at all
    long status = 0;
    std::string body;
    std::string error;  // why there was no answer
};

// What bounds every request, so that no server holds a check for ever.
// Reaching a bound fails that request.
struct WebLimits {
    long connect_seconds = 15;             // to open the connection
    long total_seconds = 120;              // for the whole request, redirections included
    uint64_t max_body_bytes = 1ULL << 30;  // of an installer or a file (a page: the
                                           // program's reply buffer)
    // The roots an https server's certificate must chain to, as a PEM
    // file in place of the system's (a test root); empty: the system's.
    // The checks themselves are libcurl's defaults and stay on.
    std::string ca_file;
};

class WebClient {
public:
    virtual ~WebClient() = default;
    // As the program's page fetcher: url's body, at most REPLY_BUFFER_SIZE
    // bytes, terminated, into reply (REPLY_BLOCK_SIZE bytes); the empty text
    // and 0 when the URL cannot be opened.
    virtual int fetch_page(const char* url, char* reply) = 0;
    // HTTP status of the last fetch_page; 0 when it had no answer.
    virtual long last_status() const = 0;
    // Why the last fetch_page failed; empty when it did not.
    virtual std::string last_error() const = 0;
    virtual InstallerProbe probe_installer(const std::string& url) = 0;
    // The whole body of url, at most --max-size bytes.
    virtual FetchedFile fetch_file(const std::string& url) = 0;
    // The body of url written to the open file fd, at most --max-size
    // bytes: the status, and the length written, as a probe has them.
    virtual InstallerProbe fetch_to_file(const std::string& url, int fd) = 0;
};

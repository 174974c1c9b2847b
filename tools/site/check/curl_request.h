// One libcurl request with the settings that every request of site check
// shares: http and https only, bounded in time and size, never from a
// cache on the way.
#pragma once
#include <stdint.h>

#include <string>

#include <curl/curl.h>

#include "site/check/web_client.h"

// A body kept or counted, up to a limit; past it the transfer ends.
struct BoundedBody {
    BoundedBody(uint64_t most, std::string* keep, int file = -1) : limit(most), kept(keep), fd(file) {}

    uint64_t limit;
    std::string* kept;  // null: only counted, or written to fd
    int fd;             // a file the body is written to; -1: none
    uint64_t length = 0;
    bool too_large = false;
    std::string not_written;  // why writing to fd failed
};

// One easy handle with the settings every request shares.
struct CurlRequest {
    CURL* curl;
    curl_slist* headers = nullptr;
    char error[CURL_ERROR_SIZE] = "";
    const WebLimits& limits;
    std::string location;  // of the last answer that had one, for messages
    bool secure;           // an https URL: it must stay https, as in the program

    CurlRequest(const std::string& url, const WebLimits& bounds);
    ~CurlRequest();
    CurlRequest(const CurlRequest&) = delete;
    CurlRequest& operator=(const CurlRequest&) = delete;

    // Reads the body into body, within its limit.
    CURLcode perform(BoundedBody* body);
    long status() const;
    // Why a request failed, naming the option that sets a limit it reached.
    std::string reason(CURLcode result, const BoundedBody* body = nullptr) const;
};

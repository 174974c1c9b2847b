#include "site/check/curl_request.h"

#include <string.h>
#include <strings.h>

#include "files/descriptor.h"
#include "buffer_sizes.h"
#include "text.h"

namespace {

const char AGENT_NAME[] = "Polvex Download Manager";

bool write_all(int fd, const char* data, size_t size)
{
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

size_t take_bounded_bytes(char* data, size_t size, size_t count, void* context)
{
    BoundedBody& body = *static_cast<BoundedBody*>(context);
    size_t bytes = size * count;
    if (bytes > body.limit - body.length) {
        body.too_large = true;
        return 0;  // ends the transfer
    }
    if (body.kept)
        body.kept->append(data, bytes);
    if (body.fd >= 0 && !write_all(body.fd, data, bytes)) {
        body.not_written = system_error_text();
        return 0;  // ends the transfer
    }
    body.length += bytes;
    return bytes;
}

// Keeps the value of a Location header line, as it came.
size_t note_location(char* data, size_t size, size_t count, void* context)
{
    const char NAME[] = "location:";
    const size_t bytes = size * count;
    std::string line(data, bytes);
    if (bytes >= sizeof NAME - 1 && strncasecmp(data, NAME, sizeof NAME - 1) == 0) {
        size_t start = line.find_first_not_of(" \t", sizeof NAME - 1);
        size_t end = line.find_last_not_of("\r\n");
        std::string& location = *static_cast<std::string*>(context);
        location = start == std::string::npos || end < start ? std::string()
                                                              : line.substr(start, end - start + 1);
    }
    return bytes;
}

}  // namespace

CurlRequest::CurlRequest(const std::string& url, const WebLimits& bounds)
    : curl(curl_easy_init()), limits(bounds), secure(starts_with_ignoring_case(url.c_str(), "https:"))
{
    if (!curl)
        return;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    // A server must not make the tool speak to anything else (a mail
    // or key-value service on the vendor's network, a local file).
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
    curl_easy_setopt(curl, CURLOPT_USERAGENT, AGENT_NAME);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    // As many redirections as the program follows for one request.
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, static_cast<long>(MAX_HTTP_REDIRECTIONS));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, limits.connect_seconds);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, limits.total_seconds);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, note_location);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &location);
    // Always from the server: no cache on the way may answer.
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Pragma: no-cache");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    if (!limits.ca_file.empty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, limits.ca_file.c_str());
}

CurlRequest::~CurlRequest()
{
    if (curl)
        curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
}

CURLcode CurlRequest::perform(BoundedBody* body)
{
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(body->limit));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, take_bounded_bytes);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, body);
    CURLcode result = curl_easy_perform(curl);
    if (result == CURLE_FILESIZE_EXCEEDED)
        body->too_large = true;
    return result;
}

long CurlRequest::status() const
{
    long code = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    return code;
}

std::string CurlRequest::reason(CURLcode result, const BoundedBody* body) const
{
    std::string text = error[0] ? std::string(error) : std::string(curl_easy_strerror(result));
    if (body && !body->not_written.empty())
        return "cannot write the temporary file: " + body->not_written;
    if (body && body->too_large)
        return "larger than the limit of " + std::to_string(body->limit) +
               " bytes (--max-size)";
    if (result == CURLE_OPERATION_TIMEDOUT)
        return text + " (limits: --connect-timeout " + std::to_string(limits.connect_seconds) +
               ", --max-time " + std::to_string(limits.total_seconds) + ")";
    if (result == CURLE_UNSUPPORTED_PROTOCOL && secure &&
        starts_with_ignoring_case(location.c_str(), "http:"))
        return "redirected from https to " + location + ", which the program refuses";
    if (result == CURLE_UNSUPPORTED_PROTOCOL)
        return location.empty() ? "only http and https are followed (" + text + ")"
                                : "redirected to " + location +
                                      ", but only http and https are followed";
    return text;
}

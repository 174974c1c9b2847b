#include "site/web_client.h"

#include <string.h>
#include <strings.h>

#include <algorithm>

#include <curl/curl.h>

#include "limits.h"
#include "text.h"

namespace {

const char AGENT_NAME[] = "Polvex Download Manager";
// The program's client follows HTTP redirections by itself; a bound keeps a
// redirection loop from holding the check.
const long MAX_HTTP_REDIRECTIONS = 10;

// A body being read into the reply block, cut at the reply buffer's size.
struct PageBody {
    char* reply;
    size_t length = 0;
    bool full = false;
};

size_t take_page_bytes(char* data, size_t size, size_t count, void* context)
{
    PageBody& body = *static_cast<PageBody*>(context);
    size_t bytes = size * count;
    size_t room = REPLY_BUFFER_SIZE - body.length;
    size_t taken = bytes < room ? bytes : room;
    memcpy(body.reply + body.length, data, taken);
    body.length += taken;
    if (body.length == REPLY_BUFFER_SIZE && taken < bytes) {
        // The program reads once, at most the buffer's size; the rest of the
        // body is never read. Ending the transfer here does the same.
        body.full = true;
        return 0;
    }
    return bytes;
}

// A body kept or counted, up to a limit; past it the transfer ends.
struct BoundedBody {
    uint64_t limit;
    std::string* kept;  // null: only counted
    uint64_t length = 0;
    bool too_large = false;
};

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

// One easy handle with the settings every request shares.
struct Request {
    CURL* curl;
    curl_slist* headers = nullptr;
    char error[CURL_ERROR_SIZE] = "";
    const WebLimits& limits;
    std::string location;  // of the last answer that had one, for messages
    bool secure;           // an https URL: it must stay https, as in the program

    Request(const std::string& url, const WebLimits& bounds)
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
        curl_easy_setopt(curl, CURLOPT_MAXREDIRS, MAX_HTTP_REDIRECTIONS);
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
    ~Request()
    {
        if (curl)
            curl_easy_cleanup(curl);
        curl_slist_free_all(headers);
    }
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    // Reads the body into body, within its limit.
    CURLcode perform(BoundedBody* body)
    {
        curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(body->limit));
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, take_bounded_bytes);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, body);
        CURLcode result = curl_easy_perform(curl);
        if (result == CURLE_FILESIZE_EXCEEDED)
            body->too_large = true;
        return result;
    }

    long status() const
    {
        long code = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
        return code;
    }
    // Why a request failed, naming the option that sets a limit it reached.
    std::string reason(CURLcode result, const BoundedBody* body = nullptr) const
    {
        std::string text = error[0] ? std::string(error) : std::string(curl_easy_strerror(result));
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
};

}  // namespace

CurlWebClient::CurlWebClient(const WebLimits& limits) : limits_(limits)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
}

CurlWebClient::~CurlWebClient()
{
    curl_global_cleanup();
}

int CurlWebClient::fetch_page(const char* url, char* reply)
{
    reply[0] = '\0';
    last_status_ = 0;
    last_error_.clear();
    Request request(url, limits_);
    if (!request.curl) {
        last_error_ = "cannot start a request";
        return 0;
    }
    PageBody body{reply};
    curl_easy_setopt(request.curl, CURLOPT_WRITEFUNCTION, take_page_bytes);
    curl_easy_setopt(request.curl, CURLOPT_WRITEDATA, &body);
    CURLcode result = curl_easy_perform(request.curl);
    last_status_ = request.status();
    if (result != CURLE_OK && !body.full)
        last_error_ = request.reason(result);
    bool read = result == CURLE_OK || (result == CURLE_WRITE_ERROR && body.full);
    // A read that fails leaves nothing, as the program's read normally does;
    // every answer, an error status included, is the body.
    reply[read ? body.length : 0] = '\0';
    return read ? 1 : 0;
}

namespace {

// Asks for the head only. Returns true when that settles the probe: status
// 200 with a length, or a failure that a GET would only repeat (a limit
// reached, a scheme refused).
bool probe_head(const std::string& url, const WebLimits& limits, InstallerProbe* probe)
{
    Request head(url, limits);
    if (!head.curl)
        return false;
    curl_easy_setopt(head.curl, CURLOPT_NOBODY, 1L);
    CURLcode result = curl_easy_perform(head.curl);
    if (result == CURLE_OPERATION_TIMEDOUT || result == CURLE_UNSUPPORTED_PROTOCOL) {
        probe->error = head.reason(result);
        return true;
    }
    curl_off_t length = -1;
    curl_easy_getinfo(head.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (result != CURLE_OK || head.status() != 200 || length < 0)
        return false;
    probe->answered = true;
    probe->status = 200;
    probe->length = length;
    return true;
}

}  // namespace

InstallerProbe CurlWebClient::probe_installer(const std::string& url)
{
    InstallerProbe probe;
    if (probe_head(url, limits_, &probe))
        return probe;
    // No length from HEAD, or no HEAD at all, or an answer that GET may
    // not give (some servers refuse HEAD): fetch the body and count it.
    probe.error = "cannot start a request";
    Request get(url, limits_);
    if (!get.curl)
        return probe;
    BoundedBody counted{limits_.max_body_bytes, nullptr};
    CURLcode result = get.perform(&counted);
    probe = InstallerProbe();
    if (result != CURLE_OK) {
        probe.error = get.reason(result, &counted);
        return probe;
    }
    probe.answered = true;
    probe.status = get.status();
    probe.length = static_cast<int64_t>(counted.length);
    return probe;
}

FetchedFile CurlWebClient::fetch_file(const std::string& url)
{
    FetchedFile file;
    Request get(url, limits_);
    if (!get.curl) {
        file.error = "cannot start a request";
        return file;
    }
    BoundedBody kept{std::min<uint64_t>(limits_.max_body_bytes, MAX_FETCHED_FILE), &file.body};
    CURLcode result = get.perform(&kept);
    if (result != CURLE_OK) {
        file.error = get.reason(result, &kept);
        file.body.clear();
        return file;
    }
    file.answered = true;
    file.status = get.status();
    return file;
}

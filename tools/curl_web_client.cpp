#include "web_client.h"

#include <string.h>

#include <curl/curl.h>

#include "limits.h"

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

size_t keep_bytes(char* data, size_t size, size_t count, void* context)
{
    std::string& body = *static_cast<std::string*>(context);
    if (size * count > MAX_FETCHED_FILE - body.size())
        return 0;  // ends the transfer: far too large for a copy of the program
    body.append(data, size * count);
    return size * count;
}

size_t count_bytes(char*, size_t size, size_t count, void* context)
{
    *static_cast<int64_t*>(context) += static_cast<int64_t>(size * count);
    return size * count;
}

// One easy handle with the settings every request shares.
struct Request {
    CURL* curl;
    curl_slist* headers = nullptr;
    char error[CURL_ERROR_SIZE] = "";

    Request(const std::string& url, long seconds) : curl(curl_easy_init())
    {
        if (!curl)
            return;
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_USERAGENT, AGENT_NAME);
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(curl, CURLOPT_MAXREDIRS, MAX_HTTP_REDIRECTIONS);
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, seconds);
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
        // Always from the server: no cache on the way may answer.
        headers = curl_slist_append(headers, "Cache-Control: no-cache");
        headers = curl_slist_append(headers, "Pragma: no-cache");
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    }
    ~Request()
    {
        if (curl)
            curl_easy_cleanup(curl);
        curl_slist_free_all(headers);
    }
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    long status() const
    {
        long code = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
        return code;
    }
    std::string reason(CURLcode result) const
    {
        return error[0] ? std::string(error) : std::string(curl_easy_strerror(result));
    }
};

}  // namespace

CurlWebClient::CurlWebClient(long seconds) : seconds_(seconds)
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
    Request request(url, seconds_);
    if (!request.curl) {
        last_error_ = "cannot start a request";
        return 0;
    }
    PageBody body{reply};
    curl_easy_setopt(request.curl, CURLOPT_TIMEOUT, seconds_);
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

// Asks for the head only. Returns true with status 200 and the length when
// the server tells both.
bool probe_head(const std::string& url, long seconds, InstallerProbe* probe)
{
    Request head(url, seconds);
    if (!head.curl)
        return false;
    curl_easy_setopt(head.curl, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(head.curl, CURLOPT_TIMEOUT, seconds);
    if (curl_easy_perform(head.curl) != CURLE_OK)
        return false;
    curl_off_t length = -1;
    curl_easy_getinfo(head.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    if (head.status() != 200 || length < 0)
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
    probe.error = "cannot start a request";
    if (probe_head(url, seconds_, &probe))
        return probe;
    // No length from HEAD, or no HEAD at all, or an answer that GET may
    // not give (some servers refuse HEAD): fetch the body and count it,
    // giving up only when no byte arrives for a while.
    Request get(url, seconds_);
    if (!get.curl)
        return probe;
    int64_t counted = 0;
    curl_easy_setopt(get.curl, CURLOPT_WRITEFUNCTION, count_bytes);
    curl_easy_setopt(get.curl, CURLOPT_WRITEDATA, &counted);
    curl_easy_setopt(get.curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(get.curl, CURLOPT_LOW_SPEED_TIME, seconds_);
    CURLcode result = curl_easy_perform(get.curl);
    probe = InstallerProbe();
    if (result != CURLE_OK) {
        probe.error = get.reason(result);
        return probe;
    }
    probe.answered = true;
    probe.status = get.status();
    probe.length = counted;
    return probe;
}

FetchedFile CurlWebClient::fetch_file(const std::string& url)
{
    FetchedFile file;
    Request get(url, seconds_);
    if (!get.curl) {
        file.error = "cannot start a request";
        return file;
    }
    curl_easy_setopt(get.curl, CURLOPT_WRITEFUNCTION, keep_bytes);
    curl_easy_setopt(get.curl, CURLOPT_WRITEDATA, &file.body);
    curl_easy_setopt(get.curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(get.curl, CURLOPT_LOW_SPEED_TIME, seconds_);
    CURLcode result = curl_easy_perform(get.curl);
    if (result != CURLE_OK) {
        file.error = get.reason(result);
        file.body.clear();
        return file;
    }
    file.answered = true;
    file.status = get.status();
    return file;
}

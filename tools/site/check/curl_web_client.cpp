#include "site/check/curl_web_client.h"

#include <string.h>


#include <curl/curl.h>

#include "buffer_sizes.h"
#include "site/check/curl_request.h"

namespace {

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
    CurlRequest request(url, limits_);
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
    CurlRequest head(url, limits);
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
    CurlRequest get(url, limits_);
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
    CurlRequest get(url, limits_);
    if (!get.curl) {
        file.error = "cannot start a request";
        return file;
    }
    BoundedBody kept{limits_.max_body_bytes, &file.body};
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

InstallerProbe CurlWebClient::fetch_to_file(const std::string& url, int fd)
{
    InstallerProbe fetched;
    fetched.error = "cannot start a request";
    CurlRequest get(url, limits_);
    if (!get.curl)
        return fetched;
    BoundedBody written{limits_.max_body_bytes, nullptr, fd};
    CURLcode result = get.perform(&written);
    if (result != CURLE_OK) {
        fetched.error = get.reason(result, &written);
        return fetched;
    }
    fetched = InstallerProbe();
    fetched.answered = true;
    fetched.status = get.status();
    fetched.length = static_cast<int64_t>(written.length);
    return fetched;
}

#include "site_resolution.h"

#include <stdint.h>
#include <stdlib.h>

#include "cipher.h"
#include "buffer_sizes.h"
#include "reply_record.h"

namespace {

// Whether the reply names a download directory that fits the URL buffer;
// one that does not fit, or is no URL to ask, counts as absent, as it does
// for sUrl.
bool has_download_dir(const char* reply)
{
    const char* value = find_field(reply, "sDlurl");
    return value && is_url_value(value) && expanded_value_size(value) <= URL_BUFFER_SIZE;
}

// Follows one chain from the URL in url. Returns the last verdict: 0 when
// the last reply names the download directory (or ends the search at once).
int32_t run_chain(char* url, char* reply, const PageFetcher& fetcher)
{
    int32_t verdict = -1;
    for (int redirections = 0;; ++redirections) {
        fetcher.fetch(fetcher.context, url, reply);
        decipher_reply(reply);
        if (!get_int_field(reply, "iFlag", &verdict))
            return verdict;
        // A missing sUrl, one too long for the buffer or no URL to ask leaves
        // url as it was.
        if (!get_url_field(reply, "sUrl", url, URL_BUFFER_SIZE))
            return verdict;
        if (verdict == 0 && has_download_dir(reply))
            return verdict;
        verdict = -1;
        // A server that keeps redirecting must not hold the window forever.
        if (redirections == MAX_REDIRECTIONS)
            return verdict;
    }
}

}  // namespace

int resolve_download_site(char** url_buffer, char** reply_buffer, const char* bootstrap_1,
                          const char* bootstrap_2, const PageFetcher& fetcher)
{
    *url_buffer = static_cast<char*>(malloc(URL_BUFFER_SIZE));
    *reply_buffer = static_cast<char*>(malloc(REPLY_BLOCK_SIZE));
    if (!*url_buffer || !*reply_buffer)
        return 0;
    char* url = *url_buffer;
    char* reply = *reply_buffer;
    url[0] = '\0';
    reply[0] = '\0';

    const char* bootstraps[2] = {bootstrap_1, bootstrap_2};
    int32_t verdict = -1;
    for (const char* bootstrap : bootstraps) {
        decipher_into(bootstrap, url, URL_BUFFER_SIZE);
        verdict = run_chain(url, reply, fetcher);
        if (verdict == 0)
            break;
    }
    if (verdict != 0)
        return 0;
    return get_url_field(reply, "sDlurl", url, URL_BUFFER_SIZE);
}

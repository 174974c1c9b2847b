// Finds the download directory URL by following the chain of enciphered
// replies from the two bootstrap URLs.
#pragma once

#include "page_fetcher.h"

// Allocates the URL buffer and the reply block into *url_buffer and
// *reply_buffer (they stay set even on failure, for the caller to free),
// deciphers each bootstrap URL into the URL buffer as its chain starts (the
// bootstraps themselves stay enciphered) and follows the chains. Returns 1
// with the download directory URL in *url_buffer, 0 otherwise.
int resolve_download_site(char** url_buffer, char** reply_buffer, const char* bootstrap_1,
                          const char* bootstrap_2, const PageFetcher& fetcher);

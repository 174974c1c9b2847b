// What site resolution and the manifest step need from an HTTP client.
#pragma once

// Fetches url into reply, a block of REPLY_BLOCK_SIZE bytes, as a terminated
// text: at most the first REPLY_BUFFER_SIZE bytes of the body, or the empty
// text when the URL cannot be opened. Returns 1 when the body was read.
typedef int (*FetchPageFn)(void* context, const char* url, char* reply);

struct PageFetcher {
    FetchPageFn fetch;
    void* context;
};

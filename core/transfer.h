// The download worker's transfer loop: read a chunk, pause, write it, count
// it, report it; until the body ends or something fails.
#pragma once
#include <stdint.h>

#include <atomic>

struct TransferIo {
    // Reads up to size bytes. Returns 1 with *count set (0 at the end of the
    // body) or 0 on failure (with whatever count the read left).
    int (*read)(void* context, char* buffer, uint32_t size, uint32_t* count);
    // Writes count bytes; returns the number written.
    int64_t (*write)(void* context, const char* buffer, uint32_t count);
    // The pause after every read.
    void (*pause)(void* context);
    // Tells the window that a chunk arrived; ok is the running success flag.
    void (*post_progress)(void* context, int ok);
    void* context;
};

const int64_t LENGTH_UNKNOWN = -1;

// Runs the loop over a chunk buffer of CHUNK_SIZE bytes. announced_length is
// the length the server announced, or LENGTH_UNKNOWN: a body that ends
// before it is a failure. Without it the manifest's size (or LENGTH_UNKNOWN)
// takes its place, and also bounds the body: a byte past that size fails
// the transfer and is never written. Returns the success flag (1 or 0).
int run_transfer(const TransferIo& io, char* chunk, std::atomic<int32_t>& received,
                 int64_t announced_length, int64_t manifest_size);

// Appends the installer name to the download directory URL. Returns 0,
// leaving the URL as it was, when the full URL would not fit.
int join_installer_url(char* download_url, uint32_t url_size, const char* installer_name);

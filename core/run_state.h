// The one record of a run: buffers, handles, counters and cursors shared by
// the dialog thread and the download worker. One process is one run: it is
// set up at start and never reset.
#pragma once
#include <stdint.h>

#include <atomic>

#include "buffer_sizes.h"

// Window, bitmap and module handles are kept as plain pointers so that the
// platform-free code needs no platform headers.
typedef void* NativeHandle;

struct RunState {
    NativeHandle status_box;     // the status box of the download window
    const char* language_code;   // one of language_codes, never a copy
    char* url_buffer;            // URL_BUFFER_SIZE bytes, from site resolution
    char* reply_buffer;          // REPLY_BLOCK_SIZE bytes, from site resolution
    char* ticker_start;          // first news line, inside reply_buffer
    char* ticker_pos;            // the news line the next tick shows first
    int32_t total_bytes;         // installer size announced by the manifest
    // Written by the download worker only, read by the painter; saturates
    // at INT32_MAX instead of overflowing.
    std::atomic<int32_t> received_bytes;
    int32_t ticker_timer;        // -1 until the ticker timer is started
    NativeHandle progress_bitmap;
    char installer_name[INSTALLER_NAME_SIZE];
    char status_text[STATUS_TEXT_SIZE];
    char download_url[DOWNLOAD_URL_SIZE];
    NativeHandle app_instance;
    // The installer file, opened by the download worker so that nobody else
    // can write, rename or delete it, once its content was checked; set
    // before UM_DONE reports success. The launch takes it, and closes it
    // after the start.
    NativeHandle installer_file;
};

// Sets every field to its value at program start.
void reset_run_state(RunState& state);

// The run of this process. Zero until the entry point resets it.
extern RunState run_state;

// Adds a chunk to received_bytes without overflowing.
void add_received_bytes(std::atomic<int32_t>& received, uint32_t count);

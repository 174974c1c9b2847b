#include "run_state.h"

#include <string.h>

#include "language.h"

// Left all zero here, so that its buffers take no room in the executable;
// the entry point sets the start values with reset_run_state first thing.
RunState run_state;

void reset_run_state(RunState& state)
{
    state.status_box = nullptr;
    state.language_code = default_language_code;
    state.url_buffer = nullptr;
    state.reply_buffer = nullptr;
    state.ticker_start = nullptr;
    state.ticker_pos = nullptr;
    state.total_bytes = 0;
    state.received_bytes.store(0);
    state.ticker_timer = -1;
    state.progress_bitmap = nullptr;
    memset(state.installer_name, 0, sizeof state.installer_name);
    memset(state.status_text, 0, sizeof state.status_text);
    memset(state.download_url, 0, sizeof state.download_url);
    state.app_instance = nullptr;
    state.installer_file = nullptr;
}

void add_received_bytes(std::atomic<int32_t>& received, uint32_t count)
{
    // One writer only, so a load and a store are enough.
    int64_t sum = static_cast<int64_t>(received.load()) + count;
    received.store(sum > INT32_MAX ? INT32_MAX : static_cast<int32_t>(sum));
}

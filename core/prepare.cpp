#include "prepare.h"

#include <string.h>

#include "manifest.h"
#include "site_resolution.h"
#include "text.h"

PrepareOutcome prepare_download_steps(RunState& state, const PrepareSources& sources)
{
    if (!resolve_download_site(&state.url_buffer, &state.reply_buffer, sources.bootstrap_1,
                               sources.bootstrap_2, sources.fetcher))
        return PREPARE_CONNECT_FAILED;

    // A directory URL that leaves no room for the installer name cannot be
    // downloaded from: treat it like a site that could not be found.
    if (strlen(state.url_buffer) > MAX_DOWNLOAD_DIR_URL)
        return PREPARE_CONNECT_FAILED;
    copy_text(state.download_url, sizeof state.download_url, state.url_buffer);

    if (!choose_package(sources.system_dir, sources.versions, state.language_code,
                        state.url_buffer, URL_BUFFER_SIZE, state.installer_name,
                        sizeof state.installer_name))
        return PREPARE_CONNECT_FAILED;

    if (!sources.fetcher.fetch(sources.fetcher.context, state.url_buffer, state.reply_buffer))
        return PREPARE_PARSE_FAILED;
    int32_t total = 0;
    char* ticker_start = nullptr;
    int parsed = parse_manifest(state.reply_buffer, &ticker_start, &total);
    if (ticker_start) {
        state.ticker_start = ticker_start;
        state.ticker_pos = ticker_start;
    }
    if (!parsed)
        return PREPARE_PARSE_FAILED;
    state.total_bytes = total;
    return PREPARE_READY;
}

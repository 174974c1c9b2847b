#include "prepare_download.h"

#include <process.h>

#include "download_worker.h"
#include "ids.h"
#include "buffer_sizes.h"
#include "prepare.h"
#include "program_constants.h"
#include "run_state.h"
#include "status_box.h"
#include "stored_texts.h"

int prepare_download(HWND dialog)
{
    char system_dir[SYSTEM_DIR_SIZE];
    UINT dir_len = GetSystemDirectoryA(system_dir, sizeof system_dir);
    PrepareSources sources;
    sources.bootstrap_1 = stored_bootstrap_url_1;
    sources.bootstrap_2 = stored_bootstrap_url_2;
    // Without a system directory the survey cannot run: it counts as stopped.
    sources.system_dir = (dir_len > 0 && dir_len < sizeof system_dir) ? system_dir : nullptr;
    sources.fetcher = PageFetcher{fetch_page, nullptr};
    sources.versions = VersionReader{read_file_version, nullptr};

    switch (prepare_download_steps(run_state, sources)) {
    case PREPARE_CONNECT_FAILED:
        show_error(dialog, IDS_ERR_CONNECT);
        return 1;
    case PREPARE_PARSE_FAILED:
        show_error(dialog, IDS_ERR_PARSE);
        return 1;
    case PREPARE_READY:
        break;
    }
    // Without a worker no UM_DONE would ever come.
    if (_beginthread(download_worker, 0, dialog) == static_cast<uintptr_t>(-1)) {
        show_error(dialog, IDS_ERR_NETWORK);
        return 1;
    }
    run_state.ticker_timer =
        static_cast<int32_t>(SetTimer(dialog, TICKER_TIMER_ID, TICKER_PERIOD_MS, nullptr));
    return 0;
}

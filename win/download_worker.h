// The download worker: a thread that writes the installer file from the
// download URL and reports to the download window.
#pragma once

// The thread's entry (_beginthread), given the download window. It joins
// the installer name to run_state.download_url, transfers the body into
// INSTALLER_FILE_NAME, posting UM_PROGRESS after every read, and posts
// UM_DONE exactly once, as its last act, wParam telling how it ended.
// A build that checks the installer's signer checks it here, before
// UM_DONE, so that the window keeps answering meanwhile.
void __cdecl download_worker(void* window);

// UM_DONE's wParam.
enum DownloadResult {
    DOWNLOAD_FAILED = 0,   // the network error
    DOWNLOAD_DONE = 1,     // the whole body arrived (and was checked), held
    DOWNLOAD_REFUSED = 2,  // the whole body arrived and failed its check
};

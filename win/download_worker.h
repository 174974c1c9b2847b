// The download worker: a thread that writes the installer file from the
// download URL and reports to the download window.
#pragma once

// The thread's entry (_beginthread), given the download window. It joins
// the installer name to run_state.download_url, transfers the body into
// INSTALLER_FILE_NAME, posting UM_PROGRESS after every read, and posts
// UM_DONE exactly once, as its last act (wParam 1: the whole body arrived).
void __cdecl download_worker(void* window);

// The preparation of a download, from site resolution to a parsed manifest.
#pragma once

#include "package.h"
#include "page_fetcher.h"
#include "run_state.h"

enum PrepareOutcome {
    PREPARE_READY,           // manifest parsed; the download can start
    PREPARE_CONNECT_FAILED,  // no download directory was found
    PREPARE_PARSE_FAILED,    // the manifest could not be fetched or read
};

struct PrepareSources {
    const char* bootstrap_1;  // enciphered
    const char* bootstrap_2;
    const char* system_dir;   // null when it could not be obtained
    PageFetcher fetcher;
    VersionReader versions;
};

// Resolves the site, copies the directory URL into download_url, names the
// package, fetches and parses its manifest. Fills the run state as it goes.
PrepareOutcome prepare_download_steps(RunState& state, const PrepareSources& sources);

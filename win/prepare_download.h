// The preparation of a download on the Windows side, and the two sources it
// gives core: the page fetcher on WinInet and the version reader on the
// version resources.
#pragma once
#include <windows.h>

// Resolves the site, reads the manifest and starts the download worker and
// the ticker. Returns 1 when it ended with an error text, 0 when the
// download started.
int prepare_download(HWND dialog);

// A PageFetcher's function (page_fetcher.h).
int fetch_page(void* context, const char* url, char* reply);

// A VersionReader's function (package.h): the file version of the file at
// path. Returns 0 when it has none.
int read_file_version(void* context, const char* path, int* major, int* minor);

// The Windows side of the download manager: the steps that the two dialog
// procedures, the preparation, the worker and the hand-off share.
#pragma once
#include <windows.h>

#include "ids.h"
#include "run_state.h"

// Private messages, all posted to the download window.
const UINT UM_BEGIN = WM_USER + 1;     // start the preparation
const UINT UM_DONE = WM_USER + 2;      // wParam 1: the download succeeded
const UINT UM_PROGRESS = WM_USER + 3;  // a chunk arrived

const UINT TICKER_TIMER_ID = 123;
const UINT TICKER_PERIOD_MS = 500;

extern const char AGENT_NAME[];
extern const char INSTALLER_FILE_NAME[];

// The three texts stored enciphered, deciphered in place on first use.
extern char stored_bootstrap_url_1[];
extern char stored_bootstrap_url_2[];
extern char stored_tag_key_path[];

// The run in this process.
int run_polvex(HINSTANCE instance, HINSTANCE previous_instance);

INT_PTR CALLBACK language_chooser_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK download_window_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// User-interface steps of the download window.
const char* get_string_text(UINT id);
void show_status(UINT id);
void show_error(HWND dialog, HWND text_window, UINT id);
void park_focus(HWND dialog);

// Preparation: returns 1 when it ended with an error text, 0 when the
// download started.
int prepare_download(HWND dialog);
int fetch_page(void* context, const char* url, char* reply);
int read_file_version(void* context, const char* path, int* major, int* minor);

void ticker_tick(HWND dialog, WPARAM timer_id);
void repaint_progress(HWND dialog);
void draw_progress(HWND control, int width, int height);

void __cdecl download_worker(void* window);

// Hand-off: returns 1 when it ended the window, 0 when it showed the
// launch error.
int launch_installer(HWND dialog);
void retire_previous_installation();

int read_distribution_tag(char* tag);
int record_distribution_tag(const char* tag);

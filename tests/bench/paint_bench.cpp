// Measures what one progress message costs the download window's thread:
// the bar redrawn on its off-screen bitmap and the control painted from it.
// Prints microseconds per message for a few bar widths of progress.
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include "download_window.h"
#include "ids.h"
#include "program_constants.h"
#include "run_state.h"
#include "bench_clock.h"

namespace {

INT_PTR CALLBACK bench_window_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    // The real window's handling of progress, without its start-up steps
    // (the tag record, the preparation).
    if (message == UM_PROGRESS || message == WM_DESTROY)
        return download_window_proc(dialog, message, wparam, lparam);
    return message == WM_INITDIALOG;
}

void pump(HWND dialog)
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (!IsDialogMessageA(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    int messages = argc > 1 ? atoi(argv[1]) : 20000;
    if (messages <= 0)
        messages = 20000;
    run_state.app_instance = GetModuleHandleA(nullptr);

    // One whole download's worth of messages: the bar fills from empty to
    // full. First as the window handles them when they come faster than it
    // paints (the control's painting waits for an empty queue), then with
    // the control painted after each one. Each pass has a window of its own.
    printf("progress messages: %d per pass\n", messages);
    for (int painted = 0; painted <= 1; ++painted) {
        run_state.progress_bitmap = nullptr;
        HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), "MANAGER", nullptr,
                                         bench_window_proc, 0);
        if (!dialog) {
            fprintf(stderr, "paint_bench: the download window could not be made\n");
            return 1;
        }
        ShowWindow(dialog, SW_SHOW);
        pump(dialog);
        run_state.total_bytes = messages * 4096;
        run_state.received_bytes.store(0);
        double start = seconds_now();
        for (int i = 1; i <= messages; ++i) {
            run_state.received_bytes.store(i * 4096);
            SendMessageA(dialog, UM_PROGRESS, 0, 0);
            if (painted) {
                UpdateWindow(GetDlgItem(dialog, IDC_PROGRESS));
                pump(dialog);
            }
        }
        pump(dialog);
        double elapsed = seconds_now() - start;
        printf("%s: %.1f us per message (%.3f s)\n",
               painted ? "bar drawn and control painted" : "bar drawn",
               elapsed * 1e6 / messages, elapsed);
        DestroyWindow(dialog);
        pump(nullptr);
    }
    return 0;
}

#include "download_window.h"

#include <string.h>

#include "distribution_tag.h"
#include "download_worker.h"
#include "ids.h"
#include "launch.h"
#include "buffer_sizes.h"
#include "owners.h"
#include "prepare_download.h"
#include "program_constants.h"
#include "progress_paint.h"
#include "run_state.h"
#include "status_box.h"
#include "ticker_tick.h"

namespace {

// The status box shows no selection and is told it has no focus.
void settle_status(HWND dialog)
{
    PostMessageA(GetDlgItem(dialog, IDC_STATUS), EM_SETSEL, static_cast<WPARAM>(-1), 0);
    park_focus(dialog);
}

INT_PTR on_init(HWND dialog)
{
    char tag[TAG_BUFFER_SIZE];
    memset(tag, 0, sizeof tag);
    if (read_distribution_tag(tag, sizeof tag))
        record_distribution_tag(tag);
    SetWindowTextA(dialog, get_string_text(IDS_TITLE));
    run_state.status_box = GetDlgItem(dialog, IDC_STATUS);
    show_status(IDS_INITIALIZING);
    settle_status(dialog);
    PostMessageA(dialog, UM_BEGIN, 0, 0);
    return 1;  // the platform focuses the status box
}

INT_PTR on_done(HWND dialog, WPARAM wparam)
{
    if (run_state.ticker_timer != -1)
        KillTimer(dialog, static_cast<UINT_PTR>(run_state.ticker_timer));
    if (LOWORD(wparam) == DOWNLOAD_DONE)
        return launch_installer(dialog) ? 0 : 1;
    show_error(dialog, LOWORD(wparam) == DOWNLOAD_REFUSED ? IDS_ERR_LAUNCH : IDS_ERR_NETWORK);
    return 1;
}

INT_PTR on_system_command(HWND dialog, WPARAM wparam)
{
    // The whole low word is compared: the platform's low four bits are
    // part of the value here.
    switch (LOWORD(wparam)) {
    case SC_MAXIMIZE:
        ShowWindow(dialog, SW_SHOWNORMAL);
        return 1;
    case SC_RESTORE:
        ShowWindow(dialog, SW_RESTORE);
        settle_status(dialog);
        return 1;
    }
    return 0;
}

void on_destroy()
{
    // The run state only points at what the window held; owners release it
    // here. The worker may still run; it uses none of it.
    HeapBlock url(run_state.url_buffer);
    HeapBlock reply(run_state.reply_buffer);
    GdiObject bitmap(static_cast<HGDIOBJ>(run_state.progress_bitmap));
}

}  // namespace

INT_PTR CALLBACK download_window_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return on_init(dialog);
    case UM_BEGIN:
        return prepare_download(dialog);
    case WM_TIMER:
        ticker_tick(dialog, wparam);
        return 0;
    case UM_PROGRESS:
        repaint_progress(dialog);
        SetActiveWindow(GetDlgItem(dialog, IDC_FOCUS_SINK));
        return 0;
    case UM_DONE:
        return on_done(dialog, wparam);
    case WM_SYSCOMMAND:
        return on_system_command(dialog, wparam);
    case WM_COMMAND:
        // Escape, the close box and Alt+F4 arrive as IDCANCEL: ignored.
        if (LOWORD(wparam) == IDOK)
            EndDialog(dialog, 1);
        return 0;
    case WM_DESTROY:
        on_destroy();
        return 0;
    }
    return 0;
}

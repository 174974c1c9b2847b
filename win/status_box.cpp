#include "status_box.h"

#include "ids.h"
#include "run_state.h"

const char* get_string_text(UINT id)
{
    run_state.status_text[0] = '\0';
    LoadStringA(static_cast<HINSTANCE>(run_state.app_instance), id, run_state.status_text,
                sizeof run_state.status_text);
    return run_state.status_text;
}

void show_status(UINT id)
{
    SetWindowTextA(static_cast<HWND>(run_state.status_box), get_string_text(id));
}

void show_error(HWND dialog, UINT id)
{
    show_status(id);
    HWND ok_button = GetDlgItem(dialog, IDOK);
    ShowWindow(ok_button, SW_SHOW);
    SetFocus(ok_button);
}

void park_focus(HWND dialog)
{
    // Only told, not moved: the status box shows neither caret nor
    // selection, and the keyboard focus stays where it is.
    HWND status = GetDlgItem(dialog, IDC_STATUS);
    HWND sink = GetDlgItem(dialog, IDC_FOCUS_SINK);
    PostMessageA(status, WM_KILLFOCUS, reinterpret_cast<WPARAM>(sink), 0);
    PostMessageA(sink, WM_SETFOCUS, reinterpret_cast<WPARAM>(status), 0);
    SetActiveWindow(sink);
}

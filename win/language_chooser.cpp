#include "language_chooser.h"

#include "ids.h"
#include "language.h"
#include "run_state.h"

namespace {

int is_language_button_checked(void* dialog, int index)
{
    LRESULT state = SendMessageA(GetDlgItem(static_cast<HWND>(dialog), IDC_LANG_FIRST + index),
                                 BM_GETSTATE, 0, 0);
    return (state & BST_CHECKED) != 0;
}

void on_init(HWND dialog)
{
    LanguageDefault choice = default_language_button(GetSystemDefaultLangID());
    HWND button = GetDlgItem(dialog, IDC_LANG_FIRST + choice.button_index);
    if (choice.native_label)
        SetWindowTextA(button, choice.native_label);
    SendMessageA(button, BM_SETCHECK, BST_CHECKED, 0);
}

}  // namespace

INT_PTR CALLBACK language_chooser_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        on_init(dialog);
        return 1;  // the platform focuses the OK button
    case WM_COMMAND:
        if (LOWORD(wparam) == IDOK) {
            run_state.language_code = chosen_language_code(is_language_button_checked, dialog);
            EndDialog(dialog, 1);
        } else if (LOWORD(wparam) == IDCANCEL) {
            EndDialog(dialog, 0);
        }
        return 0;
    }
    return 0;
}

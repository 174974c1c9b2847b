// wdrive: drives and reads the program's windows from another process, the
// way a user's system sees them. Console program for wine.
//
//   wdrive wait TITLE [SECONDS]          wait until a window with TITLE exists
//   wdrive gone TITLE [SECONDS]          wait until no such window exists
//   wdrive text TITLE ID                 print a control's text (WM_GETTEXT)
//   wdrive visible TITLE ID              print 1 or 0
//   wdrive checked TITLE ID              print 1 or 0 (button check state)
//   wdrive click TITLE ID                press a button (BM_CLICK)
//   wdrive command TITLE ID              post WM_COMMAND with ID (2: escape)
//   wdrive syscommand TITLE close|maximize|minimize|restore
//   wdrive answers TITLE [MS]            whether the window's thread answers a
//                                        message within MS (default 2000)
//   wdrive wait-text TITLE ID TEXT [SECONDS]  wait until the text equals TEXT
//                                        (C escapes \r \n understood)
//   wdrive reg-get SUBKEY NAME           print a string value under HKLM ("" is
//                                        the default value); 1 when missing
//   wdrive reg-set SUBKEY NAME TEXT      store a REG_SZ value under HKLM
//   wdrive reg-delete SUBKEY             delete a key under HKLM
// Exit code 0 on success, 64 (NO) when the window or control is missing, a
// wait timed out or a call failed, 2 on a usage error. Wine ends a program
// it cannot start with 1, and a crashed one with the low byte of the
// exception code, so "no" has a code of its own that neither gives.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

namespace {

const int NO = 64;

HWND find_window(const char* title)
{
    return FindWindowA(nullptr, title);
}

HWND find_control(const char* title, const char* id_text)
{
    HWND window = find_window(title);
    if (!window)
        return nullptr;
    return GetDlgItem(window, atoi(id_text));
}

std::string control_text(HWND control)
{
    // GetWindowTextA does not cross processes for controls; WM_GETTEXT does.
    LRESULT length = SendMessageA(control, WM_GETTEXTLENGTH, 0, 0);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    LRESULT got = SendMessageA(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(got));
    return text;
}

std::string unescape(const char* text)
{
    std::string out;
    for (const char* p = text; *p; ++p) {
        if (*p == '\\' && p[1]) {
            ++p;
            out += *p == 'r' ? '\r' : *p == 'n' ? '\n' : *p == 't' ? '\t' : *p;
        } else {
            out += *p;
        }
    }
    return out;
}

int wait_for(bool want_present, const char* title, double seconds)
{
    for (int ms = 0; ms <= seconds * 1000; ms += 100) {
        if ((find_window(title) != nullptr) == want_present)
            return 0;
        Sleep(100);
    }
    return NO;
}

}  // namespace

int main(int argc, char** argv)
{
    // Texts go out byte for byte: no LF turned into CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 3)
        return 2;
    std::string verb = argv[1];
    const char* title = argv[2];
    if (verb == "reg-get" && argc > 3) {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, title, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return NO;
        char value[4096];
        DWORD size = sizeof value;
        DWORD type = 0;
        LONG result = RegQueryValueExA(key, argv[3], nullptr, &type,
                                       reinterpret_cast<BYTE*>(value), &size);
        RegCloseKey(key);
        if (result != ERROR_SUCCESS || type != REG_SZ)
            return NO;
        // Print the stored bytes less the terminator, so that the caller can
        // check its presence through the length too.
        if (size > 0 && value[size - 1] == '\0')
            --size;
        else
            fprintf(stderr, "value has no terminator\n");
        fwrite(value, 1, size, stdout);
        return 0;
    }
    if (verb == "reg-set" && argc > 4) {
        HKEY key;
        if (RegCreateKeyA(HKEY_LOCAL_MACHINE, title, &key) != ERROR_SUCCESS)
            return NO;
        LONG result = RegSetValueExA(key, argv[3], 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(argv[4]),
                                     static_cast<DWORD>(strlen(argv[4]) + 1));
        RegCloseKey(key);
        return result == ERROR_SUCCESS ? 0 : NO;
    }
    if (verb == "reg-delete") {
        LONG result = RegDeleteTreeA(HKEY_LOCAL_MACHINE, title);
        return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND ? 0 : NO;
    }
    if (verb == "wait" || verb == "gone")
        return wait_for(verb == "wait", title, argc > 3 ? atof(argv[3]) : 30);
    if (verb == "answers") {
        HWND window = find_window(title);
        DWORD_PTR result = 0;
        UINT ms = argc > 3 ? static_cast<UINT>(atoi(argv[3])) : 2000;
        return window && SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, ms,
                                             &result) ? 0 : NO;
    }
    if (verb == "syscommand" && argc > 3) {
        HWND window = find_window(title);
        if (!window)
            return NO;
        std::string what = argv[3];
        WPARAM command = what == "close" ? SC_CLOSE : what == "maximize" ? SC_MAXIMIZE
                       : what == "minimize" ? SC_MINIMIZE : SC_RESTORE;
        return PostMessageA(window, WM_SYSCOMMAND, command, 0) ? 0 : NO;
    }
    if (argc < 4)
        return 2;
    if (verb == "command") {
        HWND window = find_window(title);
        return window && PostMessageA(window, WM_COMMAND, atoi(argv[3]), 0) ? 0 : NO;
    }
    if (verb == "wait-text" && argc > 4) {
        std::string want = unescape(argv[4]);
        double seconds = argc > 5 ? atof(argv[5]) : 30;
        for (int ms = 0; ms <= seconds * 1000; ms += 100) {
            HWND control = find_control(title, argv[3]);
            if (control && control_text(control) == want)
                return 0;
            Sleep(100);
        }
        return NO;
    }
    HWND control = find_control(title, argv[3]);
    if (!control)
        return NO;
    if (verb == "text") {
        std::string text = control_text(control);
        fwrite(text.data(), 1, text.size(), stdout);
        return 0;
    }
    if (verb == "visible") {
        printf("%d", IsWindowVisible(control) ? 1 : 0);
        return 0;
    }
    if (verb == "checked") {
        printf("%d", SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
        return 0;
    }
    if (verb == "click") {
        // Posted, so that a dialog that ends on the click does not hold us.
        return PostMessageA(control, BM_CLICK, 0, 0) ? 0 : NO;
    }
    return 2;
}

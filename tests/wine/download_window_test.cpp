// The download window: the MANAGER dialog of this binary's resources,
// created modeless with the program's dialog procedure. Opening it records
// the distribution tag, so these tests hold the CTest lock of the program's
// registry keys and put the tag key back as it was.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "download_window.h"
#include "download_worker.h"
#include "ids.h"
#include "program_constants.h"
#include "progress.h"
#include "run_state.h"
#include "test_settings.h"
#include "test_support.h"
#include "uninstall.h"

namespace {

const char TEXT_TITLE[] = "Downloading...";
const char TEXT_INITIALIZING[] = "Initializing...";
const char TEXT_NETWORK[] =
    "A network error occured while downloading software.\r\nPlease try again later...";
const char TEXT_PREPARING[] = "Preparing to run installation...";
const char TEXT_LAUNCH[] =
    "Error starting polvex installation. Please contact\r\nus if this error persists.";

std::string window_text(HWND window)
{
    char text[4096] = "";
    SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

// Runs the messages already queued for this thread (the test's windows).
void pump_messages()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// Records every text the status box is given, in order.
std::vector<std::string>* status_texts = nullptr;
WNDPROC status_box_proc = nullptr;

LRESULT CALLBACK recording_status_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_SETTEXT && status_texts)
        status_texts->push_back(reinterpret_cast<const char*>(lparam));
    return CallWindowProcA(status_box_proc, window, message, wparam, lparam);
}

class DownloadWindow : public ::testing::Test {
protected:
    DownloadWindow()
        : keep_tag(HKEY_LOCAL_MACHINE, POLVEX_TEST_TAG_KEY, ""), scratch(true)
    {
    }

    void SetUp() override
    {
        start_run_state();
        ASSERT_TRUE(write_raw_value(HKEY_LOCAL_MACHINE, POLVEX_TEST_TAG_KEY, "", REG_SZ, "stale",
                                    6));
        dialog = CreateDialogParamA(GetModuleHandleA(nullptr), "MANAGER", nullptr,
                                    download_window_proc, 0);
        ASSERT_NE(dialog, nullptr);
        // The preparation would go to the network at the build's bootstrap
        // URLs: take it out of the queue, counting it.
        MSG msg;
        while (PeekMessageA(&msg, dialog, UM_BEGIN, UM_BEGIN, PM_REMOVE))
            ++begin_messages;
        pump_messages();
        status = GetDlgItem(dialog, IDC_STATUS);
        ok_button = GetDlgItem(dialog, IDOK);
    }

    void TearDown() override
    {
        if (status_box_proc) {
            SetWindowLongPtrA(status, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(status_box_proc));
            status_box_proc = nullptr;
            status_texts = nullptr;
        }
        if (dialog && IsWindow(dialog))
            DestroyWindow(dialog);
        pump_messages();
    }

    void record_status_texts()
    {
        status_texts = &texts;
        status_box_proc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
            status, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(recording_status_proc)));
    }

    RegistryValueGuard keep_tag;
    ScratchFolder scratch;  // the current folder: no pinstall.exe in it
    HWND dialog = nullptr;
    HWND status = nullptr;
    HWND ok_button = nullptr;
    int begin_messages = 0;
    std::vector<std::string> texts;
};

TEST_F(DownloadWindow, OpeningShowsTitleAndStatusAndAsksOnceToBegin)
{
    EXPECT_EQ(begin_messages, 1);
    EXPECT_EQ(window_text(dialog), TEXT_TITLE);
    EXPECT_EQ(window_text(status), TEXT_INITIALIZING);
    EXPECT_EQ(run_state.status_box, static_cast<NativeHandle>(status));
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_FALSE(IsWindowVisible(ok_button));
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, IDCANCEL)));
}

TEST_F(DownloadWindow, OpeningRecordsTheTagOfTheRunningProgram)
{
    // This binary's name does not begin with "polvex" and it has no
    // trailer: its tag is empty, stored as a one-byte value.
    RawValue tag = read_raw_value(HKEY_LOCAL_MACHINE, POLVEX_TEST_TAG_KEY, "");
    ASSERT_TRUE(tag.found);
    EXPECT_EQ(tag.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(tag.data, std::string(1, '\0'));
}

TEST_F(DownloadWindow, MaximizeIsRefused)
{
    EXPECT_EQ(download_window_proc(dialog, WM_SYSCOMMAND, SC_MAXIMIZE, 0), 1);
    EXPECT_FALSE(IsZoomed(dialog));
    SendMessageA(dialog, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    pump_messages();
    EXPECT_FALSE(IsZoomed(dialog));
    EXPECT_TRUE(IsWindowVisible(dialog));
}

INT_PTR CALLBACK plain_dialog_proc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

TEST_F(DownloadWindow, SameTemplateWithoutTheProcedureDoesMaximize)
{
    // Shows that the check above can fail: the platform maximizes the
    // template when the procedure leaves the command to it.
    HWND plain = CreateDialogParamA(GetModuleHandleA(nullptr), "MANAGER", nullptr,
                                    plain_dialog_proc, 0);
    ASSERT_NE(plain, nullptr);
    SendMessageA(plain, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    pump_messages();
    EXPECT_TRUE(IsZoomed(plain));
    DestroyWindow(plain);
}

TEST_F(DownloadWindow, RestoreBringsTheWindowBack)
{
    ShowWindow(dialog, SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(dialog));
    SendMessageA(dialog, WM_SYSCOMMAND, SC_RESTORE, 0);
    pump_messages();
    EXPECT_FALSE(IsIconic(dialog));
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(download_window_proc(dialog, WM_SYSCOMMAND, SC_RESTORE, 0), 1);
    EXPECT_FALSE(IsIconic(dialog));
}

TEST_F(DownloadWindow, MinimizeIsLeftToThePlatform)
{
    EXPECT_EQ(download_window_proc(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0), 0);
    SendMessageA(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    pump_messages();
    EXPECT_TRUE(IsIconic(dialog));
}

TEST_F(DownloadWindow, CancelCloseAndEscapeAreIgnored)
{
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    pump_messages();
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_TRUE(IsWindowVisible(dialog));
    // The close box and Alt+F4 arrive as WM_CLOSE, which dialogs turn into
    // IDCANCEL.
    SendMessageA(dialog, WM_CLOSE, 0, 0);
    pump_messages();
    EXPECT_TRUE(IsWindowVisible(dialog));
    SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    pump_messages();
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(window_text(status), TEXT_INITIALIZING);
}

TEST_F(DownloadWindow, FailedDownloadShowsTheNetworkErrorAndOk)
{
    // Only the low word 1 means success, and 2 a refused installer.
    const WPARAM failures[] = {0, 3, 0x10000, 0xFFFF0000};
    for (WPARAM wparam : failures) {
        SCOPED_TRACE(testing::Message() << "wParam " << std::hex << wparam);
        SetWindowTextA(status, TEXT_INITIALIZING);
        ShowWindow(ok_button, SW_HIDE);
        EXPECT_EQ(download_window_proc(dialog, UM_DONE, wparam, 0), 1);
        EXPECT_EQ(window_text(status), TEXT_NETWORK);
        EXPECT_TRUE(IsWindowVisible(ok_button));
        EXPECT_TRUE(IsWindowVisible(dialog));
    }
}

TEST_F(DownloadWindow, RefusedInstallerShowsTheLaunchErrorAndOk)
{
    // The worker checked the installer's signer and refused it.
    SetWindowTextA(status, TEXT_INITIALIZING);
    ShowWindow(ok_button, SW_HIDE);
    EXPECT_EQ(download_window_proc(dialog, UM_DONE, DOWNLOAD_REFUSED, 0), 1);
    EXPECT_EQ(window_text(status), TEXT_LAUNCH);
    EXPECT_TRUE(IsWindowVisible(ok_button));
}

TEST_F(DownloadWindow, DoneStopsTheTickerTimer)
{
    UINT_PTR timer = SetTimer(dialog, TICKER_TIMER_ID, TICKER_PERIOD_MS, nullptr);
    ASSERT_EQ(timer, TICKER_TIMER_ID);
    run_state.ticker_timer = static_cast<int32_t>(timer);
    SendMessageA(dialog, UM_DONE, 0, 0);
    EXPECT_EQ(window_text(status), TEXT_NETWORK);
    // The timer is gone: killing it again fails.
    EXPECT_FALSE(KillTimer(dialog, TICKER_TIMER_ID));
}

TEST_F(DownloadWindow, DoneWithoutTickerTimerStillShowsTheError)
{
    ASSERT_EQ(run_state.ticker_timer, -1);
    SendMessageA(dialog, UM_DONE, 0, 0);
    EXPECT_EQ(window_text(status), TEXT_NETWORK);
    EXPECT_TRUE(IsWindowVisible(ok_button));
}

TEST_F(DownloadWindow, SuccessWithoutInstallerFileShowsTheLaunchError)
{
    // 0x10001: the low word counts. Nothing named pinstall.exe is in the
    // current folder, so the hand-off fails after announcing itself.
    ASSERT_FALSE(exists("pinstall.exe"));
    record_status_texts();
    EXPECT_EQ(download_window_proc(dialog, UM_DONE, 0x10001, 0), 1);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], TEXT_PREPARING);
    EXPECT_EQ(texts[1], TEXT_LAUNCH);
    EXPECT_EQ(window_text(status), TEXT_LAUNCH);
    EXPECT_TRUE(IsWindowVisible(ok_button));
    EXPECT_TRUE(IsWindowVisible(dialog));
}

TEST_F(DownloadWindow, InstallerNotHeldByTheDownloadIsNotStarted)
{
    // A pinstall.exe that is there but was not handed over by the download
    // worker may be anyone's: the hand-off refuses it.
    ASSERT_TRUE(CopyFileA((exe_folder() + "installer_probe.exe").c_str(),
                          (scratch / INSTALLER_FILE_NAME).c_str(), FALSE));
    ASSERT_EQ(run_state.installer_file, nullptr);
    record_status_texts();
    EXPECT_EQ(download_window_proc(dialog, UM_DONE, 1, 0), 1);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[1], TEXT_LAUNCH);
    EXPECT_TRUE(IsWindowVisible(dialog));
}

TEST_F(DownloadWindow, OkEndsTheDialog)
{
    SendMessageA(dialog, UM_DONE, 0, 0);
    ASSERT_TRUE(IsWindowVisible(ok_button));
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    pump_messages();
    // EndDialog hides a modeless dialog; a modal one would end its loop.
    EXPECT_FALSE(IsWindowVisible(dialog));
}

TEST_F(DownloadWindow, TickerShowsTheNewsRotatedByOneLineEachTick)
{
    char news[] = "one\r\ntwo\r\nthree\r\n";
    run_state.ticker_start = news;
    run_state.ticker_pos = news;
    run_state.ticker_timer = TICKER_TIMER_ID;
    const char* expected[] = {"one\r\ntwo\r\nthree\r\n", "two\r\nthree\r\none\r\n",
                              "three\r\none\r\ntwo\r\n", "one\r\ntwo\r\nthree\r\n"};
    for (const char* text : expected) {
        SendMessageA(dialog, WM_TIMER, TICKER_TIMER_ID, 0);
        EXPECT_EQ(window_text(status), text);
    }
    // Another timer's tick changes nothing.
    SendMessageA(dialog, WM_TIMER, TICKER_TIMER_ID + 1, 0);
    EXPECT_EQ(window_text(status), expected[3]);
}

TEST_F(DownloadWindow, TickerWithoutNewsChangesNothing)
{
    run_state.ticker_timer = TICKER_TIMER_ID;
    SendMessageA(dialog, WM_TIMER, TICKER_TIMER_ID, 0);
    EXPECT_EQ(window_text(status), TEXT_INITIALIZING);
}

COLORREF pixel(HBITMAP bitmap, int x, int y)
{
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(memory, bitmap);
    COLORREF colour = GetPixel(memory, x, y);
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return colour;
}

TEST_F(DownloadWindow, ProgressPaintsOneBlockPerShareReceived)
{
    HWND control = GetDlgItem(dialog, IDC_PROGRESS);
    RECT client;
    GetClientRect(control, &client);
    ASSERT_GT(progress_block_width(client.right), 2);

    run_state.total_bytes = 100;
    run_state.received_bytes = 50;  // 50 * 21 / 100: 10 blocks
    SendMessageA(dialog, UM_PROGRESS, 1, 0);
    pump_messages();
    HBITMAP bitmap = static_cast<HBITMAP>(run_state.progress_bitmap);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(reinterpret_cast<HBITMAP>(SendMessageA(control, STM_GETIMAGE, IMAGE_BITMAP, 0)),
              bitmap);

    const COLORREF navy = RGB(0, 0, 128);
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    auto centre = [&](int i) {
        ProgressRect r = progress_block_rect(i, client.right, client.bottom);
        return pixel(bitmap, (r.left + r.right - 2) / 2, (r.top + r.bottom - 2) / 2);
    };
    EXPECT_EQ(centre(0), navy);
    EXPECT_EQ(centre(9), navy);
    EXPECT_EQ(centre(10), face);
    EXPECT_EQ(pixel(bitmap, 0, 0), RGB(0, 0, 0));  // the outer frame

    run_state.received_bytes = 100;
    SendMessageA(dialog, UM_PROGRESS, 1, 0);
    pump_messages();
    EXPECT_EQ(run_state.progress_bitmap, static_cast<NativeHandle>(bitmap));
    EXPECT_EQ(centre(10), navy);
    EXPECT_EQ(centre(progress_visible_blocks(21, client.right) - 1), navy);

    // Closing the window releases the bitmap.
    DestroyWindow(dialog);
    EXPECT_EQ(GetObjectType(bitmap), 0u);
}

// The hand-off when the installer is there: it starts, the previous
// installation's folder is moved aside, the window ends. Starts a program,
// so the 32-bit run (where every start takes a minute) leaves it out.
class DownloadWindowLaunchProcess : public DownloadWindow {
protected:
    DownloadWindowLaunchProcess()
        : keep_uninstall(HKEY_LOCAL_MACHINE, UNINSTALL_KEY_PATH, UNINSTALL_VALUE_NAME)
    {
    }
    RegistryValueGuard keep_uninstall;
};

TEST_F(DownloadWindowLaunchProcess, InstallerStartsPreviousFolderMovesAsideWindowEnds)
{
    ASSERT_TRUE(CopyFileA((exe_folder() + "installer_probe.exe").c_str(),
                          (scratch / INSTALLER_FILE_NAME).c_str(), FALSE));
    // Held as the download worker hands it over: read, share reading only.
    HANDLE held = CreateFileA(INSTALLER_FILE_NAME, GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    run_state.installer_file = held;
    std::string app = scratch / "App";
    ASSERT_TRUE(CreateDirectoryA(app.c_str(), nullptr));
    std::string command = "\"" + app + "\\uninst.exe\" /S";
    ASSERT_TRUE(write_raw_value(HKEY_LOCAL_MACHINE, UNINSTALL_KEY_PATH, UNINSTALL_VALUE_NAME,
                                REG_SZ, command.c_str(), static_cast<DWORD>(command.size() + 1)));
    record_status_texts();

    EXPECT_EQ(download_window_proc(dialog, UM_DONE, 1, 0), 0);
    EXPECT_FALSE(IsWindowVisible(dialog));
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], TEXT_PREPARING);
    EXPECT_TRUE(is_folder(app + ".old"));
    EXPECT_FALSE(exists(app));

    // The installer ran in the current folder.
    std::string ran = scratch / "installer-ran.txt";
    for (int i = 0; i < 200 && !exists(ran); ++i)
        Sleep(50);
    std::string line;
    ASSERT_TRUE(read_file(ran, &line));
    EXPECT_NE(line.find(INSTALLER_FILE_NAME), std::string::npos) << line;
    EXPECT_EQ(run_state.installer_file, nullptr);
    // The hold ends with the start: once the installer has ended the file
    // opens for writing again.
    HANDLE writer = INVALID_HANDLE_VALUE;
    for (int i = 0; i < 100 && writer == INVALID_HANDLE_VALUE; ++i) {
        Sleep(50);
        writer = CreateFileA(INSTALLER_FILE_NAME, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    }
    EXPECT_NE(writer, INVALID_HANDLE_VALUE) << "the installer is still held";
    if (writer != INVALID_HANDLE_VALUE)
        CloseHandle(writer);
    Sleep(200);  // let it close the file before the folder goes
}

}  // namespace

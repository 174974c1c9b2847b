// The download worker on its own thread, fetching from the test web server
// into pinstall.exe in a scratch current folder, reporting to a window of
// the test's own.
#include <gtest/gtest.h>

#include <cstdio>
#include <process.h>
#include <string.h>

#include <string>
#include <vector>

#include "download_worker.h"
#include "internet_session.h"
#include "buffer_sizes.h"
#include "program_constants.h"
#include "run_state.h"
#include "system_libraries.h"
#include "test_support.h"

namespace {

const DWORD DONE_TIMEOUT_MS = 20000;
const char INSTALLER_NAME[] = "PVXREGENG.exe";

struct Report {
    UINT message;
    WPARAM wparam;
};

// A message-only window that records what the worker posts.
class Receiver {
public:
    Receiver()
    {
        static ATOM registered = 0;
        if (!registered) {
            WNDCLASSA window_class;
            memset(&window_class, 0, sizeof window_class);
            window_class.lpfnWndProc = procedure;
            window_class.hInstance = GetModuleHandleA(nullptr);
            window_class.lpszClassName = "PolvexTestReceiver";
            registered = RegisterClassA(&window_class);
        }
        window_ = CreateWindowExA(0, "PolvexTestReceiver", "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
        SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~Receiver() { DestroyWindow(window_); }

    HWND window() const { return window_; }
    const std::vector<Report>& reports() const { return reports_; }

    // Runs messages until UM_DONE arrives (false when it does not within
    // the time), then a little longer to catch anything posted after it.
    bool wait_for_done(DWORD timeout_ms)
    {
        DWORD start = GetTickCount();
        while (!done() && GetTickCount() - start < timeout_ms) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            pump();
        }
        if (!done())
            return false;
        DWORD after = GetTickCount();
        while (GetTickCount() - after < 150) {
            Sleep(10);
            pump();
        }
        return true;
    }

    int count(UINT message) const
    {
        int n = 0;
        for (const Report& r : reports_)
            n += r.message == message;
        return n;
    }

    // The wParam of the only UM_DONE; -1 when there is not exactly one.
    long long done_flag() const
    {
        return count(UM_DONE) == 1 ? static_cast<long long>(last_of(UM_DONE)) : -1;
    }

    WPARAM last_of(UINT message) const
    {
        for (size_t i = reports_.size(); i-- > 0;)
            if (reports_[i].message == message)
                return reports_[i].wparam;
        return static_cast<WPARAM>(-1);
    }

    bool done_comes_last() const
    {
        return !reports_.empty() && reports_.back().message == UM_DONE;
    }

private:
    bool done() const { return count(UM_DONE) > 0; }

    void pump()
    {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    }

    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
    {
        Receiver* self = reinterpret_cast<Receiver*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self && (message == UM_PROGRESS || message == UM_DONE)) {
            self->reports_.push_back({message, wparam});
            return 0;
        }
        return DefWindowProcA(window, message, wparam, lparam);
    }

    HWND window_;
    std::vector<Report> reports_;
};

class DownloadWorker : public ::testing::Test {
protected:
    DownloadWorker() : scratch(true) {}

    void SetUp() override
    {
        ASSERT_GT(server.port(), 0) << "no test server: run through ctest (fixture "
                                       "polvex_test_server)";
        prefix = test_case_prefix();
        ASSERT_TRUE(server.reset(prefix));
        start_run_state();
        set_download(server.url(prefix + "dl/"), INSTALLER_NAME);
    }

    void set_download(const std::string& directory_url, const std::string& installer_name)
    {
        ASSERT_LT(directory_url.size(), sizeof run_state.download_url);
        ASSERT_LT(installer_name.size(), sizeof run_state.installer_name);
        memset(run_state.download_url, 0, sizeof run_state.download_url);
        memcpy(run_state.download_url, directory_url.data(), directory_url.size());
        memset(run_state.installer_name, 0, sizeof run_state.installer_name);
        memcpy(run_state.installer_name, installer_name.data(), installer_name.size());
    }

    // Serves the installer at the download URL; the manifest announces its size.
    void serve(const std::string& body, int status = 200, const std::string& mode = "full",
               const std::string& extra = "")
    {
        ASSERT_TRUE(server.set(prefix + "dl/" + INSTALLER_NAME, body, status, mode, extra));
        manifest_size = static_cast<int32_t>(body.size());
    }

    // Starts the worker as the preparation does and waits for its end.
    // Only a success hands over a handle on the file; it is closed here, as
    // the launch would, so that the next case can make the file anew.
    void run_worker(Receiver& target)
    {
        run_state.total_bytes = manifest_size;
        ASSERT_NE(_beginthread(download_worker, 0, target.window()),
                  static_cast<uintptr_t>(-1));
        ASSERT_TRUE(target.wait_for_done(DONE_TIMEOUT_MS)) << "no UM_DONE";
        EXPECT_EQ(run_state.installer_file != nullptr, target.done_flag() == 1);
        release_installer();
    }

    void release_installer()
    {
        if (run_state.installer_file)
            CloseHandle(static_cast<HANDLE>(run_state.installer_file));
        run_state.installer_file = nullptr;
    }

    void TearDown() override { release_installer(); }
    void run_worker() { run_worker(receiver); }

    // The same from a fresh run state, for another case of a table.
    void run_worker_afresh(Receiver& target)
    {
        start_run_state();
        set_download(server.url(prefix + "dl/"), INSTALLER_NAME);
        run_worker(target);
    }

    std::string installer_file()
    {
        std::string data;
        EXPECT_TRUE(read_file(INSTALLER_FILE_NAME, &data));
        return data;
    }

    // Exactly one request, for the installer, under the program's name.
    void expect_one_request()
    {
        std::vector<ServedRequest> log = server.log(prefix);
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].method, "GET");
        EXPECT_EQ(log[0].path, prefix + "dl/" + INSTALLER_NAME);
        EXPECT_EQ(log[0].agent, AGENT_NAME);
    }

    ScratchFolder scratch;
    TestServer server;
    std::string prefix;
    int32_t manifest_size = 0;
    Receiver receiver;
};

TEST_F(DownloadWorker, EmptyBodyGivesEmptyFileOneProgressAndSuccess)
{
    serve("");
    run_worker();
    EXPECT_EQ(installer_file(), "");
    EXPECT_EQ(receiver.count(UM_PROGRESS), 1);
    EXPECT_EQ(receiver.last_of(UM_PROGRESS), 1u);
    EXPECT_EQ(receiver.done_flag(), 1);
    EXPECT_TRUE(receiver.done_comes_last());
    EXPECT_EQ(run_state.received_bytes.load(), 0);
    expect_one_request();
}

struct BodyCase {
    const char* name;
    size_t size;
    int status;
    const char* mode;
    const char* extra;
};

TEST_F(DownloadWorker, WholeBodyIsStoredByteForByte)
{
    // Every way a whole body can arrive: at once, without a length (the
    // end is the close), slowly in small pieces, and the sizes around a
    // chunk.
    const BodyCase cases[] = {
        {"large", 100000, 200, "full", ""},
        {"one byte", 1, 200, "full", ""},
        {"one chunk", CHUNK_SIZE, 200, "full", ""},
        {"chunk and one", CHUNK_SIZE + 1, 200, "full", ""},
        {"no length", 50000, 200, "nolength", ""},
        {"slowly", 12000, 200, "slow", "&chunk=3000&delay_ms=60"},
    };
    for (const BodyCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string body = pattern_bytes(c.size, static_cast<unsigned>(c.size));
        serve(body, c.status, c.mode, c.extra);
        Receiver receiver;
        ASSERT_NO_FATAL_FAILURE(run_worker_afresh(receiver));
        EXPECT_TRUE(installer_file() == body) << "file differs from the body";
        EXPECT_EQ(receiver.done_flag(), 1);
        EXPECT_TRUE(receiver.done_comes_last());
        EXPECT_EQ(run_state.received_bytes.load(), static_cast<int32_t>(c.size));
        // At least one report per chunk, and the final empty read.
        EXPECT_GE(receiver.count(UM_PROGRESS),
                  static_cast<int>((c.size + CHUNK_SIZE - 1) / CHUNK_SIZE) + 1);
        EXPECT_EQ(receiver.last_of(UM_PROGRESS), 1u);
    }
}

TEST_F(DownloadWorker, WithoutWinmmTheBodyIsStillStored)
{
    // winmm only raises the timer resolution for the transfer: where it
    // cannot be had, the download goes on at the usual one.
    ScratchFolder libraries(false);
    char system[MAX_PATH];
    UINT len = GetSystemDirectoryA(system, MAX_PATH);
    ASSERT_TRUE(len > 0 && len < MAX_PATH);
    for (const char* name : {"wininet.dll", "version.dll"})
        ASSERT_TRUE(CopyFileA((std::string(system) + "\\" + name).c_str(),
                              (libraries / name).c_str(), FALSE)) << name;
    SystemLibrariesFrom without_winmm(libraries.path());
    ASSERT_TRUE(system_library_ready(SYSTEM_WININET));
    ASSERT_FALSE(system_library_ready(SYSTEM_WINMM));
    std::string body = pattern_bytes(20000, 3);
    serve(body);
    run_worker();
    EXPECT_TRUE(installer_file() == body) << "file differs from the body";
    EXPECT_EQ(receiver.done_flag(), 1);
    expect_one_request();
}

struct PieceCase {
    const char* name;
    size_t piece;
    int pieces;
    const char* extra;
};

TEST_F(DownloadWorker, SlowBodyIsReportedPieceByPiece)
{
    // Pieces well apart: the window hears of each as it arrives, not all at
    // the end, also of pieces smaller than a read, since a read takes what
    // has arrived (reads that waited for 4096 bytes would report eight
    // pieces of 500 bytes in one).
    const PieceCase cases[] = {
        {"whole reads", 4096, 4, "&chunk=4096&delay_ms=250"},
        {"smaller than a read", 500, 8, "&chunk=500&delay_ms=150"},
    };
    for (const PieceCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string body = pattern_bytes(c.piece * c.pieces, 3);
        serve(body, 200, "slow", c.extra);
        Receiver receiver;
        ASSERT_NO_FATAL_FAILURE(run_worker_afresh(receiver));
        EXPECT_TRUE(installer_file() == body);
        EXPECT_GE(receiver.count(UM_PROGRESS), c.pieces + 1);
        EXPECT_EQ(receiver.last_of(UM_PROGRESS), 1u);
        EXPECT_EQ(receiver.done_flag(), 1);
    }
}

// Downloads that wait for the receive timeout: a suite of their own, run
// alone (see CMakeLists.txt).
class TimeoutDownloadWorker : public DownloadWorker {};

TEST_F(TimeoutDownloadWorker, StalledBodyFailsAfterTheReceiveTimeoutWithDoneLast)
{
    // Half the body, then nothing with the connection open: the read that
    // waits ends with the request's receive timeout (30 s), on wine too,
    // and nothing is posted after UM_DONE.
    std::string body = pattern_bytes(10000, 6);
    serve(body, 200, "slow", "&chunk=5000&delay_ms=120000");
    DWORD start = GetTickCount();
    ASSERT_NE(_beginthread(download_worker, 0, receiver.window()), static_cast<uintptr_t>(-1));
    ASSERT_TRUE(receiver.wait_for_done(60000)) << "no UM_DONE within a minute";
    DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited, 29000u);
    EXPECT_LE(waited, 40000u);
    EXPECT_EQ(receiver.done_flag(), 0);
    EXPECT_TRUE(receiver.done_comes_last());
    EXPECT_EQ(receiver.last_of(UM_PROGRESS), 0u);
    EXPECT_EQ(run_state.received_bytes.load(), 5000);
    EXPECT_TRUE(installer_file() == body.substr(0, 5000)) << "what arrived is written";
}

TEST_F(TimeoutDownloadWorker, HeadersThatNeverEndFailWithinTheRequestBound)
{
    // One header line every 5 s: never 30 s without a byte, but the
    // request's 60 s bound (with a margin) ends it, and nothing is written.
    serve("never sent", 200, "endless", "&delay_ms=5000");
    DWORD start = GetTickCount();
    ASSERT_NE(_beginthread(download_worker, 0, receiver.window()), static_cast<uintptr_t>(-1));
    ASSERT_TRUE(receiver.wait_for_done(120000)) << "no UM_DONE within two minutes";
    DWORD waited = GetTickCount() - start;
    std::printf("the endless headers failed the download after %lu ms\n", waited);
    EXPECT_GE(waited, 59000u);
    EXPECT_LE(waited, 66000u);
    EXPECT_EQ(receiver.done_flag(), 0);
    EXPECT_EQ(installer_file(), "");
}

TEST_F(DownloadWorker, ErrorPageIsStoredAsTheInstaller)
{
    const std::string page = "<html><head><title>404 Not Found</title></head>"
                             "<body><h1>Not Found</h1></body></html>\n";
    serve(page, 404, "full", "&type=text/html");
    run_worker();
    EXPECT_EQ(installer_file(), page);
    EXPECT_EQ(receiver.done_flag(), 1);
    EXPECT_EQ(run_state.received_bytes.load(), static_cast<int32_t>(page.size()));
    expect_one_request();
}

TEST_F(DownloadWorker, BodyCutShortIsAFailure)
{
    // 20000 bytes sent of 50000 announced, then the connection closes.
    std::string body = pattern_bytes(20000, 5);
    serve(body, 200, "short", "&length=50000");
    run_worker();
    EXPECT_EQ(receiver.done_flag(), 0);
    EXPECT_TRUE(receiver.done_comes_last());
    EXPECT_EQ(receiver.last_of(UM_PROGRESS), 0u);
    EXPECT_EQ(run_state.received_bytes.load(), 20000);
    EXPECT_TRUE(installer_file() == body) << "what arrived is written";
    expect_one_request();
}

TEST_F(DownloadWorker, ExistingInstallerIsCutEvenWhenNothingListens)
{
    ASSERT_TRUE(write_file(INSTALLER_FILE_NAME, "an older installer"));
    RefusedPort refused;
    ASSERT_GT(refused.port(), 0);
    set_download("http://127.0.0.1:" + std::to_string(refused.port()) + "/dl/", INSTALLER_NAME);
    run_worker();
    EXPECT_EQ(installer_file(), "");
    EXPECT_EQ(receiver.count(UM_PROGRESS), 0);
    EXPECT_EQ(receiver.done_flag(), 0);
}

TEST_F(DownloadWorker, FolderInThePlaceOfTheInstallerFailsBeforeAnyRequest)
{
    // Runs as root under wine, where even a read-only file opens for
    // writing: a folder is what cannot be created as a file.
    serve("never fetched");
    ASSERT_TRUE(CreateDirectoryA(INSTALLER_FILE_NAME, nullptr));
    run_worker();
    ASSERT_EQ(receiver.reports().size(), 1u);
    EXPECT_EQ(receiver.done_flag(), 0);
    EXPECT_TRUE(is_folder(INSTALLER_FILE_NAME));
    EXPECT_TRUE(server.log(prefix).empty());
}

TEST_F(DownloadWorker, InstallerThatCannotBeDeletedIsNotWrittenInto)
{
    // Someone holds the old file open, sharing writing but not deletion:
    // the file is never reused, so the download fails.
    serve("never fetched");
    ASSERT_TRUE(write_file(INSTALLER_FILE_NAME, "an older installer"));
    HANDLE other = CreateFileA(INSTALLER_FILE_NAME, GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                               nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    run_worker();
    CloseHandle(other);
    ASSERT_EQ(receiver.reports().size(), 1u);
    EXPECT_EQ(receiver.done_flag(), 0);
    EXPECT_EQ(installer_file(), "an older installer");
    EXPECT_TRUE(server.log(prefix).empty());
}

TEST_F(DownloadWorker, UrlTooLongForTheInstallerNameFailsLeavingTheFileAlone)
{
    serve("never fetched");
    ASSERT_TRUE(write_file(INSTALLER_FILE_NAME, "an older installer"));
    // The directory URL leaves room for 12 more bytes; the name has 13.
    std::string directory = server.url(prefix + "dl/");
    directory += std::string(sizeof run_state.download_url - 1 - 12 - directory.size() - 1, 'd');
    directory += "/";
    set_download(directory, INSTALLER_NAME);
    run_worker();
    ASSERT_EQ(receiver.reports().size(), 1u);
    EXPECT_EQ(receiver.done_flag(), 0);
    EXPECT_EQ(installer_file(), "an older installer");
    EXPECT_TRUE(server.log(prefix).empty());
}

TEST_F(DownloadWorker, InstallerNameIsJoinedToTheDirectoryUrl)
{
    // The name that fits exactly: the joined URL fills the buffer.
    std::string directory = server.url(prefix + "dl/");
    std::string name = std::string(sizeof run_state.download_url - 1 - directory.size() - 4,
                                   'n') + ".exe";
    set_download(directory, name);
    ASSERT_TRUE(server.set(prefix + "dl/" + name, "exact"));
    run_worker();
    EXPECT_EQ(receiver.done_flag(), 1);
    EXPECT_EQ(installer_file(), "exact");
    std::vector<ServedRequest> log = server.log(prefix);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].path, prefix + "dl/" + name);
}

}  // namespace

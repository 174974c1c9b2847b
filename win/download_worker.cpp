#include "download_worker.h"

#include <windows.h>
#include <mmsystem.h>
#include <string.h>

#include "internet_session.h"
#include "launch.h"
#include "owners.h"
#include "program_constants.h"
#include "run_state.h"
#include "system_libraries.h"
#include "transfer.h"
#ifdef POLVEX_CHECK_INSTALLER_SIGNER
#include "cipher.h"
#include "installer_signer.h"
#include "stored_texts.h"
#endif

namespace {

// The window waits for UM_DONE to offer OK: it must not be lost to a full
// queue.
void post_done(HWND window, int ok)
{
    while (!PostMessageA(window, UM_DONE, ok, 0) && IsWindow(window))
        Sleep(10);
}

struct WorkerContext {
    HWND window;
    HINTERNET request;
    HANDLE file;
    HCRYPTHASH written;  // the digest of every byte written
};

int read_chunk(void* context, char* buffer, uint32_t size, uint32_t* count)
{
    return read_arrived(static_cast<WorkerContext*>(context)->request, buffer, size, count);
}

int64_t write_chunk(void* context, const char* buffer, uint32_t count)
{
    WorkerContext* worker = static_cast<WorkerContext*>(context);
    DWORD written = 0;
    if (!WriteFile(worker->file, buffer, count, &written, nullptr) ||
        !CryptHashData(worker->written, reinterpret_cast<const BYTE*>(buffer), written, 0))
        return -1;
    return written;
}

void pause_after_read(void*)
{
    Sleep(1);
}

void post_progress(void* context, int ok)
{
    PostMessageA(static_cast<WorkerContext*>(context)->window, UM_PROGRESS, ok, 0);
}

char chunk[CHUNK_SIZE];

// The installer file in the current folder, or null. A link put in its
// place is opened itself, never followed: nothing is written elsewhere.
HANDLE open_installer(DWORD access, DWORD share, DWORD disposition)
{
    HANDLE file = CreateFileW(INSTALLER_FILE_NAME_W, access, share, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

const DWORD SHA256_SIZE = 32;

bool start_digest(HCRYPTPROV provider, CryptHash& digest)
{
    HCRYPTHASH hash = 0;
    bool ok = CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) != FALSE;
    digest.reset(hash);
    return ok;
}

bool digest_value(HCRYPTHASH digest, BYTE* value)
{
    DWORD size = SHA256_SIZE;
    return CryptGetHashParam(digest, HP_HASHVAL, value, &size, 0) && size == SHA256_SIZE;
}

// Reads the file from its start through the handle; true when its digest is
// the one of what was written.
bool holds_what_was_written(HANDLE file, HCRYPTPROV provider, HCRYPTHASH written)
{
    CryptHash reread;
    if (!start_digest(provider, reread))
        return false;
    DWORD got;
    do {
        if (!ReadFile(file, chunk, CHUNK_SIZE, &got, nullptr) ||
            !CryptHashData(reread.get(), reinterpret_cast<BYTE*>(chunk), got, 0))
            return false;
    } while (got != 0);
    BYTE expected[SHA256_SIZE];
    BYTE found[SHA256_SIZE];
    return digest_value(written, expected) && digest_value(reread.get(), found) &&
           memcmp(expected, found, SHA256_SIZE) == 0;
}

#ifdef POLVEX_CHECK_INSTALLER_SIGNER
// The writer of a build that checks the signer reads too (the check reads
// through it) and holds delete access, shared with nobody; the bridge that
// follows it must share deletion while the writer is open.
const DWORD WRITER_ACCESS = GENERIC_READ | GENERIC_WRITE | DELETE;
const DWORD BRIDGE_SHARE = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// While marked, the file is deleted when the last handle to it closes,
// whoever holds that handle and however the program ends (killed, logged
// off): from its creation until its check passed. Windows refuses every
// other open of a marked file, so the mark is cleared before the writer is
// traded for the held handle.
bool mark_for_deletion(HANDLE file, BOOLEAN marked)
{
    FILE_DISPOSITION_INFO disposition = {marked};
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof disposition) != FALSE;
}

// The check of the installer's signer, through the writer: nobody else
// can have written the file since its creation.
bool signed_by_vendor(HANDLE file)
{
    char signer[SIGNER_NAME_SIZE];
    char issuer[SIGNER_NAME_SIZE];
    wchar_t path[MAX_PATH];
    return SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 &&
           decipher_into(stored_installer_signer, signer, sizeof signer) &&
           decipher_into(stored_installer_issuer, issuer, sizeof issuer) &&
           installer_path(path) && installer_signed_by(file, path, signer, issuer);
}
#else
const DWORD WRITER_ACCESS = GENERIC_WRITE;
const DWORD BRIDGE_SHARE = FILE_SHARE_READ | FILE_SHARE_WRITE;
#endif

// Trades the writing handle for one that reads and lets others only read:
// nobody can write, rename or delete the file from its creation until the
// launch closes that handle. A handle that denies writing cannot be opened
// while any handle that writes is open, our own writer included (wine
// checks it the same way), so a bridge that reads and shares writing, but
// not deletion, holds the file while the writer closes: a writer that slips
// in there makes the held open fail, or, if it was quick, the content
// differ. Either fails the download, and the file, no longer ours, is
// deleted. A build that checks the signer checks it first, through the
// writer; its bridge shares deletion too (the writer deletes), so a rename
// that slips in makes the held open fail or the content differ as well.
int hold_installer(KernelHandle& writer, HCRYPTPROV provider, HCRYPTHASH written)
{
#ifdef POLVEX_CHECK_INSTALLER_SIGNER
    if (!signed_by_vendor(writer.get()))
        return DOWNLOAD_REFUSED;
    if (!mark_for_deletion(writer.get(), FALSE))
        return DOWNLOAD_FAILED;
#endif
    KernelHandle bridge(open_installer(GENERIC_READ, BRIDGE_SHARE, OPEN_EXISTING));
    if (!bridge)
        return DOWNLOAD_FAILED;
    writer.reset();
    KernelHandle held(open_installer(GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    bridge.reset();
    if (!held || !holds_what_was_written(held.get(), provider, written)) {
        held.reset();
        DeleteFileW(INSTALLER_FILE_NAME_W);
        return DOWNLOAD_FAILED;
    }
    run_state.installer_file = held.release();
    return DOWNLOAD_DONE;
}

// The download itself: the installer file, then the request, then the
// transfer, then the hold on the file. Returns DOWNLOAD_DONE when the
// whole body was written (and its signer checked, in a build that checks
// it) and is held in run_state.installer_file; everything else is closed
// by then.
int download_installer(WorkerContext& context)
{
    if (!join_installer_url(run_state.download_url, sizeof run_state.download_url,
                            run_state.installer_name))
        return 0;
    // The file is made new, so that it has none of the owner or the
    // permissions of a file someone else left; a file of that name that
    // cannot be deleted makes the creation fail. Only reading is shared.
    DeleteFileW(INSTALLER_FILE_NAME_W);
    KernelHandle file(open_installer(WRITER_ACCESS, FILE_SHARE_READ, CREATE_NEW));
    CryptProvider provider;
    HCRYPTPROV acquired = 0;
    bool digest_ready = CryptAcquireContextW(&acquired, nullptr, nullptr, PROV_RSA_AES,
                                             CRYPT_VERIFYCONTEXT) != FALSE;
    provider.reset(acquired);
    CryptHash written;
    if (!file)
        return 0;
    context.file = file.get();  // from here on the file exists
#ifdef POLVEX_CHECK_INSTALLER_SIGNER
    if (!mark_for_deletion(file.get(), TRUE))
        return 0;
#endif
    if (!digest_ready || !start_digest(provider.get(), written))
        return 0;
    // The request is bounded until its headers; the body keeps its own
    // rule: it fails after the receive timeout without a byte, however long
    // it takes in all.
    RequestRef opened;
    if (!run_request(run_state.download_url, false, opened))
        return 0;
    context.request = opened.get()->request.get();
    context.written = written.get();
    // A one-millisecond pause lasts a whole scheduler tick (about 15 ms)
    // unless the timer resolution is raised for the transfer.
    bool fine_timer = system_library_ready(SYSTEM_WINMM);
    if (fine_timer)
        timeBeginPeriod(1);
    TransferIo io = {read_chunk, write_chunk, pause_after_read, post_progress, &context};
    int ok = run_transfer(io, chunk, run_state.received_bytes, announced_length(context.request),
                          run_state.total_bytes);
    if (fine_timer)
        timeEndPeriod(1);
    return ok ? hold_installer(file, provider.get(), written.get()) : DOWNLOAD_FAILED;
}

}  // namespace

void __cdecl download_worker(void* window)
{
    // The request and the file are filled in as the download opens them.
    WorkerContext context = {};
    context.window = static_cast<HWND>(window);
    int ok = download_installer(context);
#ifdef POLVEX_CHECK_INSTALLER_SIGNER
    // A build that checks the signer leaves no file behind that it has not
    // checked: whatever failed, the file (closed by now) goes, by its mark
    // and, should that have been cleared, by its name.
    if (ok != DOWNLOAD_DONE && context.file)
        DeleteFileW(INSTALLER_FILE_NAME_W);
#endif
    post_done(context.window, ok);
}

#include "run.h"

#include "download_window.h"
#include "language_chooser.h"
#include "owners.h"
#include "program_constants.h"
#include "run_state.h"

#define POLVEX_INSTALLER_NAME "pinstall.exe"
const char INSTALLER_FILE_NAME[] = POLVEX_INSTALLER_NAME;
const wchar_t INSTALLER_FILE_NAME_W[] = L"" POLVEX_INSTALLER_NAME;

int run_polvex(HINSTANCE instance, HINSTANCE previous_instance)
{
    if (previous_instance)
        return 0;
    // Two runs at once would both truncate and write the installer file:
    // a second copy leaves quietly while the first one runs.
    KernelHandle running(CreateMutexA(nullptr, FALSE, "PolvexDownloadManagerRun"));
    if (running && GetLastError() == ERROR_ALREADY_EXISTS)
        return 0;
    reset_run_state(run_state);
    run_state.app_instance = instance;
    if (DialogBoxParamA(instance, "LANGCHOOSER", nullptr, language_chooser_proc, 0) != 0)
        DialogBoxParamA(instance, "MANAGER", nullptr, download_window_proc, 0);
    return 0;
}

/* Asks Windows whether files' Authenticode signatures are trusted, as the
   shell does before it runs a downloaded program: WinVerifyTrust with the
   generic verify action, no user interface, no revocation check. Prints
   each file's result in hex, one line each, and exits 0 only when every
   file is trusted.
   Usage: verify_trust FILE... */
#include <windows.h>
#include <softpub.h>
#include <stdio.h>
#include <wintrust.h>

static LONG verify(const char* name)
{
    WCHAR path[MAX_PATH];
    if (!MultiByteToWideChar(CP_ACP, 0, name, -1, path, MAX_PATH))
        return (LONG)ERROR_BAD_PATHNAME;
    WINTRUST_FILE_INFO file;
    ZeroMemory(&file, sizeof file);
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path;
    WINTRUST_DATA data;
    ZeroMemory(&data, sizeof data);
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    LONG result = WinVerifyTrust(NULL, &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(NULL, &action, &data);
    return result;
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: verify_trust FILE...\n");
        return 2;
    }
    int trusted = 1;
    for (int i = 1; i < argc; ++i) {
        LONG result = verify(argv[i]);
        printf("0x%08lx %s\n", (unsigned long)result, argv[i]);
        trusted = trusted && result == ERROR_SUCCESS;
    }
    return trusted ? 0 : 1;
}

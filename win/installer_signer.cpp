#include "installer_signer.h"

#include <softpub.h>
#include <string.h>
#include <wincrypt.h>
#include <wintrust.h>

#include "system_libraries.h"

namespace {

// The primary signer's certificate: its chain must end at a trusted root
// and its common name must be signer.
bool signer_matches(HANDLE state, const char* signer)
{
    CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(state);
    CRYPT_PROVIDER_SGNR* primary =
        provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    if (!primary || !primary->pChainContext || primary->csCertChain == 0)
        return false;
    // Wine's WinVerifyTrust accepts a chain whose root is in no store of
    // the system; the chain's own status says so on both.
    if (primary->pChainContext->TrustStatus.dwErrorStatus != CERT_TRUST_NO_ERROR)
        return false;
    wchar_t name[SIGNER_NAME_SIZE];
    DWORD length = CertGetNameStringW(primary->pasCertChain[0].pCert, CERT_NAME_ATTR_TYPE, 0,
                                      const_cast<char*>(szOID_COMMON_NAME), name,
                                      SIGNER_NAME_SIZE);
    // A name that filled the buffer may have been cut: longer than any
    // setting.
    if (length <= 1 || length >= SIGNER_NAME_SIZE)
        return false;
    char utf8[SIGNER_NAME_SIZE * 3];
    if (!WideCharToMultiByte(CP_UTF8, 0, name, -1, utf8, sizeof utf8, nullptr, nullptr))
        return false;
    return strcmp(utf8, signer) == 0;
}

}  // namespace

bool installer_signed_by(HANDLE file, const wchar_t* path, const char* signer)
{
    // Without the libraries that check it, no installer passes.
    if (!system_library_ready(SYSTEM_WINTRUST) || !system_library_ready(SYSTEM_CRYPT32))
        return false;
    WINTRUST_FILE_INFO file_info;
    memset(&file_info, 0, sizeof file_info);
    file_info.cbStruct = sizeof file_info;
    file_info.pcwszFilePath = path;
    file_info.hFile = file;
    WINTRUST_DATA data;
    memset(&data, 0, sizeof data);
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    // No revocation check and no fetching of anything from the network
    // while the chain is built: offline, either would leave the window
    // waiting for the network's timeouts, and a revocation check that
    // cannot reach its server fails the file anyway.
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file_info;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    HWND no_window = static_cast<HWND>(INVALID_HANDLE_VALUE);
    bool signed_by = WinVerifyTrust(no_window, &action, &data) == ERROR_SUCCESS &&
                     signer_matches(data.hWVTStateData, signer);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(no_window, &action, &data);
    return signed_by;
}

// The revocation parameters' timeout is among their extra fields.
#define CERT_REVOCATION_PARA_HAS_EXTRA_FIELDS
#include "installer_signer.h"

#include <softpub.h>
#include <string.h>
#include <wincrypt.h>
#include <wintrust.h>

#include "certificate_entry.h"
#include "owners.h"
#include "system_libraries.h"
#include "tag.h"

namespace {

// What the crypto API decodes for the checks, one at a time: static, as a
// stack buffer this large would need stack probes. A name or a usage list
// that does not fit fails the check.
union {
    CERT_NAME_INFO name;
    CERT_ENHKEY_USAGE usage;
    BYTE bytes[8192];
} decoded;

// Decodes an encoded name as UTF-16 values into decoded.
bool decode_name(const BYTE* encoded, DWORD length)
{
    DWORD size = sizeof decoded;
    return CryptDecodeObject(X509_ASN_ENCODING, X509_UNICODE_NAME, encoded, length, 0, &decoded,
                             &size) != FALSE;
}

// True when the encoded name holds exactly one common name, with no NUL in
// it, and that name is expected (UTF-8), byte for byte. The API's own
// readers would give the first of several names, and a name only up to its
// first NUL.
bool only_common_name_is(const CERT_NAME_BLOB& encoded, const char* expected)
{
    // Wine's decoder counts a value's terminator in its length, Windows'
    // documented one does not: a name known to be "a" tells which.
    static const BYTE NAME_A[] = {0x30, 0x0c, 0x31, 0x0a, 0x30, 0x08, 0x06, 0x03, 0x55, 0x04,
                                  0x03, 0x0c, 0x01, 'a'};
    if (!decode_name(NAME_A, sizeof NAME_A))
        return false;
    DWORD terminator = decoded.name.rgRDN[0].rgRDNAttr[0].Value.cbData / sizeof(wchar_t) - 1;
    if (!decode_name(encoded.pbData, encoded.cbData))
        return false;
    const CERT_RDN_VALUE_BLOB* found = nullptr;
    for (DWORD i = 0; i < decoded.name.cRDN; ++i) {
        const CERT_RDN& rdn = decoded.name.rgRDN[i];
        for (DWORD j = 0; j < rdn.cRDNAttr; ++j) {
            if (strcmp(rdn.rgRDNAttr[j].pszObjId, szOID_COMMON_NAME) != 0)
                continue;
            if (found)
                return false;
            found = &rdn.rgRDNAttr[j].Value;
        }
    }
    if (!found)
        return false;
    const wchar_t* name = reinterpret_cast<const wchar_t*>(found->pbData);
    int length = static_cast<int>(found->cbData / sizeof(wchar_t) - terminator);
    char utf8[SIGNER_NAME_SIZE];
    int written = WideCharToMultiByte(CP_UTF8, 0, name, length, utf8, sizeof utf8 - 1, nullptr,
                                      nullptr);
    if (written <= 0 || memchr(utf8, 0, written))
        return false;
    utf8[written] = '\0';
    return strcmp(utf8, expected) == 0;
}

// True when the certificate's extended key usage lists code signing.
// Wine's WinVerifyTrust does not check it; a certificate without the
// extension, valid for every use on Windows, is not taken.
bool allows_code_signing(PCCERT_CONTEXT cert)
{
    DWORD size = sizeof decoded;
    if (!CertGetEnhancedKeyUsage(cert, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, &decoded.usage,
                                 &size))
        return false;
    for (DWORD i = 0; i < decoded.usage.cUsageIdentifier; ++i)
        if (strcmp(decoded.usage.rgpszUsageIdentifier[i], szOID_PKIX_KP_CODE_SIGNING) == 0)
            return true;
    return false;
}

// How long the revocation checks of a chain may take together.
const DWORD REVOCATION_DEADLINE_MS = 15000;
// The longest chain checked for revocation, from its leaf.
const DWORD MAX_CHECKED_CHAIN = 8;

// What the revocation check works on: references of its own to the
// chain's certificates, since the check may outlive the signer check that
// waits for it (the wait is bounded, the servers' answers are not: a
// silent server per certificate, a list that trickles, a huge list). One
// check a run; the thread releases the references when it ends.
struct RevocationWork {
    CertContext chain[MAX_CHECKED_CHAIN];
    DWORD count;
    DWORD started;
    volatile LONG revoked;
} revocation;

void release_chain()
{
    for (DWORD i = 0; i < revocation.count; ++i)
        revocation.chain[i].reset();
}

// Each certificate is checked on its own against its issuer, so that one
// whose server is down does not hide the revocation of the next; the root
// is not checked. Each call is told what is left of the deadline, which
// ends Windows' fetch; wine's cryptnet applies it per server address, and
// the wait for this thread is what bounds the whole.
DWORD WINAPI check_revocation(void*)
{
    for (DWORD i = 0; i + 1 < revocation.count; ++i) {
        DWORD spent = GetTickCount() - revocation.started;
        if (spent >= REVOCATION_DEADLINE_MS)
            break;
        CERT_REVOCATION_PARA para;
        memset(&para, 0, sizeof para);
        para.cbSize = sizeof para;
        para.pIssuerCert = revocation.chain[i + 1].get();
        para.dwUrlRetrievalTimeout = REVOCATION_DEADLINE_MS - spent;
        CERT_REVOCATION_STATUS status;
        memset(&status, 0, sizeof status);
        status.cbSize = sizeof status;
        void* cert = const_cast<CERT_CONTEXT*>(revocation.chain[i].get());
        if (!CertVerifyRevocation(X509_ASN_ENCODING, CERT_CONTEXT_REVOCATION_TYPE, 1, &cert, 0,
                                  &para, &status) &&
            status.dwError == static_cast<DWORD>(CRYPT_E_REVOKED)) {
            InterlockedExchange(&revocation.revoked, 1);
            break;
        }
    }
    release_chain();
    return 0;
}

// False only when the leaf or an authority above it is known to be revoked
// within REVOCATION_DEADLINE_MS. A revocation server that cannot be
// reached or does not answer in time, or a certificate that names none,
// lets the check pass (it fails soft), so that a machine that cannot reach
// the server still installs.
bool none_revoked(const CRYPT_PROVIDER_SGNR* primary)
{
    revocation.count = primary->csCertChain < MAX_CHECKED_CHAIN ? primary->csCertChain
                                                                 : MAX_CHECKED_CHAIN;
    for (DWORD i = 0; i < revocation.count; ++i)
        revocation.chain[i].reset(CertDuplicateCertificateContext(primary->pasCertChain[i].pCert));
    revocation.started = GetTickCount();
    KernelHandle thread(CreateThread(nullptr, 0, check_revocation, nullptr, 0, nullptr));
    // A check that cannot start is not the network's doing: it refuses.
    if (!thread) {
        release_chain();
        return false;
    }
    WaitForSingleObject(thread.get(), REVOCATION_DEADLINE_MS);
    return InterlockedCompareExchange(&revocation.revoked, 0, 0) == 0;
}

// Wine's WinVerifyTrust judges the chain at the time of a timestamp
// without checking the timestamp's own signature: a certificate that has
// expired, or is not yet valid, is refused here whatever a timestamp says,
// on both (Windows is told so by WTD_LIFETIME_SIGNING_FLAG).
bool all_valid_now(const CRYPT_PROVIDER_SGNR* primary)
{
    for (DWORD i = 0; i < primary->csCertChain; ++i)
        if (CertVerifyTimeValidity(nullptr, primary->pasCertChain[i].pCert->pCertInfo) != 0)
            return false;
    return true;
}

DWORD le32(const BYTE* bytes)
{
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<DWORD>(bytes[3]) << 24;
}

// Exactly size bytes of file at offset.
bool read_at(HANDLE file, DWORD offset, void* buffer, DWORD size)
{
    DWORD got = 0;
    return SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN) == offset &&
           ReadFile(file, buffer, size, &got, nullptr) && got == size;
}

// True when the certificate table holds nothing after the signature but
// what only_padding_after_signature allows: the image digest leaves the
// table out, and Windows takes other bytes there unless its stricter
// padding check is on. WinVerifyTrust has found the signature the same way
// already: only the signature's DER length is read again here.
bool nothing_after_signature(HANDLE file)
{
    BYTE bytes[8];
    if (!read_at(file, 0x3C, bytes, 4))
        return false;
    DWORD optional = le32(bytes) + 24;
    if (optional < 24 || !read_at(file, optional, bytes, 2))
        return false;
    DWORD magic = bytes[0] | bytes[1] << 8;
    DWORD directory = optional + (magic == 0x20B ? 144 : 128);
    if ((magic != 0x10B && magic != 0x20B) || !read_at(file, directory, bytes, 8))
        return false;
    DWORD table = le32(bytes);
    DWORD table_end = table + le32(bytes + 4);
    // The entry's 8-byte header, then the signature: a DER sequence with a
    // length of at most four bytes.
    if (table_end < table || table > MAXDWORD - 8 || !read_at(file, table + 8, bytes, 6) ||
        bytes[0] != 0x30)
        return false;
    DWORD length = bytes[1];
    DWORD header = 2;
    if (length & 0x80) {
        header += length & 0x7F;
        if (header > 6)
            return false;
        length = 0;
        for (DWORD i = 2; i < header; ++i)
            length = length << 8 | bytes[i];
    }
    DWORD signature_end = table + 8 + header + length;
    char after[TRAILER_SIZE + 8];
    if (signature_end < table || signature_end > table_end ||
        table_end - signature_end > sizeof after ||
        !read_at(file, signature_end, after, table_end - signature_end))
        return false;
    return only_padding_after_signature(after, table_end - signature_end) != 0;
}

// The primary signer's certificate: its chain must end at a trusted root,
// it must allow code signing, its subject's and issuer's one common names
// must be signer and issuer, and no certificate of the chain be revoked.
bool signer_matches(HANDLE state, const char* signer, const char* issuer)
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
    PCCERT_CONTEXT leaf = primary->pasCertChain[0].pCert;
    return all_valid_now(primary) && allows_code_signing(leaf) &&
           only_common_name_is(leaf->pCertInfo->Subject, signer) &&
           only_common_name_is(leaf->pCertInfo->Issuer, issuer) && none_revoked(primary);
}

}  // namespace

bool installer_signed_by(HANDLE file, const wchar_t* path, const char* signer,
                         const char* issuer)
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
    // cannot reach its server fails the file. Revocation is checked after,
    // bounded and failing soft (none_revoked). A timestamp never extends
    // an expired certificate (all_valid_now).
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_LIFETIME_SIGNING_FLAG;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file_info;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    HWND no_window = static_cast<HWND>(INVALID_HANDLE_VALUE);
    bool signed_by = WinVerifyTrust(no_window, &action, &data) == ERROR_SUCCESS &&
                     nothing_after_signature(file) &&
                     signer_matches(data.hWVTStateData, signer, issuer);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(no_window, &action, &data);
    return signed_by;
}

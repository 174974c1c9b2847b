// Whether a downloaded installer carries a valid Authenticode signature
// by the vendor named in the build's settings.
#pragma once
#include <windows.h>

// The longest signer or issuer name the build accepts, its terminator
// included.
const size_t SIGNER_NAME_SIZE = 256;

// True when the file (open for reading, and its full path) has a valid
// signature whose chain ends at a root trusted on this system, every
// certificate of it valid now, nothing after it in the certificate table
// but padding or a tag trailer, and the primary signer's certificate
// allows code signing, and has one common name in its subject, signer, and
// one in its issuer, issuer (both UTF-8, byte for byte), and none of the
// chain is known revoked within 15 s (the check waits no longer).
bool installer_signed_by(HANDLE file, const wchar_t* path, const char* signer,
                         const char* issuer);

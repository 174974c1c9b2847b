/* Adds a test root certificate (a DER file) to the machine's "Root" store
   of the wine prefix it runs in, so that signatures and servers made with
   that root are trusted there. Never run it outside a test prefix.
   Usage: trust_root ROOT.der */
#include <windows.h>
#include <stdio.h>
#include <wincrypt.h>

static int read_all(const char* name, BYTE* buffer, DWORD size, DWORD* length)
{
    FILE* file = fopen(name, "rb");
    if (!file)
        return 0;
    *length = (DWORD)fread(buffer, 1, size, file);
    int whole = feof(file) && !ferror(file);
    fclose(file);
    return whole && *length > 0;
}

int main(int argc, char** argv)
{
    static BYTE der[65536];
    DWORD length = 0;
    if (argc != 2 || !read_all(argv[1], der, sizeof der, &length)) {
        fprintf(stderr, "usage: trust_root ROOT.der (a readable DER certificate)\n");
        return 2;
    }
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                                     CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
    if (!store) {
        fprintf(stderr, "cannot open the Root store: %lu\n", GetLastError());
        return 1;
    }
    BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der, length,
                                                  CERT_STORE_ADD_REPLACE_EXISTING, NULL);
    if (!added)
        fprintf(stderr, "cannot add the certificate: 0x%08lx\n", GetLastError());
    CertCloseStore(store, 0);
    return added ? 0 : 1;
}

// The certificate chains that the signer's check follows: the roots they
// may end at, one chain followed at a time, and what a failure means to a
// vendor. libcrypto underneath.
#pragma once
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <time.h>

#include <memory>
#include <string>

#include "site/signer/signer_check.h"

template <typename T, void (*Free)(T*)>
struct Freer {
    void operator()(T* object) const { Free(object); }
};
typedef std::unique_ptr<PKCS7, Freer<PKCS7, PKCS7_free>> Pkcs7;
typedef std::unique_ptr<X509_STORE, Freer<X509_STORE, X509_STORE_free>> Store;
typedef std::unique_ptr<BIO, Freer<BIO, BIO_free_all>> Bio;

void free_chain(STACK_OF(X509) * chain);
typedef std::unique_ptr<STACK_OF(X509), Freer<STACK_OF(X509), free_chain>> Chain;

// The roots the pin names (its file, or the system's); with judge_trust
// false, none, and a chain that ends without a root is not a failure.
// Null, with *why, when the file cannot be read.
Store trust_store(const SignerPin& pin, std::string* why);

// Follows cert's chain through untrusted up to a root of store, at the time
// when (0: now). Returns why it fails, in a vendor's words, or empty with
// the chain in *chain, cert first.
std::string chain_problem(X509_STORE* store, X509* cert, STACK_OF(X509) * untrusted, time_t when,
                          const SignerPin& pin, Chain* chain);

// The certificate's first common name (or its whole subject), as UTF-8.
std::string certificate_name(X509* cert);

// A certificate time as "2026-12-10 04:47 UTC".
std::string date_text(const ASN1_TIME* time);

// The reason libcrypto's last failure gives, with its detail; the queue
// is emptied.
std::string last_openssl_reason();

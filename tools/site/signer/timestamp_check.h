// The timestamps of an Authenticode signature, read as Windows reads them:
// a legacy countersignature or an RFC 3161 token, each signed by a
// time-stamping authority whose chain ends at the pin's roots.
#pragma once
#include <openssl/pkcs7.h>

#include <string>

#include "site/signer/signer_check.h"

// Why one of the signature's timestamps is not a timestamp of its signer's
// signature by a time-stamping authority; empty when every one is (or it
// has none). A timestamp says when, and never extends a certificate.
std::string timestamps_problem(PKCS7* signature, const SignerPin& pin);

// site/signer/: an installer's signer, checked as the program checks it.
// Here: whether an installer is signed by the vendor the program is built to
// accept, by the program's rules, with libcrypto. Platform-free.
#pragma once
#include <string>

// Why image is not signed by signer as the program requires: a valid
// Authenticode signature whose image digest matches, a chain from the
// signer's certificate to one of the roots in roots_file (PEM; empty: the
// system's trusted roots) valid at the signature's timestamp if it has one,
// now otherwise, and a primary signer's certificate that allows code
// signing, whose subject and issuer each hold one common name, without a
// NUL, signer and issuer, byte for byte (UTF-8). Empty when it is.
std::string signer_problem(const std::string& image, const std::string& signer,
                           const std::string& issuer, const std::string& roots_file);

// Why the roots in roots_file (PEM) cannot be used; empty when they can.
std::string roots_problem(const std::string& roots_file);

// Whether an installer is signed by the vendor the program is built to
// accept, by the program's rules, with libcrypto. Platform-free.
#pragma once
#include <string>

// Why image is not signed by signer as the program requires: a valid
// Authenticode signature whose image digest matches, a chain from the
// signer's certificate to one of the roots in roots_file (PEM; empty: the
// system's trusted roots) valid now, and a primary signer whose subject
// common name is signer, byte for byte (UTF-8). Empty when it is.
std::string signer_problem(const std::string& image, const std::string& signer,
                           const std::string& roots_file);

// Why the roots in roots_file (PEM) cannot be used; empty when they can.
std::string roots_problem(const std::string& roots_file);

// site/signer/: an installer's signer, checked as the program checks it.
// Here: whether an installer is signed by the vendor the program is built to
// accept, by the program's rules, with libcrypto. Platform-free.
#pragma once
#include <string>

// What an installer's signature must show: the pin a build of the program
// holds, and the roots its chain may end at.
struct SignerPin {
    std::string signer;
    std::string issuer;
    std::string roots_file;    // PEM; empty: the system's trusted roots
    bool judge_trust = true;   // false: the chain is followed as far as the
                               // signature carries it, and no root is asked for
};

// Why image is not signed as the program built with pin requires: a valid
// Authenticode signature whose image digest matches; a chain from the
// signer's certificate to one of the roots, valid now (a timestamp never
// extends an expired certificate), every authority on it allowing code
// signing; a signer's certificate for code signing whose subject and issuer
// each hold one common name, without a NUL, the pin's, byte for byte
// (UTF-8); and every timestamp (legacy countersignature or RFC 3161) signed
// and chained as such. Empty when it is. *warning: a note that does not fail
// (a certificate that expires within 30 days), empty when none.
std::string signer_problem(const std::string& image, const SignerPin& pin, std::string* warning);

// Why the roots in roots_file (PEM) cannot be used; empty when they can.
std::string roots_problem(const std::string& roots_file);

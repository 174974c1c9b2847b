// site/check/: a served download site asked and judged. Here: site check:
// asks a download site what the program would ask it, and checks every
// package that the site offers.
#pragma once
#include <ostream>
#include <string>
#include <vector>

#include "site/check/web_client.h"

struct CheckOptions {
    bool as_program = false;  // one resolution with the program's fallback
    bool json = false;        // the report as one JSON object
    std::string signer;       // each installer must be signed by it, when not empty
    std::string issuer;       // under a certificate this authority issued
    std::string signer_roots; // the roots its chain may end at (PEM); empty: the system's
    // Where the warnings about plain http links go (standard error for the
    // command); none when null.
    std::ostream* warnings = nullptr;
    // The URLs the partner copies must ask (those of the build checked
    // with --program); empty: the bootstrap URLs checked.
    std::vector<std::string> program_urls;
};

// Follows the chain from each bootstrap URL on its own (or, as_program,
// resolves as the program does: the second only when the first fails),
// then in each download directory reached fetches and parses each of the
// 22 manifests, checks that its installer is served whole, and reads back
// the partner copies; with a signer, fetches each installer and checks its
// signer as the program built with it does. Prints the chains, one line per
// package and copy and the summaries to out, and warns about plain http
// links. Returns 0 when every chain reaches a directory and everything there
// is fine, 1 otherwise.
int check_site(const std::string& bootstrap_1, const std::string& bootstrap_2, WebClient& web,
               std::ostream& out, const CheckOptions& options = CheckOptions());

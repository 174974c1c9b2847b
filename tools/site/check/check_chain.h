// The chains of replies that site check follows from the bootstrap URLs,
// with the program's own resolution, noting every page on the way.
#pragma once
#include <string>
#include <vector>

#include "site/check/web_client.h"

// One page fetched in a chain, with what it answered.
struct FetchRecord {
    std::string url;
    long status = 0;     // 0: no answer
    std::string answer;  // the reply as shown, or why there was no answer
    std::string reply;   // the body as it came
};

// The chain from one bootstrap URL, or the program's whole resolution.
struct ChainReport {
    std::string bootstrap;  // empty: both URLs, as the program runs them
    std::vector<FetchRecord> fetches;
    std::string directory;  // empty when none was reached
    std::string problem;    // why none was reached
};

// Runs the program's site resolution from two bootstrap URLs.
ChainReport resolve(const std::string& bootstrap_1, const std::string& bootstrap_2, WebClient& web);

// The chain from one bootstrap URL alone, and why it reached no download
// directory when it did not.
ChainReport follow_chain(const std::string& bootstrap, WebClient& web);

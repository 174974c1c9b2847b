// What site check found, and how it is shown: as text, as one JSON
// object, and the warnings about plain http links.
#pragma once
#include <stdint.h>

#include <ostream>
#include <string>
#include <vector>

#include "site/check/check_chain.h"

// A package or a partner copy, as checked.
struct ItemReport {
    std::string name;
    std::string detail;   // what was found when fine
    std::string problem;  // empty when fine
    int64_t size = -1;    // a package's installer size
    std::string placement;  // where a partner copy's tag is, in words
};

struct DirectoryReport {
    std::string url;
    std::string problem;  // the directory itself cannot serve the program
    std::vector<ItemReport> packages;
    bool has_partner_index = false;
    std::vector<ItemReport> partner_copies;
};

struct SiteReport {
    std::vector<ChainReport> chains;
    std::vector<DirectoryReport> directories;
};

// Whether every chain reached a directory and everything there is fine.
bool passed(const SiteReport& report);

// The report as text, one line a page, package or copy, with summaries,
// and last the verdict: "verdict: ok" or "verdict: FAIL" as passed says,
// with the counts of chains, packages and copies that are fine.
void print_report(const SiteReport& report, std::ostream& out);

// The report as one JSON object, the warnings included.
void print_json(const SiteReport& report, std::ostream& out);

// One warning for each plain http URL that a chain fetched or reached,
// whichever chains share it: anyone on the way can answer in the site's
// place there.
void warn_plain_links(const SiteReport& report, std::ostream& warnings);
std::vector<std::string> plain_link_warnings(const SiteReport& report);

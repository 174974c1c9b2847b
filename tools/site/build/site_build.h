// site/build/: the download site written out. Here: a static download site
// written from a site configuration.
#pragma once
#include <string>
#include <vector>

#include "site/config/site_config.h"

struct SiteBuildSummary {
    std::string download_dir_url;
    int manifests = 0;
    int installers = 0;
    int installer_copies = 0;  // files copied into the site
    int hard_links = 0;        // further names of those copies
    std::vector<std::string> pages;  // "PATH: what it holds"
    std::vector<std::string> overridden;  // package files a reply page replaced
    std::vector<std::string> partner_copies;  // "FILE TAG" of each stamped copy
    std::vector<std::string> warnings;  // notes that do not stop the build
};

// Writes the site under outdir: for every package its manifest and its
// installer in the download directory, then the reply pages, then one
// stamped copy of the program for each tag with their index in the
// partners folder (beside the release folders, when there is a release).
// Files already there under the names of the download directory are
// replaced, other files are left alone; a release folder must be new or
// empty, and the partners folder is written whole. When the program pins
// the installers' signer, every installer is checked against that pin
// first, with the roots in signer_roots (PEM) when given: the chain's root
// is judged only then. Throws ToolError, having written nothing, when a
// folder or an installer is refused.
SiteBuildSummary build_site(const SiteConfig& config, const std::string& outdir,
                            const std::string& signer_roots = "");

// The summary as printed, one line each.
std::string describe_build(const SiteConfig& config, const SiteBuildSummary& summary,
                           const std::string& outdir);

// The same as one JSON object.
std::string describe_build_json(const SiteConfig& config, const SiteBuildSummary& summary,
                                const std::string& outdir);

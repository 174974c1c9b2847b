// site/config/: the download site's configuration and its rules. Here: the
// configuration, as dlmtool site build reads it, one keyword and its
// arguments a line (the format is documented in docs/site-config.md);
// config_file.h reads it, through the parts that config_reader.h names.
// The rest of site/: formats/ beneath (what the program and the site agree
// on) and signer/ beside it (an installer's signer); above, build/site_build.h
// writes the site and check/site_check.h asks a served one, through
// web_client.h (libcurl behind it in curl_web_client.h).
#pragma once
#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "site/formats/package_names.h"

// A page written at a path of the site.
struct ReplyPage {
    enum Kind { DIRECT, REDIRECT, RECORD, PLAIN };
    std::string path;      // relative to the site folder
    Kind kind;
    std::string argument;  // redirect target, record text or plain text
    int line;
};

struct InstallerSource {
    std::string path;      // resolved against the configuration's folder
    uint64_t size = 0;
    int line = 0;
};

// A copy of the program for one distribution partner, stamped with its tag.
struct DistributionTag {
    std::string identifier;
    std::string suffix;  // may be empty
    int line = 0;

    // The tag the program reads: ID, or ID_SUFFIX.
    std::string tag() const { return suffix.empty() ? identifier : identifier + "_" + suffix; }
    // polvexTAG.exe: the name carries the tag too.
    std::string file_name() const { return "polvex" + tag() + ".exe"; }
};

// The partner copies' folder, below the configured download directory, and
// the index of its copies that dlmtool site check reads.
extern const char PARTNER_FOLDER[];  // "partners/"
extern const char PARTNER_INDEX[];   // "index.txt"

struct SiteConfig {
    std::string base;       // URL at which the site folder is served, ends with '/'
    std::vector<std::string> mirrors;  // further URLs serving the same folder
    std::string directory;  // download directory below base, ends with '/'
    InstallerSource installer;                      // path empty when not given
    std::map<std::string, InstallerSource> packages;  // "p_Vandel_reg_DEU" -> its own installer
    std::vector<std::string> news;  // as written, UTF-8
    std::vector<int> news_lines;    // the line of each
    // A language's own news lines (news-for), in place of the common ones.
    std::map<std::string, std::vector<std::string>> language_news;
    std::map<std::string, std::vector<int>> language_news_lines;
    std::vector<ReplyPage> replies;
    std::string program;  // the program stamped for each tag; empty when none
    int program_line = 0;
    bool program_signed = false;
    bool tag_in_signature = false;  // placement signature
    std::vector<DistributionTag> tags;
    std::string release;  // the release's own folder in directory; empty when none

    std::string download_dir_url() const { return base + directory; }
    // The partner copies' folder, below the configured directory and beside
    // the release folders: its address stays from release to release.
    std::string partner_folder() const
    {
        return directory.substr(0, directory.size() - (release.empty() ? 0 : release.size() + 1)) +
               PARTNER_FOLDER;
    }
    // The installer of a package: its own, or the common one.
    const InstallerSource& installer_of(const std::string& package) const;
    // The news lines of a language: its own, else the common ones; and
    // the configuration line of each.
    const std::vector<std::string>& news_of(const std::string& language) const;
    const std::vector<int>& news_lines_of(const std::string& language) const;
    // The news text of a language, in its users' code page; the empty text
    // when a line cannot be written there (finish_config refuses that).
    std::string news_text_in(const std::string& language) const;
};

// What a reply page holds as the program receives it: enciphered for
// reply records, text and LF for plain pages.
std::string reply_page_content(const SiteConfig& config, const ReplyPage& page);

// The URL a redirect page sends the program to: its target, resolved
// against base unless it is absolute.
std::string redirect_url(const SiteConfig& config, const ReplyPage& page);

// The plain reply record of a direct or redirect page.
std::string reply_record_of(const SiteConfig& config, const ReplyPage& page);

// Puts the download directory in a folder of the release's own below the
// configured one (dl/NAME/), so that a new release is uploaded beside the
// old. Throws ToolError for a name that is not 1 to 64 letters, digits,
// '.', '-' or '_' (not "." or ".."), or a directory URL the program cannot
// hold.
void set_release(SiteConfig* config, const std::string& name);

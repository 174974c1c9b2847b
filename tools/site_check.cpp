#include "site_check.h"

#include <stdlib.h>
#include <string.h>

#include <iostream>
#include <memory>

#include "encipher.h"
#include "limits.h"
#include "manifest.h"
#include "package.h"
#include "package_names.h"
#include "site_resolution.h"
#include "text.h"
#include "tool_support.h"
#include "transfer.h"

const char site_check_usage[] =
    "usage: dlmtool site check BOOTSTRAP_URL [SECOND_URL]\n"
    "Finds the download directory from the bootstrap URLs as the program does\n"
    "(one URL serves for both when SECOND_URL is not given), then fetches the\n"
    "manifest of every package and checks that its installer is served with\n"
    "status 200 and the size that the manifest announces. Exits 0 only when\n"
    "every package is fine. Takes its proxy from http_proxy, https_proxy, ALL_PROXY\n"
    "and NO_PROXY, as curl does.\n";

namespace {

const size_t SHOWN_REPLY_LENGTH = 160;

// Text on one line, cut; empty when it holds bytes that are not text.
std::string one_line(const std::string& text)
{
    std::string shown;
    for (unsigned char c : text) {
        if (c == '\n')
            shown += "\\n";
        else if (c == '\r')
            shown += "\\r";
        else if (c < ' ' || c >= 0x7F)
            return std::string();
        else
            shown += static_cast<char>(c);
    }
    if (shown.size() > SHOWN_REPLY_LENGTH) {
        shown.resize(SHOWN_REPLY_LENGTH);
        shown += "...";
    }
    return shown;
}

// A reply as it reads once deciphered, for the chain listing. A body that
// deciphers to no text was most likely sent in plain (an error page, or a
// record someone forgot to encipher): it is shown as it came.
std::string shown_reply(const char* reply)
{
    if (reply[0] == '\0')
        return "empty";
    std::string plain = one_line(decipher(reply));
    if (!plain.empty())
        return plain;
    std::string raw = one_line(reply);
    if (!raw.empty())
        return "not enciphered: " + raw;
    return std::to_string(strlen(reply)) + " bytes that are not a reply record";
}

std::string status_text(const WebClient& web)
{
    return "HTTP " + std::to_string(web.last_status());
}

// The program's page fetcher over the web client, noting every URL of the
// chain with what it answered.
struct ChainRecorder {
    WebClient& web;
    std::vector<std::string> lines;

    PageFetcher fetcher() { return PageFetcher{&ChainRecorder::fetch, this}; }

    static int fetch(void* context, const char* url, char* reply)
    {
        ChainRecorder& self = *static_cast<ChainRecorder*>(context);
        int read = self.web.fetch_page(url, reply);
        std::string line = std::string("  ") + url + " -> ";
        if (self.web.last_status() == 0)
            line += "cannot be opened (" + self.web.last_error() + ")";
        else
            line += status_text(self.web) + ", " + shown_reply(reply);
        self.lines.push_back(line);
        return read;
    }
};


// Runs the program's site resolution. Returns false when it finds no
// download directory.
bool resolve(const std::string& bootstrap_1, const std::string& bootstrap_2, WebClient& web,
             std::ostream& out, std::string* directory)
{
    // The resolution takes the bootstrap URLs as the program stores them.
    std::string first = encipher(bootstrap_1);
    std::string second = encipher(bootstrap_2);
    ChainRecorder recorder{web, {}};
    char* url_buffer = nullptr;
    char* reply_buffer = nullptr;
    int found = resolve_download_site(&url_buffer, &reply_buffer, first.c_str(), second.c_str(),
                                      recorder.fetcher());
    if (found)
        *directory = url_buffer;
    free(url_buffer);
    free(reply_buffer);
    out << "chain:\n";
    for (const std::string& line : recorder.lines)
        out << line << "\n";
    return found != 0;
}

// Fetches and parses a package's manifest as the program does. Returns the
// empty text when it gives a size, else why not.
std::string check_manifest(const std::string& directory, const SitePackage& package,
                           WebClient& web, int32_t* size)
{
    std::vector<char> url(URL_BUFFER_SIZE);
    copy_text(url.data(), url.size(), directory.c_str());
    char installer[INSTALLER_NAME_SIZE] = "";
    if (!append_package_names(package.prefix, package.code, url.data(), url.size(), installer,
                               sizeof installer))
        return "the manifest URL does not fit the program's URL buffer";
    std::string manifest = "manifest " + package.manifest();
    std::vector<char> reply(REPLY_BLOCK_SIZE);
    if (!web.fetch_page(url.data(), reply.data())) {
        std::string why = web.last_status() ? status_text(web) : web.last_error();
        return manifest + " cannot be fetched (" + why + ")";
    }
    char* ticker_start = nullptr;
    if (parse_manifest(reply.data(), &ticker_start, size))
        return std::string();
    std::string status = status_text(web);
    if (!ticker_start)
        return manifest + " has no line feed (" + status + ")";
    std::string first_line = reply.data();
    if (first_line.size() > 40) {
        first_line.resize(40);
        first_line += "...";
    }
    return manifest + " starts with '" + first_line + "', not a size above 0 (" + status + ")";
}

// Checks one package; returns the empty text when it is fine, else why not.
std::string check_package(const std::string& directory, const SitePackage& package,
                          WebClient& web, int32_t* size)
{
    std::string problem = check_manifest(directory, package, web, size);
    if (!problem.empty())
        return problem;
    char download_url[DOWNLOAD_URL_SIZE];
    copy_text(download_url, sizeof download_url, directory.c_str());
    if (!join_installer_url(download_url, sizeof download_url, package.installer().c_str()))
        return "the installer URL does not fit the program's buffer";
    InstallerProbe probe = web.probe_installer(download_url);
    if (!probe.answered)
        return "installer cannot be fetched (" + probe.error + ")";
    if (probe.status != 200)
        return "installer answers HTTP " + std::to_string(probe.status);
    if (probe.length != *size)
        return "size " + std::to_string(*size) + " in manifest, " + std::to_string(probe.length) +
               " served";
    return std::string();
}

}  // namespace

int check_site(const std::string& bootstrap_1, const std::string& bootstrap_2, WebClient& web,
               std::ostream& out)
{
    std::string directory;
    if (!resolve(bootstrap_1, bootstrap_2, web, out, &directory)) {
        out << "FAIL no download directory: both chains ended without one\n";
        return 1;
    }
    out << "download directory: " << directory << "\n";
    if (directory.size() > MAX_DOWNLOAD_DIR_URL) {
        out << "FAIL the download directory URL has " << directory.size()
            << " characters; the program holds at most " << MAX_DOWNLOAD_DIR_URL << "\n";
        return 1;
    }

    int packages = 0;
    int failed = 0;
    for (const SitePackage& package : all_packages()) {
        int32_t size = 0;
        std::string problem = check_package(directory, package, web, &size);
        ++packages;
        if (problem.empty()) {
            out << "ok   " << package.installer() << " " << size << " bytes\n";
        } else {
            ++failed;
            out << "FAIL " << package.installer() << ": " << problem << "\n";
        }
    }
    out << packages << " packages: " << packages - failed << " ok";
    if (failed)
        out << ", " << failed << " failed";
    out << "\n";
    return failed ? 1 : 0;
}

int site_check_command(const ParsedArgs& args)
{
    for (const std::string& url : args.positional) {
        if (url.empty() || url.size() >= URL_BUFFER_SIZE)
            throw UsageError("a bootstrap URL must have 1 to " +
                             std::to_string(URL_BUFFER_SIZE - 1) + " characters");
    }
    const std::string& first = args.positional[0];
    const std::string& second = args.positional.size() > 1 ? args.positional[1] : first;
    CurlWebClient web;
    int result = check_site(first, second, web, std::cout);
    std::cout.flush();
    return result;
}

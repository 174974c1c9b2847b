#include "site/site_check.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <iostream>
#include <memory>

#include "cli/printing.h"
#include "limits.h"
#include "manifest.h"
#include "package.h"
#include "pe/tag_reading.h"
#include "reply_record.h"
#include "site/encipher.h"
#include "site/package_names.h"
#include "site/signer_check.h"
#include "site/site_config.h"
#include "site_resolution.h"
#include "text.h"
#include "transfer.h"


namespace {

const size_t SHOWN_REPLY_LENGTH = 160;

// Text on one line, cut; empty when it holds bytes that are not text.
std::string one_line(const std::string& text)
{
    for (unsigned char c : text) {
        if ((c < ' ' && c != '\n' && c != '\r') || c >= 0x7F)
            return std::string();
    }
    std::string shown = printable(text);
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

// One page fetched in a chain, with what it answered.
struct FetchRecord {
    std::string url;
    long status = 0;     // 0: no answer
    std::string answer;  // the reply as shown, or why there was no answer
    std::string reply;   // the body as it came
};

// The program's page fetcher over the web client, noting every URL of the
// chain with what it answered. A fetch of stop_url is not noted and
// answers nothing: it ends the chain before it.
struct ChainRecorder {
    WebClient& web;
    std::string stop_url;
    std::vector<FetchRecord> fetches;

    PageFetcher fetcher() { return PageFetcher{&ChainRecorder::fetch, this}; }

    static int fetch(void* context, const char* url, char* reply)
    {
        ChainRecorder& self = *static_cast<ChainRecorder*>(context);
        if (url == self.stop_url) {
            reply[0] = '\0';
            return 0;
        }
        int read = self.web.fetch_page(url, reply);
        FetchRecord record{url, self.web.last_status(), std::string(), reply};
        if (record.status == 0)
            record.answer = printable(self.web.last_error());
        else if (!read && !self.web.last_error().empty())
            record.answer = "cannot be read (" + printable(self.web.last_error()) + ")";
        else
            record.answer = shown_reply(reply);
        self.fetches.push_back(record);
        return read;
    }
};

// The chain from one bootstrap URL, or the program's whole resolution.
struct ChainReport {
    std::string bootstrap;  // empty: both URLs, as the program runs them
    std::vector<FetchRecord> fetches;
    std::string directory;  // empty when none was reached
    std::string problem;    // why none was reached
};

// A package or a partner copy, as checked.
struct ItemReport {
    std::string name;
    std::string detail;   // what was found when fine
    std::string problem;  // empty when fine
    int64_t size = -1;    // a package's installer size
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

// Stands for the second bootstrap URL when one chain is followed alone:
// no page of a site has it, and the recorder ends the chain at it.
const char STOP_URL[] = "dlmtool:end-of-chain";

// Runs the program's site resolution from two bootstrap URLs.
ChainReport resolve(const std::string& bootstrap_1, const std::string& bootstrap_2, WebClient& web)
{
    // The resolution takes the bootstrap URLs as the program stores them.
    std::string first = encipher(bootstrap_1);
    std::string second = encipher(bootstrap_2);
    ChainRecorder recorder{web, STOP_URL, {}};
    char* url_buffer = nullptr;
    char* reply_buffer = nullptr;
    ChainReport report;
    if (resolve_download_site(&url_buffer, &reply_buffer, first.c_str(), second.c_str(),
                              recorder.fetcher()))
        report.directory = url_buffer;
    free(url_buffer);
    free(reply_buffer);
    report.fetches = recorder.fetches;
    return report;
}

// The URLs of a chain that came back to one it had asked before, as
// "a -> b -> a"; empty when none did.
std::string loop_of(const std::vector<FetchRecord>& fetches)
{
    for (size_t i = 1; i < fetches.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
            if (fetches[j].url != fetches[i].url)
                continue;
            std::string loop = fetches[j].url;
            for (size_t k = j + 1; k <= i; ++k)
                loop += " -> " + fetches[k].url;
            return loop;
        }
    }
    return std::string();
}

// Why the reply's URL field does not count, when it has one the program
// takes as absent; empty otherwise.
std::string ignored_url(const std::string& reply, const char* name)
{
    const char* value = find_field(reply.c_str(), name);
    if (!value || is_url_value(value))
        return std::string();
    // Raw: the report escapes the whole line as it prints it.
    return " (its " + std::string(name) + " '" + std::string(value, strcspn(value, "|")) +
           "' is not an http or https URL free of spaces and control characters: the program "
           "takes it as absent)";
}

// Why a chain that reached no directory ended, from its last reply.
std::string why_chain_ended(const std::vector<FetchRecord>& fetches)
{
    const FetchRecord& last = fetches.back();
    std::string reply = decipher(last.reply);
    if (fetches.size() > static_cast<size_t>(MAX_REDIRECTIONS) &&
        get_url_field(reply.c_str(), "sUrl", nullptr, 0)) {
        std::string loop = loop_of(fetches);
        if (!loop.empty())
            return "redirect loop: " + loop;
        return "more than " + std::to_string(MAX_REDIRECTIONS) +
               " redirections; the program follows at most " + std::to_string(MAX_REDIRECTIONS);
    }
    if (last.status == 0)
        return last.url + " cannot be opened";
    int32_t flag = 0;
    if (!get_int_field(reply.c_str(), "iFlag", &flag))
        return last.url + " is not a reply record (HTTP " + std::to_string(last.status) + ")";
    if (flag == 0)
        return last.url + " has iFlag=0 but no sDlurl the program can use" +
               ignored_url(reply, "sDlurl") + ignored_url(reply, "sUrl");
    return last.url + " has iFlag=" + std::to_string(flag) + " but no sUrl the program can use" +
           ignored_url(reply, "sUrl");
}

// The chain from one bootstrap URL alone.
ChainReport follow_chain(const std::string& bootstrap, WebClient& web)
{
    ChainReport report = resolve(bootstrap, STOP_URL, web);
    report.bootstrap = bootstrap;
    if (report.directory.empty())
        report.problem = why_chain_ended(report.fetches);
    return report;
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
                          WebClient& web, const CheckOptions& options, int32_t* size)
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
    if (options.signer.empty())
        return std::string();
    FetchedFile installer = web.fetch_file(download_url);
    if (!installer.answered || installer.status != 200)
        return "installer cannot be fetched again to check its signer";
    std::string problem_of_signer = signer_problem(installer.body, options.signer, options.signer_roots);
    if (!problem_of_signer.empty())
        return "installer not signed by '" + options.signer + "': " + problem_of_signer;
    return std::string();
}

// Checks one partner copy named by an index line "FILE TAG signed|unsigned".
// Returns the empty text when it is fine, else why not; *shown: the
// copy's name and state for the listing.
std::string check_partner_copy(const std::string& folder, const std::string& line,
                               WebClient& web, std::string* shown)
{
    std::string name, tag, state;
    size_t first = line.find(' ');
    size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
    if (second == std::string::npos || line.find(' ', second + 1) != std::string::npos)
        return "index line '" + line + "' is not FILE TAG signed|unsigned";
    name = line.substr(0, first);
    tag = line.substr(first + 1, second - first - 1);
    state = line.substr(second + 1);
    *shown = PARTNER_FOLDER + name;
    FetchedFile copy = web.fetch_file(folder + name);
    if (!copy.answered || copy.status != 200)
        return "cannot be fetched (" + (copy.answered ? "HTTP " + std::to_string(copy.status) : copy.error) + ")";
    TagReading reading = read_tag_of(&copy.body, name);
    if (!reading.found || reading.tag != tag)
        return "the program would read the tag '" + reading.tag + "', not '" + tag + "'";
    if (state == "signed" && !reading.intact)
        return "tag " + tag + ", but " + reading.signature;
    *shown += " tag " + tag + ", " + reading.signature;
    return std::string();
}

// The copies that the index of the partners folder lists; a site without
// the index has none.
void check_partner_copies(WebClient& web, DirectoryReport* report)
{
    std::string folder = report->url + PARTNER_FOLDER;
    FetchedFile index = web.fetch_file(folder + PARTNER_INDEX);
    if (index.answered && index.status == 404)
        return;
    report->has_partner_index = true;
    if (!index.answered || index.status != 200) {
        report->partner_copies.push_back(
            {std::string(PARTNER_FOLDER) + PARTNER_INDEX, "",
             "cannot be fetched (" +
                 (index.answered ? "HTTP " + std::to_string(index.status) : index.error) + ")"});
        return;
    }
    for (size_t at = 0, end = 0; at < index.body.size(); at = end + 1) {
        end = std::min(index.body.find('\n', at), index.body.size());
        ItemReport item;
        item.problem = check_partner_copy(folder, index.body.substr(at, end - at), web, &item.name);
        size_t space = item.name.find(' ');
        if (space != std::string::npos) {
            item.detail = item.name.substr(space + 1);
            item.name.resize(space);
        }
        report->partner_copies.push_back(item);
    }
}

// Every package of a download directory, and its partner copies.
DirectoryReport check_directory(const std::string& url, WebClient& web, const CheckOptions& options)
{
    DirectoryReport report;
    report.url = url;
    if (url.size() > MAX_DOWNLOAD_DIR_URL) {
        report.problem = "the download directory URL has " + std::to_string(url.size()) +
                         " characters; the program holds at most " +
                         std::to_string(MAX_DOWNLOAD_DIR_URL);
        return report;
    }
    for (const SitePackage& package : all_packages()) {
        int32_t size = 0;
        ItemReport item;
        item.name = package.installer();
        item.problem = check_package(url, package, web, options, &size);
        if (item.problem.empty()) {
            item.size = size;
            item.detail = std::to_string(size) + " bytes";
            if (!options.signer.empty())
                item.detail += ", signed by '" + options.signer + "'";
        }
        report.packages.push_back(item);
    }
    check_partner_copies(web, &report);
    return report;
}

int failures(const std::vector<ItemReport>& items)
{
    return static_cast<int>(std::count_if(items.begin(), items.end(),
                                          [](const ItemReport& item) { return !item.problem.empty(); }));
}

bool passed(const SiteReport& report)
{
    for (const ChainReport& chain : report.chains) {
        if (chain.directory.empty())
            return false;
    }
    for (const DirectoryReport& directory : report.directories) {
        if (!directory.problem.empty() || failures(directory.packages) ||
            failures(directory.partner_copies))
            return false;
    }
    return true;
}

void print_chain(const ChainReport& chain, size_t number, std::ostream& out)
{
    if (chain.bootstrap.empty())
        out << "chain:\n";
    else
        out << "chain " << number << ": " << printable(chain.bootstrap) << "\n";
    for (const FetchRecord& fetch : chain.fetches) {
        out << "  " << printable(fetch.url) << " -> ";
        if (fetch.status == 0)
            out << "cannot be opened (" << fetch.answer << ")\n";
        else
            out << "HTTP " << fetch.status << ", " << fetch.answer << "\n";
    }
    std::string name = chain.bootstrap.empty() ? "the program" : "chain " + std::to_string(number);
    if (!chain.directory.empty())
        out << "ok   " << name << " reaches " << printable(chain.directory) << "\n";
    else if (chain.bootstrap.empty())
        out << "FAIL no download directory: both chains ended without one\n";
    else
        out << "FAIL " << name << " reaches no download directory: " << printable(chain.problem)
            << "\n";
}

void print_items(const std::vector<ItemReport>& items, const char* what, std::ostream& out)
{
    for (const ItemReport& item : items) {
        if (item.problem.empty())
            out << "ok   " << printable(item.name) << (item.detail.empty() ? "" : " ")
                << printable(item.detail) << "\n";
        else
            out << "FAIL " << printable(item.name) << ": " << printable(item.problem) << "\n";
    }
    int failed = failures(items);
    out << items.size() << " " << what << ": " << static_cast<int>(items.size()) - failed << " ok";
    if (failed)
        out << ", " << failed << " failed";
    out << "\n";
}

void print_report(const SiteReport& report, std::ostream& out)
{
    for (size_t i = 0; i < report.chains.size(); ++i)
        print_chain(report.chains[i], i + 1, out);
    for (const DirectoryReport& directory : report.directories) {
        out << "download directory: " << printable(directory.url) << "\n";
        if (!directory.problem.empty()) {
            out << "FAIL " << printable(directory.problem) << "\n";
            continue;
        }
        print_items(directory.packages, "packages", out);
        if (directory.has_partner_index)
            print_items(directory.partner_copies, "partner copies", out);
    }
}

std::string json_verdict(const std::string& problem)
{
    return problem.empty() ? "\"verdict\": \"ok\"" : "\"verdict\": \"fail\", \"problem\": " + json_string(problem);
}

std::string json_chain(const ChainReport& chain)
{
    std::string text = "{\"bootstrap\": " + (chain.bootstrap.empty() ? "null" : json_string(chain.bootstrap));
    std::string problem = chain.directory.empty() && chain.problem.empty()
                              ? "both chains ended without a download directory" : chain.problem;
    text += ", " + json_verdict(chain.directory.empty() ? problem : "") + ", \"directory\": " +
            (chain.directory.empty() ? "null" : json_string(chain.directory)) + ", \"fetches\": [";
    for (size_t i = 0; i < chain.fetches.size(); ++i) {
        const FetchRecord& fetch = chain.fetches[i];
        text += std::string(i ? ", " : "") + "{\"url\": " + json_string(fetch.url) +
                ", \"status\": " + std::to_string(fetch.status) + ", \"" +
                (fetch.status ? "reply" : "error") + "\": " + json_string(fetch.answer) + "}";
    }
    return text + "]}";
}

std::string json_items(const std::vector<ItemReport>& items)
{
    std::string text = "[";
    for (size_t i = 0; i < items.size(); ++i) {
        const ItemReport& item = items[i];
        text += std::string(i ? ",\n      " : "\n      ") + "{\"name\": " + json_string(item.name) +
                ", " + json_verdict(item.problem);
        if (item.size >= 0)
            text += ", \"size\": " + std::to_string(item.size);
        else if (item.problem.empty() && !item.detail.empty())
            text += ", \"detail\": " + json_string(item.detail);
        text += "}";
    }
    return text + "]";
}

void print_json(const SiteReport& report, std::ostream& out)
{
    out << "{\"chains\": [";
    for (size_t i = 0; i < report.chains.size(); ++i)
        out << (i ? ",\n  " : "\n  ") << json_chain(report.chains[i]);
    out << "],\n \"directories\": [";
    for (size_t i = 0; i < report.directories.size(); ++i) {
        const DirectoryReport& directory = report.directories[i];
        out << (i ? ",\n  " : "\n  ") << "{\"url\": " << json_string(directory.url) << ", "
            << json_verdict(directory.problem) << ",\n   \"packages\": " << json_items(directory.packages)
            << ",\n   \"partner_copies\": " << json_items(directory.partner_copies) << "}";
    }
    out << "],\n \"verdict\": \"" << (passed(report) ? "ok" : "fail") << "\"}\n";
}

bool is_plain_http(const std::string& url)
{
    return starts_with_ignoring_case(url.c_str(), "http:");
}

// One warning for each plain http URL that a chain fetched or reached,
// whichever chains share it: anyone on the way can answer in the site's
// place there.
void warn_plain_links(const SiteReport& report, std::ostream& warnings)
{
    std::vector<std::string> warned;
    auto warn = [&](const std::string& url, const char* what) {
        if (!is_plain_http(url) || std::find(warned.begin(), warned.end(), url) != warned.end())
            return;
        warned.push_back(url);
        warnings << "warning: " << printable(url) << " is plain http: " << what
                 << " can be replaced on the way\n";
    };
    for (const ChainReport& chain : report.chains) {
        for (const FetchRecord& fetch : chain.fetches)
            warn(fetch.url, "its reply");
    }
    for (const DirectoryReport& directory : report.directories)
        warn(directory.url, "the manifests and installers");
}

}  // namespace

int check_site(const std::string& bootstrap_1, const std::string& bootstrap_2, WebClient& web,
               std::ostream& out, const CheckOptions& options)
{
    SiteReport report;
    if (options.as_program) {
        report.chains.push_back(resolve(bootstrap_1, bootstrap_2, web));
    } else {
        report.chains.push_back(follow_chain(bootstrap_1, web));
        if (bootstrap_2 != bootstrap_1)
            report.chains.push_back(follow_chain(bootstrap_2, web));
    }
    std::vector<std::string> directories;
    for (const ChainReport& chain : report.chains) {
        if (!chain.directory.empty() &&
            std::find(directories.begin(), directories.end(), chain.directory) == directories.end())
            directories.push_back(chain.directory);
    }
    for (const std::string& directory : directories)
        report.directories.push_back(check_directory(directory, web, options));
    if (options.warnings)
        warn_plain_links(report, *options.warnings);
    if (options.json)
        print_json(report, out);
    else
        print_report(report, out);
    return passed(report) ? 0 : 1;
}

#include "site/check/site_check.h"

#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <set>
#include <vector>

#include "cli/printing.h"
#include "files/descriptor.h"
#include "files/files.h"
#include "buffer_sizes.h"
#include "manifest.h"
#include "package.h"
#include "pe/tag_reading.h"
#include "site/check/check_chain.h"
#include "site/check/check_report.h"
#include "site/formats/package_names.h"
#include "site/formats/program_info.h"
#include "site/formats/reply_fields.h"
#include "site/signer/signer_check.h"
#include "site/config/site_config.h"
#include "text.h"
#include "transfer.h"

namespace {

std::string status_text(const WebClient& web)
{
    return "HTTP " + std::to_string(web.last_status());
}

// A manifest that filled the program's buffer, fetched whole: longer, it
// is cut by the program. Empty when it is not longer.
std::string manifest_cut(const std::string& url, const std::string& manifest, WebClient& web)
{
    FetchedFile whole = web.fetch_file(url);
    if (!whole.answered || whole.body.size() <= REPLY_BUFFER_SIZE)
        return std::string();
    return manifest + " has " + std::to_string(whole.body.size()) + " bytes; the program reads " +
           std::to_string(REPLY_BUFFER_SIZE) + " and cuts the rest";
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
    std::string too_long =
        strlen(reply.data()) == REPLY_BUFFER_SIZE ? manifest_cut(url.data(), manifest, web) : "";
    if (!too_long.empty())
        return too_long;
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

// Whether the installer was served whole: status 200 and the size its
// manifest announces. Empty when it was, else why not.
std::string served_problem(const InstallerProbe& probe, int32_t size)
{
    if (!probe.answered)
        return "installer cannot be fetched (" + probe.error + ")";
    if (probe.status != 200)
        return "installer answers HTTP " + std::to_string(probe.status);
    if (probe.length != size)
        return "size " + std::to_string(size) + " in manifest, " + std::to_string(probe.length) +
               " served";
    return std::string();
}

// Checks one package; returns the empty text when it is fine, else why not.
// *warning: a note on its signer that does not fail it.
std::string check_package(const std::string& directory, const SitePackage& package,
                          WebClient& web, const CheckOptions& options, int32_t* size,
                          std::string* warning)
{
    std::string problem = check_manifest(directory, package, web, size);
    if (!problem.empty())
        return problem;
    char download_url[DOWNLOAD_URL_SIZE];
    copy_text(download_url, sizeof download_url, directory.c_str());
    if (!join_installer_url(download_url, sizeof download_url, package.installer().c_str()))
        return "the installer URL does not fit the program's buffer";
    if (options.signer.empty())
        return served_problem(web.probe_installer(download_url), *size);
    // The one fetch that measures the installer keeps it for the signer's
    // check, streamed to disk as it arrives rather than capped in memory.
    TemporaryFile copy;
    problem = served_problem(web.fetch_to_file(download_url, copy.fd()), *size);
    if (!problem.empty())
        return problem;
    SignerPin pin{options.signer, options.issuer, options.signer_roots, true};
    std::string problem_of_signer = signer_problem(read_file(copy.path()), pin, warning);
    if (!problem_of_signer.empty())
        return "installer not signed by '" + options.signer + "': " + problem_of_signer;
    return std::string();
}

// Checks one partner copy named by an index line "FILE TAG signed|unsigned".
// Returns the empty text when it is fine, else why not; *shown: the
// copy's name and state for the listing; *placement: where its tag is.
std::string check_partner_copy(const std::string& folder, const std::string& line,
                               const std::vector<std::string>& checked, WebClient& web,
                               std::string* shown, std::string* placement)
{
    std::string name, tag, state;
    size_t first = line.find(' ');
    size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
    if (second == std::string::npos || line.find(' ', second + 1) != std::string::npos)
        return "index line '" + line + "' is not FILE TAG signed|unsigned";
    name = line.substr(0, first);
    tag = line.substr(first + 1, second - first - 1);
    state = line.substr(second + 1);
    *shown = name;
    FetchedFile copy = web.fetch_file(folder + name);
    if (!copy.answered || copy.status != 200)
        return "cannot be fetched (" + (copy.answered ? "HTTP " + std::to_string(copy.status) : copy.error) + ")";
    TagReading reading = read_tag_of(&copy.body, name);
    *placement = reading.form;
    if (!reading.found || reading.tag != tag)
        return "the program would read the tag '" + reading.tag + "', not '" + tag + "'";
    if (state == "signed" && !reading.intact)
        return "tag " + tag + ", but " + reading.signature;
    // A copy of another build would send its users to another site.
    StoredTexts texts = find_stored_texts(copy.body);
    if (texts.found && (texts.bootstrap_1 != checked[0] ||
                        (checked.size() > 1 && texts.bootstrap_2 != checked[1])))
        return "tag " + tag + ", but it asks " + texts.bootstrap_1 + " and " + texts.bootstrap_2 +
               ", not the URLs checked";
    *shown += " tag " + tag + ", " + reading.signature;
    return std::string();
}

// The index of the partners folder: in the download directory, or beside
// it, in the folder a release folder lies in, which every release shares.
// *folder: its URL; *shown: its path from the download directory.
FetchedFile partner_index(const std::string& directory, WebClient& web, std::string* folder,
                          std::string* shown)
{
    *shown = PARTNER_FOLDER;
    *folder = directory + PARTNER_FOLDER;
    FetchedFile index = web.fetch_file(*folder + PARTNER_INDEX);
    size_t scheme = directory.find("://");
    size_t parent = directory.size() > 1 ? directory.rfind('/', directory.size() - 2) : std::string::npos;
    if (!index.answered || index.status != 404 || scheme == std::string::npos || parent == std::string::npos ||
        parent <= scheme + 2)
        return index;
    *shown = std::string("../") + PARTNER_FOLDER;
    *folder = directory.substr(0, parent + 1) + PARTNER_FOLDER;
    return web.fetch_file(*folder + PARTNER_INDEX);
}

// The copies that the index of the partners folder lists; a site without
// the index has none. checked: the bootstrap URLs the copies must ask.
void check_partner_copies(const std::vector<std::string>& checked, WebClient& web,
                          DirectoryReport* report)
{
    std::string folder, shown;
    FetchedFile index = partner_index(report->url, web, &folder, &shown);
    if (index.answered && index.status == 404)
        return;
    report->has_partner_index = true;
    if (!index.answered || index.status != 200) {
        report->partner_copies.push_back(
            {shown + PARTNER_INDEX, "",
             "cannot be fetched (" +
                 (index.answered ? "HTTP " + std::to_string(index.status) : index.error) + ")",
             -1, ""});
        return;
    }
    for (size_t at = 0, end = 0; at < index.body.size(); at = end + 1) {
        end = std::min(index.body.find('\n', at), index.body.size());
        ItemReport item;
        item.problem = check_partner_copy(folder, index.body.substr(at, end - at), checked, web, &item.name,
                                          &item.placement);
        if (!item.name.empty())
            item.name = shown + item.name;
        size_t space = item.name.find(' ');
        if (space != std::string::npos) {
            item.detail = item.name.substr(space + 1);
            item.name.resize(space);
        }
        report->partner_copies.push_back(item);
    }
}

// Every package of a download directory; one problem for the directory
// when none of its manifests is there.
void check_packages(const std::string& url, WebClient& web, const CheckOptions& options,
                    DirectoryReport* report)
{
    std::set<std::string> warnings;
    size_t missing = 0;
    for (const SitePackage& package : all_packages()) {
        int32_t size = 0;
        ItemReport item;
        item.name = package.installer();
        std::string warning;
        item.problem = check_package(url, package, web, options, &size, &warning);
        if (!warning.empty() && warnings.insert(warning).second && options.warnings)
            *options.warnings << "warning: " << printable(warning) << "\n";
        if (item.problem.empty()) {
            item.size = size;
            item.detail = std::to_string(size) + " bytes";
            if (!options.signer.empty())
                item.detail += ", signed by '" + options.signer + "'";
        }
        // Only a manifest's failure leaves that status behind.
        missing += !item.problem.empty() && web.last_status() == 404;
        report->packages.push_back(item);
    }
    if (missing == report->packages.size()) {
        report->problem = "the download directory is not on the server: every manifest answers "
                          "HTTP 404 (in a release, upload its folder before the reply pages)";
        report->packages.clear();
    }
}

// Every package of a download directory, and its partner copies.
DirectoryReport check_directory(const std::string& url, const std::vector<std::string>& checked,
                                WebClient& web, const CheckOptions& options)
{
    DirectoryReport report;
    report.url = url;
    if (url.size() > MAX_DOWNLOAD_DIR_URL) {
        report.problem = "the download directory URL has " + std::to_string(url.size()) +
                         " characters; the program holds at most " +
                         std::to_string(MAX_DOWNLOAD_DIR_URL);
        return report;
    }
    report.problem = download_dir_problem("sDlurl=" + url);
    if (!report.problem.empty())
        return report;
    check_packages(url, web, options, &report);
    check_partner_copies(checked, web, &report);
    return report;
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
    std::vector<std::string> checked = {bootstrap_1};
    if (bootstrap_2 != bootstrap_1)
        checked.push_back(bootstrap_2);
    if (!options.program_urls.empty())
        checked = options.program_urls;
    for (const std::string& directory : directories)
        report.directories.push_back(check_directory(directory, checked, web, options));
    if (options.warnings)
        warn_plain_links(report, *options.warnings);
    if (options.json)
        print_json(report, out);
    else
        print_report(report, out);
    return passed(report) ? 0 : 1;
}

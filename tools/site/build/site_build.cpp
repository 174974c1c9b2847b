#include "site/build/site_build.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "cli/cli.h"
#include "cli/printing.h"
#include "files/files.h"
#include "files/output.h"
#include "pe/stamp.h"
#include "site/formats/package_manifest.h"
#include "site/formats/package_names.h"
#include "site/formats/program_info.h"
#include "site/signer/signer_check.h"

namespace fs = std::filesystem;


namespace {

std::string page_description(const SiteConfig& config, const ReplyPage& page)
{
    if (page.kind == ReplyPage::PLAIN)
        return "plain text \"" + printable(page.argument) + "\"";
    return "reply record \"" + printable(reply_record_of(config, page)) + "\"";
}

// Writes every package's installer and manifest into the download
// directory. Returns their paths relative to outdir.
std::set<std::string> write_packages(const SiteConfig& config, const std::string& outdir,
                                     SiteBuildSummary* summary)
{
    fs::path dir = fs::path(outdir) / config.directory;
    make_directories(dir.string());
    // The installers can be large and most packages share one: the first
    // package of a source gets a copy, the others a hard link to it.
    std::map<std::string, std::string> copy_of_source;
    std::set<std::string> package_files;
    for (const SitePackage& package : all_packages()) {
        const InstallerSource& source = config.installer_of(package.name());
        std::string installer = (dir / package.installer()).string();
        auto copy = copy_of_source.find(source.path);
        if (copy != copy_of_source.end() && hard_link(copy->second, installer)) {
            ++summary->hard_links;
        } else {
            copy_file(source.path, installer);
            ++summary->installer_copies;
            copy_of_source.emplace(source.path, installer);
        }
        ++summary->installers;
        write_output((dir / package.manifest()).string(),
                     make_manifest(source.size, config.news_text_in(package.code)));
        ++summary->manifests;
        package_files.insert(config.directory + package.installer());
        package_files.insert(config.directory + package.manifest());
    }
    return package_files;
}

// One stamped copy of the program for each tag, and the index that lists
// them, one line each: FILE TAG signed|unsigned.
void write_partner_copies(const SiteConfig& config, const std::string& outdir,
                          SiteBuildSummary* summary)
{
    if (config.tags.empty())
        return;
    fs::path dir = fs::path(outdir) / config.partner_folder();
    make_directories(dir.string());
    std::string index;
    for (const DistributionTag& tag : config.tags) {
        stamp_file(config.program, (dir / tag.file_name()).string(), tag.identifier, tag.suffix,
                   config.tag_in_signature ? TrailerPlace::SIGNATURE
                                           : TrailerPlace::CERTIFICATE_TABLE);
        index += tag.file_name() + " " + tag.tag() + (config.program_signed ? " signed\n" : " unsigned\n");
        summary->partner_copies.push_back(tag.file_name() + " " + tag.tag());
    }
    write_output((dir / PARTNER_INDEX).string(), index);
}

// A file that site build writes in the partners folder.
bool is_partner_file(const fs::directory_entry& entry)
{
    std::string name = entry.path().filename().string();
    bool copy = name.size() > 10 && name.compare(0, 6, "polvex") == 0 &&
                name.compare(name.size() - 4, 4, ".exe") == 0;
    return entry.is_regular_file() && (copy || name == PARTNER_INDEX);
}

// Nothing of an earlier build is left in a folder the vendor uploads
// whole: a release folder must be new or empty, and the partners folder,
// which every release shares, holds no file site build did not write (its
// own are removed once everything else has been checked).
void check_folders(const SiteConfig& config, const std::string& outdir)
{
    fs::path release = fs::path(outdir) / config.directory;
    std::error_code error;
    if (!config.release.empty() && fs::exists(release) && !fs::is_empty(release, error))
        throw ToolError("the release folder " + release.string() +
                        " already holds files: build each release into a folder of its own "
                        "(remove them, or give another --release)");
    fs::path partners = fs::path(outdir) / config.partner_folder();
    if (!fs::is_directory(partners))
        return;
    for (const fs::directory_entry& entry : fs::directory_iterator(partners)) {
        if (!is_partner_file(entry))
            throw ToolError(partners.string() + " holds " + entry.path().filename().string() +
                            ", which site build does not write there: the partner folder is "
                            "written whole, so move that elsewhere");
    }
}

void empty_partner_folder(const SiteConfig& config, const std::string& outdir)
{
    fs::path partners = fs::path(outdir) / config.partner_folder();
    if (!fs::is_directory(partners))
        return;
    for (const fs::directory_entry& entry : fs::directory_iterator(partners))
        fs::remove(entry.path());
}

// Every distinct installer against the pin of the program the partner
// copies hand out: the users' copies would refuse any that fails it.
void check_installer_signers(const SiteConfig& config, const std::string& roots,
                             SiteBuildSummary* summary)
{
    StoredTexts texts = config.program.empty() ? StoredTexts() : find_stored_texts(read_file(config.program));
    if (!texts.checks_signer)
        return;
    SignerPin pin{texts.signer, texts.issuer, roots, !roots.empty()};
    std::set<std::string> checked;
    for (const SitePackage& package : all_packages()) {
        const InstallerSource& source = config.installer_of(package.name());
        if (!checked.insert(source.path).second)
            continue;
        std::string warning;
        std::string why = signer_problem(read_file(source.path), pin, &warning);
        if (!why.empty())
            throw ToolError("installer " + source.path + " is not signed as " + config.program +
                            " requires (signer '" + pin.signer + "', issuer '" + pin.issuer + "'): " + why);
        if (!warning.empty() && std::find(summary->warnings.begin(), summary->warnings.end(),
                                          warning) == summary->warnings.end())
            summary->warnings.push_back(warning);
    }
}

}  // namespace

SiteBuildSummary build_site(const SiteConfig& config, const std::string& outdir,
                            const std::string& signer_roots)
{
    SiteBuildSummary summary;
    check_installer_signers(config, signer_roots, &summary);
    check_folders(config, outdir);
    empty_partner_folder(config, outdir);
    summary.download_dir_url = config.download_dir_url();
    std::set<std::string> package_files = write_packages(config, outdir, &summary);
    for (const ReplyPage& page : config.replies) {
        fs::path path = fs::path(outdir) / page.path;
        make_directories(path.parent_path().string());
        write_output(path.string(), reply_page_content(config, page));
        summary.pages.push_back(page.path + ": " + page_description(config, page));
        if (package_files.count(page.path))
            summary.overridden.push_back(page.path);
    }
    write_partner_copies(config, outdir, &summary);
    return summary;
}

namespace {

// "1 line", "2 lines".
std::string counted(size_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Each language's news lines: the common ones, and those of languages
// with lines of their own.
std::string news_counts(const SiteConfig& config)
{
    std::string text = counted(config.news.size(), "news line", "news lines");
    if (config.language_news.empty())
        return text;
    text += " (";
    for (const auto& own : config.language_news)
        text += (own.first == config.language_news.begin()->first ? "" : ", ") + own.first + " " +
                counted(own.second.size(), "line", "lines") + " of its own";
    return text + ")";
}

// A release's order of upload. What the users see changes only with the
// last step.
std::string upload_order(const SiteConfig& config, const SiteBuildSummary& summary)
{
    if (config.release.empty())
        return std::string();
    std::string text = "upload first: " + config.directory + " (release " + config.release + ")\n";
    if (!summary.partner_copies.empty())
        text += "and the partner copies: " + config.partner_folder() +
                " (whole: delete on the server any copy it no longer holds)\n";
    text += "then the reply pages:";
    for (const ReplyPage& page : config.replies)
        text += " " + page.path;
    return text + "\n";
}

}  // namespace

std::string describe_build(const SiteConfig& config, const SiteBuildSummary& summary,
                           const std::string& outdir)
{
    std::string text = "site written to " + outdir + "\n";
    text += "download directory: " + summary.download_dir_url + " (" +
            (fs::path(outdir) / config.directory).string() + ")\n";
    text += counted(summary.manifests, "manifest", "manifests") + " with " + news_counts(config) + ", " +
            counted(summary.installers, "installer", "installers") + " (" +
            std::to_string(summary.installer_copies) + " copied, " +
            counted(summary.hard_links, "hard link", "hard links") + ")\n";
    for (const std::string& page : summary.pages)
        text += "page " + page + "\n";
    for (const std::string& path : summary.overridden)
        text += "note: the page " + path + " replaces the package file of that name\n";
    if (!summary.partner_copies.empty()) {
        text += counted(summary.partner_copies.size(), "partner copy", "partner copies") + " in " +
                config.partner_folder() + " (" +
                (config.program_signed ? "signed, trailer in the " : "unsigned") +
                (!config.program_signed ? "" : config.tag_in_signature ? "signature" : "certificate table") +
                "):\n";
        for (const std::string& copy : summary.partner_copies)
            text += "  " + copy + "\n";
    }
    return text + upload_order(config, summary);
}

namespace {

std::string json_list(const std::vector<std::string>& items)
{
    std::string text = "[";
    for (size_t i = 0; i < items.size(); ++i)
        text += (i ? ", " : "") + json_string(items[i]);
    return text + "]";
}

// "PATH: what" and "FILE TAG" as objects of two fields.
std::string json_pairs(const std::vector<std::string>& items, const std::string& separator,
                       const char* first, const char* second)
{
    std::string text = "[";
    for (size_t i = 0; i < items.size(); ++i) {
        size_t at = items[i].find(separator);
        text += std::string(i ? ",\n   " : "\n   ") + "{\"" + first + "\": " +
                json_string(items[i].substr(0, at)) + ", \"" + second +
                "\": " + json_string(items[i].substr(at + separator.size())) + "}";
    }
    return text + "]";
}

// {"JAP": 3, ...}: the languages with news lines of their own.
std::string language_line_counts(const SiteConfig& config)
{
    std::string text;
    for (const auto& own : config.language_news)
        text += (text.empty() ? "{" : ", ") + json_string(own.first) + ": " + std::to_string(own.second.size());
    return text.empty() ? "{}" : text + "}";
}

}  // namespace

std::string describe_build_json(const SiteConfig& config, const SiteBuildSummary& summary,
                                const std::string& outdir)
{
    return "{\"site\": " + json_string(outdir) +
           ",\n \"download_directory\": " + json_string(summary.download_dir_url) +
           ",\n \"folder\": " + json_string((fs::path(outdir) / config.directory).string()) +
           ",\n \"manifests\": " + std::to_string(summary.manifests) +
           ", \"news_lines\": " + std::to_string(config.news.size()) +
           ", \"language_news_lines\": " + language_line_counts(config) +
           ", \"installers\": " + std::to_string(summary.installers) +
           ", \"copied\": " + std::to_string(summary.installer_copies) +
           ", \"hard_links\": " + std::to_string(summary.hard_links) +
           ",\n \"pages\": " + json_pairs(summary.pages, ": ", "path", "holds") +
           ",\n \"replaced_package_files\": " + json_list(summary.overridden) +
           ",\n \"partner_copies\": " + json_pairs(summary.partner_copies, " ", "file", "tag") +
           ",\n \"partner_copies_signed\": " + (config.program_signed ? "true" : "false") +
           ",\n \"release\": " + (config.release.empty() ? "null" : json_string(config.release)) + "}\n";
}

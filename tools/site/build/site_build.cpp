#include "site/build/site_build.h"

#include <filesystem>
#include <map>
#include <set>

#include "cli/printing.h"
#include "files/files.h"
#include "files/output.h"
#include "pe/stamp.h"
#include "site/formats/package_manifest.h"
#include "site/formats/package_names.h"

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
    fs::path dir = fs::path(outdir) / config.directory / PARTNER_FOLDER;
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

}  // namespace

SiteBuildSummary build_site(const SiteConfig& config, const std::string& outdir)
{
    SiteBuildSummary summary;
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

std::string describe_build(const SiteConfig& config, const SiteBuildSummary& summary,
                           const std::string& outdir)
{
    std::string text = "site written to " + outdir + "\n";
    text += "download directory: " + summary.download_dir_url + " (" +
            (fs::path(outdir) / config.directory).string() + ")\n";
    text += std::to_string(summary.manifests) + " manifests with " +
            std::to_string(config.news.size()) + " news lines, " +
            std::to_string(summary.installers) + " installers (" +
            std::to_string(summary.installer_copies) + " copied, " +
            std::to_string(summary.hard_links) + " hard links)\n";
    for (const std::string& page : summary.pages)
        text += "page " + page + "\n";
    for (const std::string& path : summary.overridden)
        text += "note: the page " + path + " replaces the package file of that name\n";
    if (!summary.partner_copies.empty()) {
        text += std::to_string(summary.partner_copies.size()) + " partner copies in " +
                config.directory + PARTNER_FOLDER + " (" +
                (config.program_signed ? "signed, trailer in the " : "unsigned") +
                (!config.program_signed ? "" : config.tag_in_signature ? "signature" : "certificate table") +
                "):\n";
        for (const std::string& copy : summary.partner_copies)
            text += "  " + copy + "\n";
    }
    if (!config.release.empty()) {
        // What the users see changes only with the last step.
        text += "upload first: " + config.directory + " (release " + config.release + ")\n";
        text += "then the reply pages:";
        for (const ReplyPage& page : config.replies)
            text += " " + page.path;
        text += "\n";
    }
    return text;
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

}  // namespace

std::string describe_build_json(const SiteConfig& config, const SiteBuildSummary& summary,
                                const std::string& outdir)
{
    return "{\"site\": " + json_string(outdir) +
           ",\n \"download_directory\": " + json_string(summary.download_dir_url) +
           ",\n \"folder\": " + json_string((fs::path(outdir) / config.directory).string()) +
           ",\n \"manifests\": " + std::to_string(summary.manifests) +
           ", \"news_lines\": " + std::to_string(config.news.size()) +
           ", \"installers\": " + std::to_string(summary.installers) +
           ", \"copied\": " + std::to_string(summary.installer_copies) +
           ", \"hard_links\": " + std::to_string(summary.hard_links) +
           ",\n \"pages\": " + json_pairs(summary.pages, ": ", "path", "holds") +
           ",\n \"replaced_package_files\": " + json_list(summary.overridden) +
           ",\n \"partner_copies\": " + json_pairs(summary.partner_copies, " ", "file", "tag") +
           ",\n \"partner_copies_signed\": " + (config.program_signed ? "true" : "false") +
           ",\n \"release\": " + (config.release.empty() ? "null" : json_string(config.release)) + "}\n";
}

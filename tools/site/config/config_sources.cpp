#include "site/config/config_sources.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "files/files.h"
#include "buffer_sizes.h"
#include "pe/pe_signature.h"
#include "pe/tag_attribute.h"
#include "pe/program_file.h"
#include "pe/stamp.h"
#include "site/formats/package_manifest.h"
#include "site/formats/package_names.h"
#include "site/formats/program_info.h"
#include "tag.h"

namespace fs = std::filesystem;

namespace {

InstallerSource installer_at(const ConfigReader& reader, const std::string& file)
{
    InstallerSource source;
    source.path = (fs::path(reader.folder) / file).string();
    source.line = reader.line;
    try {
        source.size = readable_file_size(source.path);
        check_installer_size(source.size, "installer " + source.path);
    } catch (const ToolError& error) {
        config_error(reader, error.what());
    }
    return source;
}

// The line of the package's earlier source; 0 when it has none.
int package_line(const ConfigReader& reader, const std::string& name)
{
    auto known = reader.config.packages.find(name);
    return known == reader.config.packages.end() ? 0 : known->second.line;
}

}  // namespace

void read_installer(ConfigReader& reader, const KeywordLine& line)
{
    if (line.args.empty())
        config_error(reader, "'installer' needs a file");
    check_first(reader, "'installer'", reader.config.installer.line);
    reader.config.installer = installer_at(reader, line.args);
}

void read_package(ConfigReader& reader, const KeywordLine& line)
{
    std::string name, file;
    if (!split_first(line.args, &name, &file) || name.empty() || file.empty())
        config_error(reader, "'package' needs a package name and a file");
    std::vector<std::string> names = all_package_names();
    if (std::find(names.begin(), names.end(), name) == names.end())
        config_error(reader, "unknown package '" + name + "' (expected a name like " + names[0] + ")");
    check_first(reader, "package " + name, package_line(reader, name));
    reader.config.packages[name] = installer_at(reader, file);
}

// Both packages of one language, whichever prefix the survey picks.
void read_language(ConfigReader& reader, const KeywordLine& line)
{
    std::string code, file;
    if (!split_first(line.args, &code, &file) || code.empty() || file.empty())
        config_error(reader, "'language' needs a language code and a file");
    std::vector<std::string> names;
    for (const SitePackage& package : all_packages()) {
        if (code == package.code)
            names.push_back(package.name());
    }
    if (names.empty())
        config_error(reader, "unknown language code '" + code +
                                 "' (CHT, DEU, ENG, SPA, FRE, ITA, JAP, KOR, DUT, POR or SWE)");
    InstallerSource source = installer_at(reader, file);
    for (const std::string& name : names) {
        check_first(reader, "package " + name, package_line(reader, name));
        reader.config.packages[name] = source;
    }
}

void read_program(ConfigReader& reader, const KeywordLine& line)
{
    if (line.args.empty())
        config_error(reader, "'program' needs a file");
    check_first(reader, "'program'", reader.config.program_line);
    reader.config.program = (fs::path(reader.folder) / line.args).string();
    reader.config.program_line = reader.line;
    try {
        check_program(reader.config.program);
    } catch (const ToolError& error) {
        config_error(reader, error.what());
    }
}

void read_tag(ConfigReader& reader, const KeywordLine& line)
{
    DistributionTag tag;
    std::string rest;
    split_first(line.args, &tag.identifier, &rest);
    split_first(rest, &tag.suffix, &rest);
    if (!is_tag_word(tag.identifier, TRAILER_ID_SIZE) || !rest.empty() ||
        (!tag.suffix.empty() && !is_tag_word(tag.suffix, TRAILER_SUFFIX_SIZE)))
        config_error(reader, "'tag' needs an identifier of 1 to 11 and an optional suffix of 1 to "
                             "20 letters, digits or '-'");
    for (const DistributionTag& known : reader.config.tags) {
        if (known.file_name() == tag.file_name())
            config_error(reader, "tag " + tag.tag() + " given twice (first on line " +
                                     std::to_string(known.line) + ")");
    }
    tag.line = reader.line;
    reader.config.tags.push_back(tag);
}

void read_placement(ConfigReader& reader, const KeywordLine& line)
{
    std::string value = single_argument(reader, line.keyword, line.args, line.has_args,
                                        "table or signature");
    check_first(reader, "'placement'", reader.placement_line);
    if (value != "table" && value != "signature")
        config_error(reader, "placement '" + value + "' is neither table nor signature");
    reader.placement_line = reader.line;
    reader.config.tag_in_signature = value == "signature";
}

// The copies can be stamped: a program and tags go together, and a signed
// program is laid out so that its copies stay signed.
void finish_tags(ConfigReader& reader)
{
    SiteConfig& config = reader.config;
    if (config.program_line && config.tags.empty())
        config_error(reader, "'program' given but no 'tag' line", config.program_line);
    if (!config.tags.empty() && !config.program_line)
        config_error(reader, "'tag' lines need a 'program' line", config.tags[0].line);
    if (!config.program_line)
        return;
    SignedImage layout = read_signed_image(read_file(config.program));
    if (!layout.problem.empty())
        config_error(reader, "program " + config.program + ": " + layout.problem +
                                 "; a tag there would break or hide the signature",
                     config.program_line);
    config.program_signed = layout.kind == SignedImage::SIGNED;
    if (config.tag_in_signature && !config.program_signed)
        config_error(reader, "placement signature needs a signed program; " + config.program +
                                 " is not signed",
                     reader.placement_line);
    try {
        if (config.tag_in_signature)
            signature_with_trailer(layout.signature, std::string(TRAILER_SIZE, 'x'));
    } catch (const ToolError& error) {
        config_error(reader, "program " + config.program + ": " + error.what(), reader.placement_line);
    }
}

void check_program_urls(ConfigReader& reader)
{
    const SiteConfig& config = reader.config;
    if (!config.program_line)
        return;
    StoredTexts texts = find_stored_texts(read_file(config.program));
    if (!texts.found)
        return;
    std::vector<std::string> bases = config.mirrors;
    bases.insert(bases.begin(), config.base);
    auto leads_in = [&](const std::string& url) {
        return std::any_of(config.replies.begin(), config.replies.end(), [&](const ReplyPage& page) {
            return std::any_of(bases.begin(), bases.end(),
                               [&](const std::string& base) { return url == base + page.path; });
        });
    };
    const std::string& stray = !leads_in(texts.bootstrap_1) ? texts.bootstrap_1 : texts.bootstrap_2;
    if (leads_in(stray))
        return;
    std::string pages;
    for (const ReplyPage& page : config.replies)
        pages.append(pages.empty() ? "" : ", ").append(page.path);
    std::string addresses = config.base;
    for (const std::string& mirror : config.mirrors)
        addresses.append(" or ").append(mirror);
    config_error(reader, "program " + config.program + " asks " + stray +
                             ", which is none of this site's reply pages (" + addresses + " + " +
                             pages + ")",
                 config.program_line);
}

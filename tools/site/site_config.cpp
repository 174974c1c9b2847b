#include "site/site_config.h"

#include <filesystem>

#include "files/files.h"
#include "site/config_keywords.h"
#include "site/config_reader.h"
#include "site/config_words.h"
#include "site/encipher.h"
#include "site/reply_graph.h"
#include "site/value_rules.h"

const char PARTNER_FOLDER[] = "partners/";
const char PARTNER_INDEX[] = "index.txt";

namespace fs = std::filesystem;

const InstallerSource& SiteConfig::installer_of(const std::string& package) const
{
    auto own = packages.find(package);
    return own != packages.end() ? own->second : installer;
}

SiteConfig parse_site_config(const std::string& text, const std::string& name,
                             const std::string& folder)
{
    ConfigReader reader;
    reader.name = name;
    reader.folder = folder;
    for_each_line(text, reader, [&](const std::string& line) { read_config_line(reader, line); });
    finish_config(reader);
    check_reply_graph(reader);
    return reader.config;
}

SiteConfig read_site_config(const std::string& path)
{
    // Installers beside a configuration in the current folder are "./NAME".
    std::string folder = fs::path(path).parent_path().string();
    return parse_site_config(read_file(path), path, folder.empty() ? "." : folder);
}

std::string redirect_url(const SiteConfig& config, const ReplyPage& page)
{
    return lacks_scheme(page.argument) ? config.base + page.argument : page.argument;
}

std::string reply_record_of(const SiteConfig& config, const ReplyPage& page)
{
    switch (page.kind) {
    case ReplyPage::DIRECT:
        return "iFlag=0|sDlurl=" + config.download_dir_url();
    case ReplyPage::REDIRECT:
        return "iFlag=1|sUrl=" + redirect_url(config, page);
    case ReplyPage::RECORD:
    case ReplyPage::PLAIN:
        break;
    }
    return page.argument;
}

std::string reply_page_content(const SiteConfig& config, const ReplyPage& page)
{
    if (page.kind == ReplyPage::PLAIN)
        return page.argument + "\n";
    return encipher(reply_record_of(config, page));
}

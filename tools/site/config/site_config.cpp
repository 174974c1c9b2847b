#include "site/config/site_config.h"

#include "cli/cli.h"
#include "buffer_sizes.h"
#include "site/config/code_pages.h"
#include "site/formats/encipher.h"
#include "site/config/site_urls.h"
#include "text.h"

const char PARTNER_FOLDER[] = "partners/";
const char PARTNER_INDEX[] = "index.txt";

const InstallerSource& SiteConfig::installer_of(const std::string& package) const
{
    auto own = packages.find(package);
    return own != packages.end() ? own->second : installer;
}

const std::vector<std::string>& SiteConfig::news_of(const std::string& language) const
{
    auto own = language_news.find(language);
    return own != language_news.end() ? own->second : news;
}

const std::vector<int>& SiteConfig::news_lines_of(const std::string& language) const
{
    auto own = language_news_lines.find(language);
    return own != language_news_lines.end() ? own->second : news_lines;
}

std::string SiteConfig::news_text_in(const std::string& language) const
{
    std::string text;
    for (const std::string& line : news_of(language)) {
        std::string written;
        if (!in_code_page(line, code_page_of(language), &written).empty())
            return std::string();
        text += written + "\n";
    }
    return text;
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

void set_release(SiteConfig* config, const std::string& name)
{
    bool word = !name.empty() && name.size() <= 64 && name != "." && name != "..";
    for (char c : name)
        word = word && (is_ascii_alnum(c) || c == '.' || c == '-' || c == '_');
    if (!word)
        throw ToolError("release name '" + name +
                        "' must be 1 to 64 letters, digits, '.', '-' or '_' (a folder's name)");
    config->directory += name + "/";
    config->release = name;
    if (config->download_dir_url().size() > MAX_DOWNLOAD_DIR_URL)
        throw ToolError("the download directory URL " + config->download_dir_url() + " has " +
                        std::to_string(config->download_dir_url().size()) +
                        " characters; the program holds at most " + std::to_string(MAX_DOWNLOAD_DIR_URL));
}

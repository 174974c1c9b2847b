#include "site/site_config.h"

#include "site/code_pages.h"
#include "site/encipher.h"
#include "site/site_urls.h"

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

#include "site/config/reply_graph.h"

#include <stddef.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "buffer_sizes.h"
#include "site/formats/package_names.h"
#include "site/config/site_urls.h"

namespace {

typedef std::map<std::string, const ReplyPage*> PageIndex;  // by path

// The path within the site that a redirect leads to; empty when the target
// lies outside the site (site check follows it there).
std::string site_path_of(const SiteConfig& config, const ReplyPage& page)
{
    const std::string& target = page.argument;
    if (lacks_scheme(target))
        return target;
    if (target.compare(0, config.base.size(), config.base) == 0)
        return target.substr(config.base.size());
    return std::string();
}

// A redirect within the site must lead to one of its reply pages.
void check_redirect_target(const ConfigReader& reader, const ReplyPage& page, const PageIndex& pages)
{
    if (starts_at_root(page.argument))
        config_error(reader,
                     "redirect target '" + page.argument + "' starts with '/': after base the URL "
                     "would hold '//'; write it relative to base",
                     page.line);
    std::string path = site_path_of(reader.config, page);
    if (path.empty() || pages.count(path))
        return;
    std::string what = "which the site does not have";
    for (const SitePackage& package : all_packages()) {
        if (path == reader.config.directory + package.installer())
            what = "an installer, not a reply page";
        if (path == reader.config.directory + package.manifest())
            what = "a manifest, not a reply page";
    }
    config_error(reader, "redirect to " + path + ", " + what, page.line);
}

// The chain the program follows from page, as far as it stays in the site:
// no loop, and no more redirections than the program follows.
void check_redirect_chain(const ConfigReader& reader, const ReplyPage& page, const PageIndex& pages)
{
    std::string chain = page.path;
    std::vector<std::string> seen = {page.path};
    for (const ReplyPage* at = &page; at->kind == ReplyPage::REDIRECT;) {
        std::string next = site_path_of(reader.config, *at);
        if (next.empty())
            return;
        chain += " -> " + next;
        if (std::find(seen.begin(), seen.end(), next) != seen.end())
            config_error(reader, "redirect loop: " + chain, page.line);
        seen.push_back(next);
        if (seen.size() > static_cast<size_t>(MAX_REDIRECTIONS) + 1)
            config_error(reader,
                         "more than " + std::to_string(MAX_REDIRECTIONS) + " redirections from " +
                             page.path + " to " + next + "; the program follows at most " +
                             std::to_string(MAX_REDIRECTIONS),
                         page.line);
        at = pages.at(next);
    }
}

// The URL must reach the program whole, in its URL buffer.
void check_redirect(const ConfigReader& reader, const ReplyPage& page)
{
    std::string url = redirect_url(reader.config, page);
    if (!is_representable_url(url))
        config_error(reader, "redirect URL '" + url + "' " + UNREPRESENTABLE, page.line);
    if (is_not_program_url(url))
        config_error(reader, "redirect URL '" + url + "' " + NOT_PROGRAM_URL, page.line);
    if (url.size() >= URL_BUFFER_SIZE)
        config_error(reader,
                     "redirect URL has " + std::to_string(url.size()) +
                         " characters; the program holds at most " +
                         std::to_string(URL_BUFFER_SIZE - 1),
                     page.line);
}

}  // namespace

void check_reply_graph(const ConfigReader& reader)
{
    const std::vector<ReplyPage>& replies = reader.config.replies;
    PageIndex pages;
    for (const ReplyPage& page : replies)
        pages[page.path] = &page;
    for (const ReplyPage& page : replies) {
        if (page.kind == ReplyPage::REDIRECT) {
            check_redirect(reader, page);
            check_redirect_target(reader, page, pages);
        }
    }
    for (const ReplyPage& page : replies)
        check_redirect_chain(reader, page, pages);
}

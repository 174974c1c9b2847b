#include "site/config/config_keywords.h"

#include <algorithm>
#include <vector>

#include "cli/cli.h"
#include "cli/suggestion.h"
#include "language.h"
#include "buffer_sizes.h"
#include "site/config/code_pages.h"
#include "site/config/config_sources.h"
#include "site/formats/package_manifest.h"
#include "site/config/config_words.h"
#include "site/formats/package_names.h"
#include "site/formats/reply_fields.h"
#include "site/config/value_rules.h"

namespace {

// A keyword given once, whose value follows rules.
void set_once(ConfigReader& reader, const std::string& keyword, const std::string& value,
              const std::vector<ValueRule>& rules, int* first_line, std::string* field)
{
    check_first(reader, "'" + keyword + "'", *first_line);
    check_rules(reader, keyword, value, rules);
    *first_line = reader.line;
    *field = value;
}

void read_base(ConfigReader& reader, const KeywordLine& line)
{
    set_once(reader, line.keyword, single_argument(reader, line.keyword, line.args, line.has_args, "a URL"),
             BASE_RULES, &reader.base_line, &reader.config.base);
}

// Another address of the same site folder (a second host name): a
// program may ask its bootstrap pages there.
void read_mirror(ConfigReader& reader, const KeywordLine& line)
{
    std::string url = single_argument(reader, line.keyword, line.args, line.has_args, "a URL");
    check_rules(reader, line.keyword, url, BASE_RULES);
    reader.config.mirrors.push_back(url);
}

void read_directory(ConfigReader& reader, const KeywordLine& line)
{
    set_once(reader, line.keyword,
             single_argument(reader, line.keyword, line.args, line.has_args, "a folder"),
             DIRECTORY_RULES, &reader.directory_line, &reader.config.directory);
}

// Everything after "news " is the line, spaces included; "news " alone is
// an empty news line.
void read_news(ConfigReader& reader, const KeywordLine& line)
{
    if (!line.has_args)
        config_error(reader, "'news' needs a text (\"news \" for an empty line)");
    reader.config.news.push_back(line.args);
    reader.config.news_lines.push_back(reader.line);
}

// "news-for CODE TEXT": a news line of one language only, which then shows
// its own lines in place of the common ones.
void read_language_news(ConfigReader& reader, const KeywordLine& line)
{
    std::string code, text;
    bool has_text = split_first(line.args, &code, &text);
    if (code_page_of(code) == 0)
        config_error(reader, "'news-for' needs a language code (" + std::string(language_codes[0]) +
                                 ", ...) and a text; '" + code + "' is none");
    if (!has_text)
        config_error(reader, "'news-for " + code + "' needs a text (\"news-for " + code +
                                 " \" for an empty line)");
    reader.config.language_news[code].push_back(text);
    reader.config.language_news_lines[code].push_back(reader.line);
}

ReplyPage::Kind reply_kind(const ConfigReader& reader, const std::string& kind,
                           const std::string& argument, bool has_argument)
{
    if (kind == "direct") {
        if (has_argument)
            config_error(reader, "'reply PATH direct' takes nothing more; unexpected '" + argument + "'");
        return ReplyPage::DIRECT;
    }
    if (kind == "redirect") {
        if (argument.empty())
            config_error(reader, "'reply PATH redirect' needs a target");
        if (argument.find_first_of(SEPARATORS) != std::string::npos)
            config_error(reader, "a redirect target is one word; unexpected '" +
                                     argument.substr(argument.find_first_of(SEPARATORS) + 1) + "'");
        return ReplyPage::REDIRECT;
    }
    if (kind == "record" || kind == "plain") {
        if (!has_argument)
            config_error(reader, "'reply PATH " + kind + "' needs a text (\"" + kind +
                                     " \" for an empty one)");
        return kind == "record" ? ReplyPage::RECORD : ReplyPage::PLAIN;
    }
    config_error(reader, "unknown reply kind '" + kind + "' (direct, redirect, record or plain)" +
                             nearest_suggestion(kind, {"direct", "redirect", "record", "plain"}));
}

void read_reply(ConfigReader& reader, const KeywordLine& line)
{
    std::string path, rest, kind, argument;
    bool has_kind = split_first(line.args, &path, &rest);
    bool has_argument = split_first(rest, &kind, &argument);
    if (path.empty() || !has_kind || kind.empty())
        config_error(reader, "'reply' needs a path and a kind (direct, redirect, record or plain)");
    check_rules(reader, "reply path", path, REPLY_PATH_RULES);
    auto known = reader.reply_lines.find(path);
    check_first(reader, "reply path " + path, known == reader.reply_lines.end() ? 0 : known->second);
    ReplyPage page{path, reply_kind(reader, kind, argument, has_argument), argument, reader.line};
    if (page.kind == ReplyPage::RECORD && !download_dir_problem(argument).empty())
        config_error(reader, download_dir_problem(argument));
    reader.reply_lines[path] = reader.line;
    reader.config.replies.push_back(page);
}

struct KeywordRule {
    const char* keyword;
    void (*read)(ConfigReader& reader, const KeywordLine& line);
};

const KeywordRule KEYWORD_RULES[] = {
    {"base", read_base},       {"directory", read_directory}, {"installer", read_installer},
    {"news-for", read_language_news}, {"mirror", read_mirror},
    {"package", read_package}, {"language", read_language},   {"news", read_news},
    {"reply", read_reply},     {"program", read_program},     {"tag", read_tag},
    {"placement", read_placement},
};

// Why one news line cannot be written for the languages it feeds, naming
// each of them at once: the vendor then knows which need lines of their own.
std::string news_line_problem(const std::string& line, const std::vector<std::string>& languages)
{
    std::string failed, why;
    for (const std::string& code : languages) {
        std::string written;
        std::string problem = in_code_page(line, code_page_of(code), &written);
        if (problem.empty())
            continue;
        failed += (failed.empty() ? "" : ", ") + code;
        why += (why.empty() ? "" : "; ") + problem;
    }
    if (failed.empty() || languages.size() == 1)
        return failed.empty() ? std::string() : "news for " + failed + ": " + why;
    std::string fed;
    for (const std::string& code : languages)
        fed += (fed.empty() ? "" : ", ") + code;
    return "news for " + failed + ": " + why + ". The line feeds " + fed +
           ": give " + failed + " lines of their own with news-for";
}

// Each language's news can be written in its users' code page, and each
// manifest is read whole by the program.
void check_news(ConfigReader& reader)
{
    const SiteConfig& config = reader.config;
    std::vector<std::string> common;
    for (const char* const* code = language_codes; *code; ++code) {
        if (!config.language_news.count(*code))
            common.push_back(*code);
    }
    for (size_t i = 0; i < config.news.size(); ++i) {
        std::string why = news_line_problem(config.news[i], common);
        if (!why.empty())
            config_error(reader, why, config.news_lines[i]);
    }
    for (const auto& own : config.language_news) {
        for (size_t i = 0; i < own.second.size(); ++i) {
            std::string why = news_line_problem(own.second[i], {own.first});
            if (!why.empty())
                config_error(reader, why, config.language_news_lines.at(own.first)[i]);
        }
    }
    for (const SitePackage& package : all_packages()) {
        try {
            check_manifest_length(
                make_manifest(config.installer_of(package.name()).size, config.news_text_in(package.code))
                    .size(),
                "the manifest " + package.manifest());
        } catch (const ToolError& error) {
            const std::vector<int>& lines = config.news_lines_of(package.code);
            config_error(reader, error.what(), lines.empty() ? 0 : lines.back());
        }
    }
}

}  // namespace

void read_config_line(ConfigReader& reader, const std::string& text)
{
    if (is_blank_or_comment(text))
        return;
    if (text.find('\0') != std::string::npos)
        config_error(reader, "the line holds a NUL byte");
    KeywordLine line;
    line.has_args = split_first(text, &line.keyword, &line.args);
    std::vector<std::string> keywords;
    for (const KeywordRule& rule : KEYWORD_RULES) {
        if (line.keyword == rule.keyword)
            return rule.read(reader, line);
        keywords.push_back(rule.keyword);
    }
    config_error(reader, "unknown keyword '" + line.keyword + "'" +
                             nearest_suggestion(line.keyword, keywords));
}

void finish_config(ConfigReader& reader)
{
    finish_tags(reader);
    const SiteConfig& config = reader.config;
    if (!reader.base_line)
        config_error(reader, "no 'base' line");
    if (!reader.directory_line)
        config_error(reader, "no 'directory' line");
    std::string dir_url = config.download_dir_url();
    if (dir_url.size() > MAX_DOWNLOAD_DIR_URL)
        config_error(reader, "the download directory URL has " + std::to_string(dir_url.size()) +
                                 " characters; the program holds at most " +
                                 std::to_string(MAX_DOWNLOAD_DIR_URL),
                     std::max(reader.base_line, reader.directory_line));
    if (!config.installer.line) {
        for (const std::string& name : all_package_names()) {
            if (!config.packages.count(name))
                config_error(reader, "no 'installer' line, and package " + name +
                                         " has no 'package' line");
        }
    }
    if (config.replies.empty())
        config_error(reader, "no 'reply' line: the program would find nothing at its bootstrap URLs");
    check_program_urls(reader);
    check_news(reader);
}

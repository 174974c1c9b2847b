#include "site/site_config.h"

#include <stdint.h>

#include <algorithm>
#include <filesystem>

#include "cli/cli.h"
#include "cli/printing.h"
#include "cli/suggestion.h"
#include "files/files.h"
#include "limits.h"
#include "pe/pe_signature.h"
#include "pe/program_file.h"
#include "pe/stamp.h"
#include "reply_record.h"
#include "site/encipher.h"
#include "site/package_manifest.h"
#include "tag.h"

const char PARTNER_FOLDER[] = "partners/";
const char PARTNER_INDEX[] = "index.txt";

namespace fs = std::filesystem;

namespace {

// One rule for a value of the configuration (base, directory, a reply
// path): broken(value) tells that the value breaks it, complaint what it
// must be.
struct ValueRule {
    bool (*broken)(const std::string& value);
    const char* complaint;
};

// Reads one configuration, line by line, keeping what is needed for
// messages.
class ConfigReader {
public:
    ConfigReader(const std::string& name, const std::string& folder) : name_(name), folder_(folder) {}

    SiteConfig read(const std::string& text);

private:
    void line(const std::string& text);
    void installer(const std::string& args);
    void package(const std::string& args);
    void language(const std::string& args);
    void reply(const std::string& args);
    void program(const std::string& file);
    void tag(const std::string& args);
    void placement(const std::string& value);
    void finish_tags();
    void check_reply_path(const std::string& path);
    ReplyPage::Kind reply_kind(const std::string& kind, const std::string& argument,
                               bool has_argument);
    void finish();
    void check_redirect(const ReplyPage& page);
    std::string site_path_of(const ReplyPage& page) const;
    void check_redirect_target(const ReplyPage& page,
                               const std::map<std::string, const ReplyPage*>& pages) const;
    void check_redirect_chain(const ReplyPage& page,
                              const std::map<std::string, const ReplyPage*>& pages) const;
    void check_first(const std::string& what, int first_line) const;
    void check_rules(const std::string& what, const std::string& value,
                     const std::vector<ValueRule>& rules) const;
    void set_once(const std::string& keyword, const std::string& value,
                  const std::vector<ValueRule>& rules, int* first_line, std::string* field);
    InstallerSource installer_at(const std::string& file);
    std::string single_argument(const std::string& keyword, const std::string& args,
                                bool has_args, const std::string& what);

    [[noreturn]] void fail(const std::string& message, int line = -1) const
    {
        int at = line < 0 ? line_ : line;
        // Invisible characters of the configuration are shown escaped.
        throw ToolError(name_ + (at > 0 ? ":" + std::to_string(at) : std::string()) + ": " +
                        printable(message));
    }

    std::string name_;
    std::string folder_;
    int line_ = 0;
    int base_line_ = 0;
    int directory_line_ = 0;
    int placement_line_ = 0;
    std::map<std::string, int> reply_lines_;
    SiteConfig config_;
};

// Words are separated by a space or a tab.
const char SEPARATORS[] = " \t";

// Splits "head rest" at the first separator. Returns false when there is
// none (rest is then empty).
bool split_first(const std::string& text, std::string* head, std::string* rest)
{
    size_t space = text.find_first_of(SEPARATORS);
    *head = text.substr(0, space);
    *rest = space == std::string::npos ? std::string() : text.substr(space + 1);
    return space != std::string::npos;
}

bool is_blank(const std::string& text)
{
    return text.find_first_not_of(" \t") == std::string::npos;
}

// Characters that no URL of the site may hold: '|' ends a reply value, and
// control characters and spaces cannot travel in a request line.
bool is_representable_url(const std::string& url)
{
    for (unsigned char c : url) {
        if (c == '|' || c <= ' ' || c == 0x7F)
            return false;
    }
    return true;
}

bool lacks_scheme(const std::string& value)
{
    return value.find("://") == std::string::npos;
}

bool starts_at_root(const std::string& value)
{
    return value[0] == '/';
}

bool is_not_relative(const std::string& value)
{
    return starts_at_root(value) || !lacks_scheme(value);
}

bool ends_with_slash(const std::string& value)
{
    return value.back() == '/';
}

bool lacks_final_slash(const std::string& value)
{
    return !ends_with_slash(value);
}

bool climbs(const std::string& value)
{
    return value.find("..") != std::string::npos;
}

bool is_unrepresentable(const std::string& value)
{
    return !is_representable_url(value);
}

const char UNREPRESENTABLE[] = "holds '|' or a control character";

// The program takes any other URL in a reply as absent.
bool is_not_program_url(const std::string& value)
{
    return !is_url_value(value.c_str());
}

const char NOT_PROGRAM_URL[] = "is not an http or https URL, the only kind the program asks";

// Each list in the order of its messages' priority.
const std::vector<ValueRule> BASE_RULES = {
    {lacks_scheme, "is not an absolute URL (scheme://host/...)"},
    {lacks_final_slash, "must end with '/'"},
    {is_unrepresentable, UNREPRESENTABLE},
    {is_not_program_url, NOT_PROGRAM_URL},
};
const std::vector<ValueRule> DIRECTORY_RULES = {
    {lacks_final_slash, "must end with '/'"},
    {is_not_relative, "must be relative to base"},
    {climbs, "must not hold '..'"},
    {is_unrepresentable, UNREPRESENTABLE},
};
const std::vector<ValueRule> REPLY_PATH_RULES = {
    {starts_at_root, "must be relative to the site folder"},
    {climbs, "must not hold '..'"},
    {ends_with_slash, "names a folder, not a file"},
};

// What an editor on Windows may put at the start of a text file.
const char BYTE_ORDER_MARK[] = "\xEF\xBB\xBF";

const std::vector<std::string> KEYWORDS = {"base",    "directory", "installer", "package",
                                           "language", "news",     "reply",     "program",
                                           "tag",     "placement"};

SiteConfig ConfigReader::read(const std::string& text)
{
    size_t start = text.compare(0, 3, BYTE_ORDER_MARK) == 0 ? 3 : 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        ++line_;
        // A line may end with CR LF: the CR is no part of it.
        size_t length = end - start - (end > start && text[end - 1] == '\r' ? 1 : 0);
        line(text.substr(start, length));
        start = end + 1;
    }
    line_ = 0;
    finish();
    return config_;
}

void ConfigReader::line(const std::string& text)
{
    if (is_blank(text) || text[text.find_first_not_of(" \t")] == '#')
        return;
    if (text.find('\0') != std::string::npos)
        fail("the line holds a NUL byte");
    std::string keyword, args;
    bool has_args = split_first(text, &keyword, &args);
    if (keyword == "base") {
        set_once(keyword, single_argument(keyword, args, has_args, "a URL"), BASE_RULES,
                 &base_line_, &config_.base);
    } else if (keyword == "directory") {
        set_once(keyword, single_argument(keyword, args, has_args, "a folder"), DIRECTORY_RULES,
                 &directory_line_, &config_.directory);
    } else if (keyword == "installer") {
        if (args.empty())
            fail("'installer' needs a file");
        installer(args);
    } else if (keyword == "package") {
        package(args);
    } else if (keyword == "language") {
        language(args);
    } else if (keyword == "news") {
        // Everything after "news " is the line, spaces included; "news "
        // alone is an empty news line.
        if (!has_args)
            fail("'news' needs a text (\"news \" for an empty line)");
        config_.news.push_back(args);
    } else if (keyword == "reply") {
        reply(args);
    } else if (keyword == "program") {
        program(args);
    } else if (keyword == "tag") {
        tag(args);
    } else if (keyword == "placement") {
        placement(single_argument(keyword, args, has_args, "table or signature"));
    } else {
        fail("unknown keyword '" + keyword + "'" + nearest_suggestion(keyword, KEYWORDS));
    }
}

// One argument and nothing after it.
std::string ConfigReader::single_argument(const std::string& keyword, const std::string& args,
                                          bool has_args, const std::string& what)
{
    if (!has_args || args.empty())
        fail("'" + keyword + "' needs " + what);
    size_t space = args.find_first_of(SEPARATORS);
    if (space != std::string::npos)
        fail("'" + keyword + "' takes only " + what + "; unexpected '" + args.substr(space + 1) +
             "'");
    return args;
}

void ConfigReader::check_first(const std::string& what, int first_line) const
{
    if (first_line)
        fail(what + " given twice (first on line " + std::to_string(first_line) + ")");
}

void ConfigReader::check_rules(const std::string& what, const std::string& value,
                               const std::vector<ValueRule>& rules) const
{
    auto broken = std::find_if(rules.begin(), rules.end(),
                               [&](const ValueRule& rule) { return rule.broken(value); });
    if (broken != rules.end())
        fail(what + " '" + value + "' " + broken->complaint);
}

// A keyword given once, whose value follows rules.
void ConfigReader::set_once(const std::string& keyword, const std::string& value,
                            const std::vector<ValueRule>& rules, int* first_line,
                            std::string* field)
{
    check_first("'" + keyword + "'", *first_line);
    check_rules(keyword, value, rules);
    *first_line = line_;
    *field = value;
}

InstallerSource ConfigReader::installer_at(const std::string& file)
{
    InstallerSource source;
    source.path = (fs::path(folder_) / file).string();
    source.line = line_;
    try {
        source.size = readable_file_size(source.path);
        check_installer_size(source.size, "installer " + source.path);
    } catch (const ToolError& error) {
        fail(error.what());
    }
    return source;
}

void ConfigReader::installer(const std::string& file)
{
    check_first("'installer'", config_.installer.line);
    config_.installer = installer_at(file);
}

void ConfigReader::package(const std::string& args)
{
    std::string name, file;
    if (!split_first(args, &name, &file) || name.empty() || file.empty())
        fail("'package' needs a package name and a file");
    std::vector<std::string> names = all_package_names();
    if (std::find(names.begin(), names.end(), name) == names.end())
        fail("unknown package '" + name + "' (expected a name like " + names[0] + ")");
    auto known = config_.packages.find(name);
    check_first("package " + name, known == config_.packages.end() ? 0 : known->second.line);
    config_.packages[name] = installer_at(file);
}

// Both packages of one language, whichever prefix the survey picks.
void ConfigReader::language(const std::string& args)
{
    std::string code, file;
    if (!split_first(args, &code, &file) || code.empty() || file.empty())
        fail("'language' needs a language code and a file");
    std::vector<std::string> names;
    for (const SitePackage& package : all_packages()) {
        if (code == package.code)
            names.push_back(package.name());
    }
    if (names.empty())
        fail("unknown language code '" + code + "' (CHT, DEU, ENG, SPA, FRE, ITA, JAP, KOR, DUT, "
             "POR or SWE)");
    InstallerSource source = installer_at(file);
    for (const std::string& name : names) {
        auto known = config_.packages.find(name);
        check_first("package " + name, known == config_.packages.end() ? 0 : known->second.line);
        config_.packages[name] = source;
    }
}

void ConfigReader::reply(const std::string& args)
{
    std::string path, rest, kind, argument;
    bool has_kind = split_first(args, &path, &rest);
    bool has_argument = split_first(rest, &kind, &argument);
    if (path.empty() || !has_kind || kind.empty())
        fail("'reply' needs a path and a kind (direct, redirect, record or plain)");
    check_rules("reply path", path, REPLY_PATH_RULES);
    auto known = reply_lines_.find(path);
    check_first("reply path " + path, known == reply_lines_.end() ? 0 : known->second);
    ReplyPage page{path, reply_kind(kind, argument, has_argument), argument, line_};
    reply_lines_[path] = line_;
    config_.replies.push_back(page);
}

ReplyPage::Kind ConfigReader::reply_kind(const std::string& kind, const std::string& argument,
                                         bool has_argument)
{
    if (kind == "direct") {
        if (has_argument)
            fail("'reply PATH direct' takes nothing more; unexpected '" + argument + "'");
        return ReplyPage::DIRECT;
    }
    if (kind == "redirect") {
        if (argument.empty())
            fail("'reply PATH redirect' needs a target");
        if (argument.find_first_of(SEPARATORS) != std::string::npos)
            fail("a redirect target is one word; unexpected '" +
                 argument.substr(argument.find_first_of(SEPARATORS) + 1) + "'");
        return ReplyPage::REDIRECT;
    }
    if (kind == "record" || kind == "plain") {
        if (!has_argument)
            fail("'reply PATH " + kind + "' needs a text (\"" + kind + " \" for an empty one)");
        return kind == "record" ? ReplyPage::RECORD : ReplyPage::PLAIN;
    }
    fail("unknown reply kind '" + kind + "' (direct, redirect, record or plain)" +
         nearest_suggestion(kind, {"direct", "redirect", "record", "plain"}));
}

void ConfigReader::program(const std::string& file)
{
    if (file.empty())
        fail("'program' needs a file");
    check_first("'program'", config_.program_line);
    config_.program = (fs::path(folder_) / file).string();
    config_.program_line = line_;
    try {
        check_program(config_.program);
    } catch (const ToolError& error) {
        fail(error.what());
    }
}

void ConfigReader::tag(const std::string& args)
{
    DistributionTag tag;
    std::string rest;
    split_first(args, &tag.identifier, &rest);
    split_first(rest, &tag.suffix, &rest);
    if (!is_tag_word(tag.identifier, TRAILER_ID_SIZE) || !rest.empty() ||
        (!tag.suffix.empty() && !is_tag_word(tag.suffix, TRAILER_SUFFIX_SIZE)))
        fail("'tag' needs an identifier of 1 to 11 and an optional suffix of 1 to 20 letters, "
             "digits or '-'");
    for (const DistributionTag& known : config_.tags) {
        if (known.file_name() == tag.file_name())
            fail("tag " + tag.tag() + " given twice (first on line " + std::to_string(known.line) + ")");
    }
    tag.line = line_;
    config_.tags.push_back(tag);
}

void ConfigReader::placement(const std::string& value)
{
    check_first("'placement'", placement_line_);
    if (value != "table" && value != "signature")
        fail("placement '" + value + "' is neither table nor signature");
    placement_line_ = line_;
    config_.tag_in_signature = value == "signature";
}

// The copies can be stamped: a program and tags go together, and a signed
// program is laid out so that its copies stay signed.
void ConfigReader::finish_tags()
{
    if (config_.program_line && config_.tags.empty())
        fail("'program' given but no 'tag' line", config_.program_line);
    if (!config_.tags.empty() && !config_.program_line)
        fail("'tag' lines need a 'program' line", config_.tags[0].line);
    if (!config_.program_line)
        return;
    SignedImage layout = read_signed_image(read_file(config_.program));
    if (!layout.problem.empty())
        fail("program " + config_.program + ": " + layout.problem +
                 "; a tag there would break or hide the signature",
             config_.program_line);
    config_.program_signed = layout.kind == SignedImage::SIGNED;
    if (config_.tag_in_signature && !config_.program_signed)
        fail("placement signature needs a signed program; " + config_.program + " is not signed",
             placement_line_);
    try {
        if (config_.tag_in_signature)
            signature_with_trailer(layout.signature, std::string(TRAILER_SIZE, 'x'));
    } catch (const ToolError& error) {
        fail("program " + config_.program + ": " + error.what(), placement_line_);
    }
}

void ConfigReader::finish()
{
    finish_tags();
    if (!base_line_)
        fail("no 'base' line");
    if (!directory_line_)
        fail("no 'directory' line");
    std::string dir_url = config_.download_dir_url();
    if (dir_url.size() > MAX_DOWNLOAD_DIR_URL)
        fail("the download directory URL has " + std::to_string(dir_url.size()) +
                 " characters; the program holds at most " + std::to_string(MAX_DOWNLOAD_DIR_URL),
             std::max(base_line_, directory_line_));
    if (!config_.installer.line) {
        for (const std::string& name : all_package_names()) {
            if (!config_.packages.count(name))
                fail("no 'installer' line, and package " + name + " has no 'package' line");
        }
    }
    if (config_.replies.empty())
        fail("no 'reply' line: the program would find nothing at its bootstrap URLs");
    std::map<std::string, const ReplyPage*> pages;
    for (const ReplyPage& page : config_.replies)
        pages[page.path] = &page;
    for (const ReplyPage& page : config_.replies) {
        if (page.kind == ReplyPage::REDIRECT) {
            check_redirect(page);
            check_redirect_target(page, pages);
        }
    }
    for (const ReplyPage& page : config_.replies)
        check_redirect_chain(page, pages);
}

// The path within the site that a redirect leads to; empty when the target
// lies outside the site (site check follows it there).
std::string ConfigReader::site_path_of(const ReplyPage& page) const
{
    const std::string& target = page.argument;
    if (lacks_scheme(target))
        return target;
    if (target.compare(0, config_.base.size(), config_.base) == 0)
        return target.substr(config_.base.size());
    return std::string();
}

// A redirect within the site must lead to one of its reply pages.
void ConfigReader::check_redirect_target(const ReplyPage& page,
                                         const std::map<std::string, const ReplyPage*>& pages) const
{
    if (starts_at_root(page.argument))
        fail("redirect target '" + page.argument + "' starts with '/': after base the URL "
             "would hold '//'; write it relative to base",
             page.line);
    std::string path = site_path_of(page);
    if (path.empty() || pages.count(path))
        return;
    std::string what = "which the site does not have";
    for (const SitePackage& package : all_packages()) {
        if (path == config_.directory + package.installer())
            what = "an installer, not a reply page";
        if (path == config_.directory + package.manifest())
            what = "a manifest, not a reply page";
    }
    fail("redirect to " + path + ", " + what, page.line);
}

// The chain the program follows from page, as far as it stays in the site:
// no loop, and no more redirections than the program follows.
void ConfigReader::check_redirect_chain(const ReplyPage& page,
                                        const std::map<std::string, const ReplyPage*>& pages) const
{
    std::string chain = page.path;
    std::vector<std::string> seen = {page.path};
    for (const ReplyPage* at = &page; at->kind == ReplyPage::REDIRECT;) {
        std::string next = site_path_of(*at);
        if (next.empty())
            return;
        chain += " -> " + next;
        if (std::find(seen.begin(), seen.end(), next) != seen.end())
            fail("redirect loop: " + chain, page.line);
        seen.push_back(next);
        if (seen.size() > static_cast<size_t>(MAX_REDIRECTIONS) + 1)
            fail("more than " + std::to_string(MAX_REDIRECTIONS) + " redirections from " +
                     page.path + " to " + next + "; the program follows at most " +
                     std::to_string(MAX_REDIRECTIONS),
                 page.line);
        at = pages.at(next);
    }
}

// The URL must reach the program whole, in its URL buffer.
void ConfigReader::check_redirect(const ReplyPage& page)
{
    std::string url = redirect_url(config_, page);
    if (!is_representable_url(url))
        fail("redirect URL '" + url + "' " + UNREPRESENTABLE, page.line);
    if (is_not_program_url(url))
        fail("redirect URL '" + url + "' " + NOT_PROGRAM_URL, page.line);
    if (url.size() >= URL_BUFFER_SIZE)
        fail("redirect URL has " + std::to_string(url.size()) +
                 " characters; the program holds at most " + std::to_string(URL_BUFFER_SIZE - 1),
             page.line);
}

}  // namespace

const InstallerSource& SiteConfig::installer_of(const std::string& package) const
{
    auto own = packages.find(package);
    return own != packages.end() ? own->second : installer;
}

SiteConfig parse_site_config(const std::string& text, const std::string& name,
                             const std::string& folder)
{
    return ConfigReader(name, folder).read(text);
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

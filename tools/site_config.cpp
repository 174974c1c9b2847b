#include "site_config.h"

#include <stdint.h>

#include <algorithm>

#include "encipher.h"
#include "language.h"
#include "limits.h"
#include "manifest_command.h"
#include "package.h"
#include "tool_support.h"

namespace {

// Reads one configuration, line by line, keeping what is needed for
// messages.
class ConfigReader {
public:
    ConfigReader(const std::string& name, const std::string& folder) : name_(name), folder_(folder) {}

    SiteConfig read(const std::string& text);

private:
    void line(const std::string& text);
    void base(const std::string& args);
    void directory(const std::string& args);
    void installer(const std::string& args);
    void package(const std::string& args);
    void reply(const std::string& args);
    void finish();
    InstallerSource installer_at(const std::string& file);
    std::string single_argument(const std::string& keyword, const std::string& args,
                                bool has_args, const std::string& what);

    [[noreturn]] void fail(const std::string& message, int line = -1) const
    {
        int at = line < 0 ? line_ : line;
        throw ToolError(name_ + (at > 0 ? ":" + std::to_string(at) : std::string()) + ": " + message);
    }

    std::string name_;
    std::string folder_;
    int line_ = 0;
    int base_line_ = 0;
    int directory_line_ = 0;
    std::map<std::string, int> reply_lines_;
    SiteConfig config_;
};

// Splits "head rest" at the first space. Returns false when there is no
// space (rest is then empty).
bool split_first(const std::string& text, std::string* head, std::string* rest)
{
    size_t space = text.find(' ');
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

SiteConfig ConfigReader::read(const std::string& text)
{
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        ++line_;
        line(text.substr(start, end - start));
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
        base(single_argument(keyword, args, has_args, "a URL"));
    } else if (keyword == "directory") {
        directory(single_argument(keyword, args, has_args, "a folder"));
    } else if (keyword == "installer") {
        if (args.empty())
            fail("'installer' needs a file");
        installer(args);
    } else if (keyword == "package") {
        package(args);
    } else if (keyword == "news") {
        // Everything after "news " is the line, spaces included; "news "
        // alone is an empty news line.
        if (!has_args)
            fail("'news' needs a text (\"news \" for an empty line)");
        config_.news.push_back(args);
    } else if (keyword == "reply") {
        reply(args);
    } else {
        fail("unknown keyword '" + keyword + "'");
    }
}

// One argument and nothing after it.
std::string ConfigReader::single_argument(const std::string& keyword, const std::string& args,
                                          bool has_args, const std::string& what)
{
    if (!has_args || args.empty())
        fail("'" + keyword + "' needs " + what);
    size_t space = args.find(' ');
    if (space != std::string::npos)
        fail("'" + keyword + "' takes only " + what + "; unexpected '" + args.substr(space + 1) +
             "'");
    return args;
}

void ConfigReader::base(const std::string& url)
{
    if (base_line_)
        fail("'base' given twice (first on line " + std::to_string(base_line_) + ")");
    if (url.find("://") == std::string::npos)
        fail("base '" + url + "' is not an absolute URL (scheme://host/...)");
    if (url.back() != '/')
        fail("base '" + url + "' must end with '/'");
    if (!is_representable_url(url))
        fail("base '" + url + "' holds '|' or a control character");
    base_line_ = line_;
    config_.base = url;
}

void ConfigReader::directory(const std::string& dir)
{
    if (directory_line_)
        fail("'directory' given twice (first on line " + std::to_string(directory_line_) + ")");
    if (dir.back() != '/')
        fail("directory '" + dir + "' must end with '/'");
    if (dir[0] == '/' || dir.find("://") != std::string::npos)
        fail("directory '" + dir + "' must be relative to base");
    if (dir.find("..") != std::string::npos)
        fail("directory '" + dir + "' must not hold '..'");
    if (!is_representable_url(dir))
        fail("directory '" + dir + "' holds '|' or a control character");
    directory_line_ = line_;
    config_.directory = dir;
}

InstallerSource ConfigReader::installer_at(const std::string& file)
{
    InstallerSource source;
    source.path = join_path(folder_, file);
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
    if (config_.installer.line)
        fail("'installer' given twice (first on line " + std::to_string(config_.installer.line) +
             ")");
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
    if (known != config_.packages.end())
        fail("package " + name + " given twice (first on line " +
             std::to_string(known->second.line) + ")");
    config_.packages[name] = installer_at(file);
}

void ConfigReader::reply(const std::string& args)
{
    std::string path, rest, kind, argument;
    bool has_kind = split_first(args, &path, &rest);
    bool has_argument = split_first(rest, &kind, &argument);
    if (path.empty() || !has_kind || kind.empty())
        fail("'reply' needs a path and a kind (direct, redirect, record or plain)");
    if (path[0] == '/')
        fail("reply path '" + path + "' must be relative to the site folder");
    if (path.find("..") != std::string::npos)
        fail("reply path '" + path + "' must not hold '..'");
    if (path.back() == '/')
        fail("reply path '" + path + "' names a folder, not a file");
    auto known = reply_lines_.find(path);
    if (known != reply_lines_.end())
        fail("reply path " + path + " given twice (first on line " +
             std::to_string(known->second) + ")");

    ReplyPage page{path, ReplyPage::DIRECT, argument, line_};
    if (kind == "direct") {
        if (has_argument)
            fail("'reply PATH direct' takes nothing more; unexpected '" + argument + "'");
    } else if (kind == "redirect") {
        if (argument.empty())
            fail("'reply PATH redirect' needs a target");
        if (argument.find(' ') != std::string::npos)
            fail("a redirect target is one word; unexpected '" +
                 argument.substr(argument.find(' ') + 1) + "'");
        page.kind = ReplyPage::REDIRECT;
    } else if (kind == "record" || kind == "plain") {
        if (!has_argument)
            fail("'reply PATH " + kind + "' needs a text (\"" + kind + " \" for an empty one)");
        page.kind = kind == "record" ? ReplyPage::RECORD : ReplyPage::PLAIN;
    } else {
        fail("unknown reply kind '" + kind + "' (direct, redirect, record or plain)");
    }
    reply_lines_[path] = line_;
    config_.replies.push_back(page);
}

void ConfigReader::finish()
{
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
    for (const ReplyPage& page : config_.replies) {
        if (page.kind != ReplyPage::REDIRECT)
            continue;
        std::string record = reply_record_of(config_, page);
        std::string url = record.substr(record.find("sUrl=") + 5);
        if (!is_representable_url(url))
            fail("redirect URL '" + url + "' holds '|' or a control character", page.line);
        if (url.size() >= URL_BUFFER_SIZE)
            fail("redirect URL has " + std::to_string(url.size()) +
                     " characters; the program holds at most " +
                     std::to_string(URL_BUFFER_SIZE - 1),
                 page.line);
    }
}

}  // namespace

const InstallerSource& SiteConfig::installer_of(const std::string& package) const
{
    auto own = packages.find(package);
    return own != packages.end() ? own->second : installer;
}

std::vector<std::string> all_package_names()
{
    std::vector<std::string> names;
    for (const char* prefix : {PREFIX_REGULAR, PREFIX_SYSTEM}) {
        for (int k = 0; k < LANGUAGE_COUNT; ++k)
            names.push_back(std::string(prefix) + language_codes[k]);
    }
    return names;
}

SiteConfig parse_site_config(const std::string& text, const std::string& name,
                             const std::string& folder)
{
    return ConfigReader(name, folder).read(text);
}

SiteConfig read_site_config(const std::string& path)
{
    return parse_site_config(read_file(path), path, parent_directory(path));
}

std::string reply_record_of(const SiteConfig& config, const ReplyPage& page)
{
    switch (page.kind) {
    case ReplyPage::DIRECT:
        return "iFlag=0|sDlurl=" + config.download_dir_url();
    case ReplyPage::REDIRECT:
        return "iFlag=1|sUrl=" + (page.argument.find("://") != std::string::npos
                                      ? page.argument
                                      : config.base + page.argument);
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

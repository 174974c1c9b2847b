#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pe_image.h"
#include "scratch_dir.h"
#include "site/config/config_file.h"
#include "site/config/site_config.h"
#include "cli/cli.h"

namespace {

// The error a configuration text gives, or "" when it is accepted.
std::string error_of(const std::string& text, const std::string& folder)
{
    try {
        parse_site_config(text, "site.conf", folder);
    } catch (const ToolError& error) {
        return error.what();
    }
    return "";
}

const std::string HEAD =
    "base http://127.0.0.1:47800/\n"   // line 1
    "directory dl/\n"                   // line 2
    "installer setup.exe\n";            // line 3

TEST(SiteConfig, MistakesAreReportedWithTheirLine)
{
    ScratchDir dir;
    dir.write("setup.exe", "MZ installer");
    dir.write("empty.exe", "");
    dir.write("prog.exe", pe_image(false));
    dir.write("elsewhere.exe", program_asking("http://127.0.0.1:47800/dlm/primary.txt",
                                              "http://mirror.example/dlm/alt1.txt"));
    const std::string reply = "reply dlm/primary.txt direct\n";
    std::string hops;  // p0.txt redirects to p1.txt ... p20.txt, which is direct
    for (int i = 0; i < 20; ++i)
        hops += "reply p" + std::to_string(i) + ".txt redirect p" + std::to_string(i + 1) + ".txt\n";
    struct Case {
        std::string text;
        std::string error;  // expected start of the message; empty: accepted
    };
    std::string long_news;  // lines 5 to 26: 22 lines of 999 bytes and LF, after "12", LF
    for (int i = 0; i < 22; ++i)
        long_news += "news " + std::string(999, 'n') + "\n";
    const std::vector<Case> cases = {
        {HEAD + reply + "frobnicate x\n", "site.conf:5: unknown keyword 'frobnicate'"},
        {HEAD + reply + reply, "site.conf:5: reply path dlm/primary.txt given twice (first on line 4)"},
        {HEAD + "reply ../up.txt direct\n", "site.conf:4: reply path '../up.txt' must not hold '..'"},
        {HEAD + "reply a/../../b direct\n", "site.conf:4: reply path 'a/../../b' must not hold '..'"},
        {HEAD + "reply /abs.txt direct\n", "site.conf:4: reply path '/abs.txt' must be relative"},
        {HEAD + "reply dlm/ direct\n", "site.conf:4: reply path 'dlm/' names a folder"},
        {HEAD + "reply a.txt\n", "site.conf:4: 'reply' needs a path and a kind"},
        {HEAD + "reply a.txt bounce\n", "site.conf:4: unknown reply kind 'bounce'"},
        {HEAD + "reply a.txt direct now\n", "site.conf:4: 'reply PATH direct' takes nothing more"},
        {HEAD + "reply a.txt redirect\n", "site.conf:4: 'reply PATH redirect' needs a target"},
        {HEAD + "reply a.txt redirect b c\n", "site.conf:4: a redirect target is one word"},
        {HEAD + "reply a.txt redirect x|y\n", "site.conf:4: redirect URL 'http://127.0.0.1:47800/x|y' holds '|'"},
        {HEAD + "reply a.txt record\n", "site.conf:4: 'reply PATH record' needs a text"},
        {HEAD + "reply a.txt plain\n", "site.conf:4: 'reply PATH plain' needs a text"},
        {HEAD + "reply a.txt record iFlag=0|sDlurl=http://h/dl\n",
         "site.conf:4: sDlurl 'http://h/dl' does not end with '/': the program would fetch http://h/dlp_"},
        {"\n# comment\nbase\n", "site.conf:3: 'base' needs a URL"},
        {"base http://h/ extra\n", "site.conf:1: 'base' takes only a URL; unexpected 'extra'"},
        {"base http://h\n", "site.conf:1: base 'http://h' must end with '/'"},
        {"base 127.0.0.1/\n", "site.conf:1: base '127.0.0.1/' is not an absolute URL"},
        {"base http://a|b/\n", "site.conf:1: base 'http://a|b/' holds '|'"},
        {"base ftp://h/\n", "site.conf:1: base 'ftp://h/' is not an http or https URL"},
        {HEAD + "reply a.txt redirect file:///C:/b.txt\n",
         "site.conf:4: redirect URL 'file:///C:/b.txt' is not an http or https URL"},
        {"base http://h/\nbase http://g/\n", "site.conf:2: 'base' given twice (first on line 1)"},
        {"directory dl\n", "site.conf:1: directory 'dl' must end with '/'"},
        {"directory /dl/\n", "site.conf:1: directory '/dl/' must be relative"},
        {"directory ../dl/\n", "site.conf:1: directory '../dl/' must not hold '..'"},
        {"installer\n", "site.conf:1: 'installer' needs a file"},
        {"\n\ninstaller missing.exe\n", "site.conf:3: cannot read"},
        {"installer empty.exe\n", "site.conf:1: installer"},
        {"installer setup.exe\ninstaller setup.exe\n", "site.conf:2: 'installer' given twice"},
        {"package p_Vandel_reg_XXX setup.exe\n", "site.conf:1: unknown package 'p_Vandel_reg_XXX'"},
        {"package p_Vandel_reg_ENG\n", "site.conf:1: 'package' needs a package name and a file"},
        {"package p_Vandel_reg_ENG setup.exe\npackage p_Vandel_reg_ENG setup.exe\n",
         "site.conf:2: package p_Vandel_reg_ENG given twice (first on line 1)"},
        {"news\n", "site.conf:1: 'news' needs a text"},
        // Mistakes of the whole file have no line of their own.
        {"directory dl/\ninstaller setup.exe\n" + reply, "site.conf: no 'base' line"},
        {"base http://h/\ninstaller setup.exe\n" + reply, "site.conf: no 'directory' line"},
        {HEAD, "site.conf: no 'reply' line"},
        {"base http://h/\ndirectory dl/\npackage p_Vandel_reg_ENG setup.exe\n" + reply,
         "site.conf: no 'installer' line, and package p_Vandel_reg_CHT has no 'package' line"},
        // A download directory URL the program cannot hold, at the later line.
        {"directory " + std::string(2020, 'd') + "/\nbase http://h:1/\ninstaller setup.exe\n" + reply,
         "site.conf:2: the download directory URL has 2032 characters; the program holds at most 2027"},
        // Partner copies: a program and its tags go together.
        {HEAD + reply + "program prog.exe\n", "site.conf:5: 'program' given but no 'tag' line"},
        {HEAD + reply + "tag AB12\n", "site.conf:5: 'tag' lines need a 'program' line"},
        {HEAD + reply + "program\n", "site.conf:5: 'program' needs a file"},
        {HEAD + reply + "program prog.exe\nprogram prog.exe\n", "site.conf:6: 'program' given twice"},
        {HEAD + reply + "tag ABCDEFGHIJKL\n", "site.conf:5: 'tag' needs an identifier of 1 to 11"},
        {HEAD + reply + "tag A.B\n", "site.conf:5: 'tag' needs an identifier"},
        {HEAD + reply + "tag AB " + std::string(21, 's') + "\n", "site.conf:5: 'tag' needs an identifier"},
        {HEAD + reply + "tag AB eu x\n", "site.conf:5: 'tag' needs an identifier"},
        {HEAD + reply + "program prog.exe\ntag AB eu\ntag AB eu\n",
         "site.conf:7: tag AB_eu given twice (first on line 6)"},
        {HEAD + reply + "program setup.exe\ntag AB\n",
         "site.conf:5: " + dir / "setup.exe" + " is not a Windows program"},
        // Reply pages the program cannot get through, known when the site is built.
        {HEAD + "reply a.txt redirect b.txt\n", "site.conf:4: redirect to b.txt, which the site does not have"},
        {HEAD + "reply a.txt redirect http://127.0.0.1:47800/b.txt\n",
         "site.conf:4: redirect to b.txt, which the site does not have"},
        {HEAD + "reply a.txt redirect dl/p_Vandel_reg_ENG.ENG\n",
         "site.conf:4: redirect to dl/p_Vandel_reg_ENG.ENG, a manifest, not a reply page"},
        {HEAD + "reply a.txt redirect dl/p_Vandel_sys_DEU.exe\n",
         "site.conf:4: redirect to dl/p_Vandel_sys_DEU.exe, an installer, not a reply page"},
        {HEAD + "reply b.txt direct\nreply a.txt redirect /b.txt\n",
         "site.conf:5: redirect target '/b.txt' starts with '/': after base the URL would hold '//'"},
        {HEAD + "reply a.txt redirect a.txt\n", "site.conf:4: redirect loop: a.txt -> a.txt"},
        {HEAD + "reply c.txt redirect a.txt\nreply a.txt redirect b.txt\nreply b.txt redirect a.txt\n",
         "site.conf:4: redirect loop: c.txt -> a.txt -> b.txt -> a.txt"},
        {HEAD + "reply p.txt redirect p0.txt\n" + hops + "reply p20.txt direct\n",
         "site.conf:4: more than 20 redirections from p.txt to p20.txt; the program follows at most 20"},
        // A slip of the hand gets the nearest word; invisible characters show.
        {HEAD + reply + "bsae http://h/\n", "site.conf:5: unknown keyword 'bsae' (did you mean 'base'?)"},
        {HEAD + reply + "Reply a.txt direct\n", "site.conf:5: unknown keyword 'Reply' (did you mean 'reply'?)"},
        {HEAD + "reply a.txt redirct b\n",
         "site.conf:4: unknown reply kind 'redirct' (direct, redirect, record or plain) (did you mean 'redirect'?)"},
        {HEAD + reply + "news\x0b\n", "site.conf:5: unknown keyword 'news\\x0b'"},
        {HEAD + reply + "base\rhttp://h/\n", "site.conf:5: unknown keyword 'base\\rhttp://h/'"},
        {"base http://h/\r\r\n", "site.conf:1: base 'http://h/\\r' must end with '/'"},
        {"language XX setup.exe\n", "site.conf:1: unknown language code 'XX'"},
        {"language DEU\n", "site.conf:1: 'language' needs a language code and a file"},
        {"package p_Vandel_sys_DEU setup.exe\nlanguage DEU setup.exe\n",
         "site.conf:2: package p_Vandel_sys_DEU given twice (first on line 1)"},
        {HEAD + reply + "placement inside\n", "site.conf:5: placement 'inside' is neither table nor signature"},
        // News the users' code page cannot hold, or a manifest the program
        // would cut.
        // A common line names every language it cannot be written for, and
        // every one it feeds, in one message.
        {HEAD + reply + "news-for JAP \xE6\x97\xA5\nnews f\xC3\xBCr alle\n",
         "site.conf:6: news for CHT, KOR: '\\xc3\\xbc' (U+00FC) cannot be written in code page 950; "
         "'\\xc3\\xbc' (U+00FC) cannot be written in code page 949. The line feeds CHT, DEU, ENG, SPA, "
         "FRE, ITA, KOR, DUT, POR, SWE: give CHT, KOR lines of their own with news-for"},
        {HEAD + reply + "news-for KOR \xE6\x97\xA5\xE6\x9C\xAC \xE0\xB8\x81\n",
         "site.conf:5: news for KOR: '\\xe0\\xb8\\x81' (U+0E01) cannot be written in code page 949"},
        {HEAD + reply + "news-for DEU caf\xE9\n", "site.conf:5: news for DEU: byte '\\xe9' is not UTF-8"},
        {HEAD + reply + "news-for XX hello\n", "site.conf:5: 'news-for' needs a language code"},
        {HEAD + reply + long_news,
         "site.conf:26: the manifest p_Vandel_reg_CHT.CHT would have 22003 bytes; the program reads 22000"},
        {HEAD + reply + "program prog.exe\ntag AB\nplacement signature\n",
         "site.conf:7: placement signature needs a signed program"},
        {HEAD + reply + "reply dlm/alt1.txt direct\nmirror http://mirror.example/\nprogram elsewhere.exe\n"
         "tag AB\n", ""},  // the same folder served under another name
        {HEAD + reply + "mirror mirror.example/\n",
         "site.conf:5: mirror 'mirror.example/' is not an absolute URL"},
        {HEAD + reply + "reply dlm/alt1.txt direct\nprogram elsewhere.exe\ntag AB\n",
         "site.conf:6: program " + (dir / "elsewhere.exe") + " asks http://mirror.example/dlm/alt1.txt, "
         "which is none of this site's reply pages (http://127.0.0.1:47800/ + dlm/primary.txt, dlm/alt1.txt)"},
    };
    for (const Case& c : cases) {
        std::string error = error_of(c.text, dir.path());
        // An empty error: accepted, the whole message empty.
        EXPECT_EQ(c.error.empty() ? error : error.substr(0, c.error.size()), c.error)
            << "config:\n" << c.text;
    }    // As many redirections as the program follows are fine.
    EXPECT_EQ(error_of(HEAD + hops + "reply p20.txt direct\n", dir.path()), "");
}

TEST(SiteConfig, LongestDownloadDirectoryTheProgramHolds)
{
    ScratchDir dir;
    dir.write("setup.exe", "MZ");
    // "http://h:1/" is 11 characters; 2016 more make 2027.
    std::string text = "base http://h:1/\ndirectory " + std::string(2015, 'd') +
                       "/\ninstaller setup.exe\nreply r direct\n";
    EXPECT_EQ(error_of(text, dir.path()), "");
}

TEST(SiteConfig, ReadsEveryKeyword)
{
    ScratchDir dir;
    dir.write("setup.exe", "MZ installer");
    dir.write("other/german.exe", "MZ the German one");
    std::string text =
        "# a comment, then a blank line\n"
        "\n"
        "base http://127.0.0.1:47800/\n"
        "directory files/dl/\n"
        "installer setup.exe\n"
        "package p_Vandel_sys_DEU other/german.exe\n"
        "news Polvex  demo: two spaces | and a bar # not a comment\n"
        "news \n"
        "news last\n"
        "reply dlm/primary.txt direct\n"
        "reply dlm/alt1.txt redirect dlm/next.txt\n"
        "reply dlm/far.txt redirect https://elsewhere.example/x.txt\n"
        "reply dlm/odd.txt record iFlag=0|sUrl=a b|sDlurl=\n"
        "reply dlm/error.html plain <html>not found</html>\n"
        "reply dlm/next.txt direct\n"
        "language JAP other/german.exe\n";
    SiteConfig config = parse_site_config(text, "site.conf", dir.path());

    EXPECT_EQ(config.download_dir_url(), "http://127.0.0.1:47800/files/dl/");
    EXPECT_EQ(config.installer_of("p_Vandel_reg_ENG").size, 12u);
    EXPECT_EQ(config.installer_of("p_Vandel_sys_DEU").size, 17u);
    EXPECT_EQ(config.installer_of("p_Vandel_sys_DEU").path, dir / "other/german.exe");
    EXPECT_EQ(config.installer_of("p_Vandel_sys_DEU").line, 6);
    const std::vector<std::string> news = {"Polvex  demo: two spaces | and a bar # not a comment",
                                           "", "last"};
    EXPECT_EQ(config.news, news);

    ASSERT_EQ(config.replies.size(), 6u);
    const std::vector<std::string> records = {
        "iFlag=0|sDlurl=http://127.0.0.1:47800/files/dl/",
        "iFlag=1|sUrl=http://127.0.0.1:47800/dlm/next.txt",
        "iFlag=1|sUrl=https://elsewhere.example/x.txt",
        "iFlag=0|sUrl=a b|sDlurl=",
    };
    for (size_t i = 0; i < records.size(); ++i)
        EXPECT_EQ(reply_record_of(config, config.replies[i]), records[i]);
    EXPECT_EQ(reply_page_content(config, config.replies[4]), "<html>not found</html>\n");
    EXPECT_EQ(config.replies[4].line, 14);
    // One line for both packages of a language, whichever the survey picks.
    for (const char* name : {"p_Vandel_reg_JAP", "p_Vandel_sys_JAP"})
        EXPECT_EQ(config.installer_of(name).path, dir / "other/german.exe") << name;
    EXPECT_EQ(config.installer_of("p_Vandel_reg_KOR").path, dir / "setup.exe");
}

// A configuration as editors write it: with CR LF line ends, a byte-order
// mark, tabs between the words. Each reads as the plain one does.
TEST(SiteConfig, SpellingsOfEditors)
{
    ScratchDir dir;
    dir.write("setup.exe", "MZ installer");
    const std::string plain = "# site\nbase http://h/\ndirectory dl/\ninstaller setup.exe\n"
                              "news Polvex news\nreply r.txt redirect s.txt\nreply s.txt direct\n";
    const std::vector<std::string> spellings = {
        "# site\r\nbase http://h/\r\ndirectory dl/\r\ninstaller setup.exe\r\n"
        "news Polvex news\r\nreply r.txt redirect s.txt\r\nreply s.txt direct\r\n",
        "\xEF\xBB\xBF" + plain,
        "\xEF\xBB\xBF# site\r\nbase http://h/\r\ndirectory dl/\ninstaller setup.exe\r\n"
        "news Polvex news\r\nreply r.txt redirect s.txt\nreply s.txt direct",  // mixed, no last LF
        "# site\nbase\thttp://h/\ndirectory\tdl/\ninstaller\tsetup.exe\n"
        "news\tPolvex news\nreply\tr.txt\tredirect\ts.txt\nreply s.txt\tdirect\n",
    };
    SiteConfig expected = parse_site_config(plain, "site.conf", dir.path());
    for (const std::string& text : spellings) {
        SiteConfig config = parse_site_config(text, "site.conf", dir.path());
        EXPECT_EQ(config.download_dir_url(), expected.download_dir_url()) << text;
        EXPECT_EQ(config.installer.path, expected.installer.path) << text;
        EXPECT_EQ(config.news, std::vector<std::string>{"Polvex news"}) << text;
        ASSERT_EQ(config.replies.size(), 2u) << text;
        EXPECT_EQ(reply_record_of(config, config.replies[0]), "iFlag=1|sUrl=http://h/s.txt") << text;
        EXPECT_EQ(config.replies[1].line, 7) << text;
    }
    // Only the CR of the line end goes: a CR inside a news line stays, shown.
    SiteConfig config = parse_site_config(plain + "news a\rb\r\n", "site.conf", dir.path());
    EXPECT_EQ(config.news.back(), "a\rb");
}

TEST(SiteConfig, EveryPackageWithItsOwnInstallerNeedsNoCommonOne)
{
    ScratchDir dir;
    dir.write("setup.exe", "MZ");
    std::string text = "base http://h/\ndirectory dl/\nreply r direct\n";
    for (const std::string& name : all_package_names())
        text += "package " + name + " setup.exe\n";
    EXPECT_EQ(error_of(text, dir.path()), "");
}

}  // namespace

#include <gtest/gtest.h>

#include <string.h>
#include <unistd.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "site/formats/encipher.h"
#include "buffer_sizes.h"
#include "pe_image.h"
#include "scratch_dir.h"
#include "site/build/site_build.h"
#include "site/check/site_check.h"
#include "site/config/config_file.h"
#include "site/config/site_config.h"
#include "pe/stamp.h"

namespace {

const std::string BASE = "http://127.0.0.1:47800/";

// A web server in memory: a site folder served under BASE, plus pages set
// by hand. Another host cannot be reached.
class FakeWeb : public WebClient {
public:
    std::string root;
    std::map<std::string, std::string> pages;  // by URL, over the folder
    std::vector<std::string> fetched;

    int fetch_page(const char* url, char* reply) override
    {
        fetched.push_back(url);
        reply[0] = '\0';
        std::string body;
        status_ = answer(url, &body);
        if (status_ == 0)
            return 0;
        size_t length = std::min(body.size(), REPLY_BUFFER_SIZE);
        memcpy(reply, body.data(), length);
        reply[length] = '\0';
        return 1;
    }
    long last_status() const override { return status_; }
    std::string last_error() const override { return status_ ? "" : "Connection refused"; }
    InstallerProbe probe_installer(const std::string& url) override
    {
        InstallerProbe probe;
        std::string body;
        probe.status = answer(url, &body);
        probe.answered = probe.status != 0;
        probe.length = static_cast<int64_t>(body.size());
        if (!probe.answered)
            probe.error = "Connection refused";
        return probe;
    }
    FetchedFile fetch_file(const std::string& url) override
    {
        FetchedFile file;
        file.status = answer(url, &file.body);
        file.answered = file.status != 0;
        if (!file.answered)
            file.error = "Connection refused";
        return file;
    }

    InstallerProbe fetch_to_file(const std::string& url, int fd) override
    {
        FetchedFile file = fetch_file(url);
        InstallerProbe fetched;
        fetched.answered = file.answered;
        fetched.status = file.status;
        fetched.error = file.error;
        fetched.length = static_cast<int64_t>(file.body.size());
        if (::write(fd, file.body.data(), file.body.size()) != static_cast<ssize_t>(file.body.size()))
            fetched.error = "cannot write";
        return fetched;
    }

private:
    long answer(const std::string& url, std::string* body) const
    {
        auto page = pages.find(url);
        if (page != pages.end()) {
            *body = page->second;
            return 200;
        }
        if (url.compare(0, BASE.size(), BASE) != 0)
            return 0;
        std::string path = root + "/" + url.substr(BASE.size());
        if (!file_exists(path)) {
            *body = "<html><body>404 Not Found</body></html>\n";
            return 404;
        }
        *body = file_content(path);
        return 200;
    }
    long status_ = 0;
};

struct CheckedSite {
    ScratchDir dir;
    FakeWeb web;
    std::string output;
    std::string warnings;
    int result = -1;

    explicit CheckedSite(const std::string& replies)
    {
        dir.write("setup.exe", "MZ an installer of 32 bytes.....");
        dir.write("polvex.exe", pe_image(false));  // not signed
        SiteConfig config = parse_site_config(
            "base " + BASE + "\ndirectory dl/\ninstaller setup.exe\nnews n\n" + replies,
            "site.conf", dir.path());
        web.root = dir / "site";
        build_site(config, web.root);
    }
    void check(const std::string& first = BASE + "dlm/primary.txt",
               const std::string& second = BASE + "dlm/alt1.txt", bool as_program = false,
               bool json = false)
    {
        std::ostringstream out, err;
        CheckOptions options;
        options.as_program = as_program;
        options.json = json;
        options.warnings = &err;
        result = check_site(first, second, web, out, options);
        output = out.str();
        warnings = err.str();
    }
    bool has_line(const std::string& line) const
    {
        return ("\n" + output).find("\n" + line + "\n") != std::string::npos;
    }
    std::string last_line() const
    {
        size_t start = output.rfind('\n', output.size() - 2);
        return output.substr(start + 1, output.size() - start - 2);
    }
    int count(const std::string& start) const
    {
        int n = 0;
        for (size_t at = ("\n" + output).find("\n" + start); at != std::string::npos;
             at = ("\n" + output).find("\n" + start, at + 1))
            ++n;
        return n;
    }
};

TEST(SiteCheck, AGoodSitePasses)
{
    CheckedSite site("reply dlm/primary.txt direct\nreply dlm/alt1.txt direct\n");
    site.check();
    EXPECT_EQ(site.result, 0) << site.output;
    EXPECT_EQ(site.count("ok   "), 2 + 22) << site.output;
    EXPECT_TRUE(site.has_line("ok   chain 1 reaches " + BASE + "dl/")) << site.output;
    EXPECT_TRUE(site.has_line("ok   chain 2 reaches " + BASE + "dl/")) << site.output;
    EXPECT_TRUE(site.has_line("ok   p_Vandel_reg_ENG.exe 32 bytes")) << site.output;
    EXPECT_TRUE(site.has_line("22 packages: 22 ok")) << site.output;
    EXPECT_EQ(site.last_line(),
              "verdict: ok (2 of 2 chains reach a download directory; 22 of 22 packages fine)");
    // One fetch for each chain, then the 22 manifests of the one directory.
    ASSERT_EQ(site.web.fetched.size(), 24u);
    EXPECT_EQ(site.web.fetched[0], BASE + "dlm/primary.txt");
    EXPECT_EQ(site.web.fetched[1], BASE + "dlm/alt1.txt");
    EXPECT_EQ(site.web.fetched[2], BASE + "dl/p_Vandel_reg_CHT.CHT");
}

// Plain http links pass, with one warning each on the side; an https link
// gets none.
TEST(SiteCheck, WarnsOncePerPlainHttpLink)
{
    const std::string SECURE = "https://secure.example/dlm/hop.txt";
    CheckedSite site("reply dlm/primary.txt redirect " + SECURE + "\nreply dlm/alt1.txt direct\n");
    site.web.pages[SECURE] = encipher("iFlag=0|sDlurl=" + BASE + "dl/");
    site.check();
    EXPECT_EQ(site.result, 0) << site.output;
    const std::string warned[] = {BASE + "dlm/primary.txt", BASE + "dlm/alt1.txt", BASE + "dl/"};
    std::string expected;
    for (const std::string& url : warned)
        expected += "warning: " + url + " is plain http: " +
                    (url == BASE + "dl/" ? "the manifests and installers" : "its reply") +
                    " can be replaced on the way\n";
    EXPECT_EQ(site.warnings, expected);
    EXPECT_EQ(site.output.find("warning"), std::string::npos) << site.output;
}

// Each bootstrap URL must lead to a download directory on its own; the
// program's own fallback is still there to see.
TEST(SiteCheck, EachChainOnItsOwn)
{
    struct Case {
        const char* replies;
        const char* failure;  // expected FAIL line of a chain, "" for none
        int as_program;       // exit code when resolving as the program does
    };
    const Case cases[] = {
        {"reply dlm/primary.txt direct\n",
         "FAIL chain 2 reaches no download directory: http://127.0.0.1:47800/dlm/alt1.txt is not a "
         "reply record (HTTP 404)", 0},
        {"reply dlm/alt1.txt direct\n",
         "FAIL chain 1 reaches no download directory: http://127.0.0.1:47800/dlm/primary.txt is not "
         "a reply record (HTTP 404)", 0},
        {"reply dlm/primary.txt direct\nreply dlm/alt1.txt redirect http://elsewhere.example/x\n",
         "FAIL chain 2 reaches no download directory: http://elsewhere.example/x cannot be opened", 0},
        {"reply dlm/primary.txt record iFlag=1|sUrl=http://127.0.0.1:47800/dlm/primary.txt\n"
         "reply dlm/alt1.txt direct\n",
         "FAIL chain 1 reaches no download directory: redirect loop: http://127.0.0.1:47800/dlm/primary.txt "
         "-> http://127.0.0.1:47800/dlm/primary.txt", 0},
        {"reply dlm/primary.txt direct\nreply dlm/alt1.txt record iFlag=7\n",
         "FAIL chain 2 reaches no download directory: http://127.0.0.1:47800/dlm/alt1.txt has iFlag=7 "
         "but no sUrl the program can use", 0},
        {"reply dlm/primary.txt record iFlag=0\nreply dlm/alt1.txt direct\n",
         "FAIL chain 1 reaches no download directory: http://127.0.0.1:47800/dlm/primary.txt has "
         "iFlag=0 but no sDlurl the program can use", 1},  // the program stops there
        // URLs the program takes as absent are reported as such.
        {"reply dlm/primary.txt direct\nreply dlm/alt1.txt record iFlag=1|sUrl=ftp://h/x\n",
         "FAIL chain 2 reaches no download directory: http://127.0.0.1:47800/dlm/alt1.txt has iFlag=1 "
         "but no sUrl the program can use (its sUrl 'ftp://h/x' is not an http or https URL free of "
         "spaces and control characters: the program takes it as absent)", 0},
        {"reply dlm/primary.txt record iFlag=0|sDlurl=http://h/d d/\nreply dlm/alt1.txt direct\n",
         "FAIL chain 1 reaches no download directory: http://127.0.0.1:47800/dlm/primary.txt has "
         "iFlag=0 but no sDlurl the program can use (its sDlurl 'http://h/d d/' is not an http or "
         "https URL free of spaces and control characters: the program takes it as absent)", 1},
    };
    for (const Case& c : cases) {
        CheckedSite site(c.replies);
        site.check();
        EXPECT_EQ(site.result, 1) << c.replies;
        EXPECT_TRUE(site.has_line(c.failure)) << c.failure << "\n" << site.output;
        EXPECT_EQ(site.count("FAIL chain"), 1) << site.output;
        // The chain that works still gets its packages checked.
        EXPECT_TRUE(site.has_line("22 packages: 22 ok")) << site.output;
        site.check(BASE + "dlm/primary.txt", BASE + "dlm/alt1.txt", true);
        EXPECT_EQ(site.result, c.as_program) << c.replies << site.output;
        EXPECT_EQ(site.output.compare(0, 7, "chain:\n"), 0) << site.output;
    }
}

TEST(SiteCheck, ARedirectChainLongerThanTheProgramFollows)
{
    for (int hops : {20, 21}) {
        std::string replies = "reply dlm/alt1.txt direct\n";
        for (int i = 0; i < hops; ++i)
            replies += "reply dlm/h" + std::to_string(i) + ".txt record iFlag=1|sUrl=" + BASE + "dlm/h" +
                       std::to_string(i + 1) + ".txt\n";
        replies += "reply dlm/h" + std::to_string(hops) + ".txt direct\n";
        CheckedSite site(replies);
        site.check(BASE + "dlm/h0.txt");
        EXPECT_EQ(site.result, hops > 20 ? 1 : 0) << hops << site.output;
        EXPECT_EQ(site.has_line("FAIL chain 1 reaches no download directory: more than 20 redirections; "
                                "the program follows at most 20"),
                  hops > 20)
            << site.output;
    }
}

TEST(SiteCheck, ReportsEveryBrokenPackage)
{
    CheckedSite site("reply dlm/primary.txt direct\nreply dlm/alt1.txt direct\n"
                     "reply dl/p_Vandel_sys_DEU.exe plain 0123456789\n"   // 11 bytes served
                     "reply dl/p_Vandel_reg_FRE.FRE plain abc\n"          // no size
                     "reply dl/p_Vandel_reg_ITA.ITA record 42\n"         // no LF
                     "reply dl/p_Vandel_reg_SWE.SWE plain 32" + std::string(30000, ' ') + "\n");
    std::remove((site.web.root + "/dl/p_Vandel_sys_KOR.exe").c_str());
    std::remove((site.web.root + "/dl/p_Vandel_reg_JAP.JAP").c_str());
    site.check();
    EXPECT_EQ(site.result, 1);
    const std::vector<std::string> failures = {
        "FAIL p_Vandel_sys_DEU.exe: size 32 in manifest, 11 served",
        "FAIL p_Vandel_reg_FRE.exe: manifest p_Vandel_reg_FRE.FRE starts with 'abc', not a size above 0 (HTTP 200)",
        "FAIL p_Vandel_reg_ITA.exe: manifest p_Vandel_reg_ITA.ITA has no line feed (HTTP 200)",
        "FAIL p_Vandel_sys_KOR.exe: installer answers HTTP 404",
        "FAIL p_Vandel_reg_SWE.exe: manifest p_Vandel_reg_SWE.SWE has 30003 bytes; the program reads "
        "22000 and cuts the rest",
        "FAIL p_Vandel_reg_JAP.exe: manifest p_Vandel_reg_JAP.JAP starts with '<html><body>404 Not Found</body></html>', not a size above 0 (HTTP 404)",
    };
    for (const std::string& line : failures)
        EXPECT_TRUE(site.has_line(line)) << line << "\n" << site.output;
    EXPECT_EQ(site.count("FAIL "), 6) << site.output;
    EXPECT_TRUE(site.has_line("22 packages: 16 ok, 6 failed")) << site.output;
}

TEST(SiteCheck, PartnerCopiesReadBackTheirTags)
{
    CheckedSite site("reply dlm/primary.txt direct\nreply dlm/alt1.txt direct\n"
                     "program polvex.exe\ntag AB12 eu\ntag CD34\n"
                     "tag EF56\n");
    site.check();
    EXPECT_EQ(site.result, 0) << site.output;
    EXPECT_TRUE(site.has_line("ok   partners/polvexAB12_eu.exe tag AB12_eu, not signed")) << site.output;
    EXPECT_TRUE(site.has_line("ok   partners/polvexCD34.exe tag CD34, not signed")) << site.output;
    EXPECT_TRUE(site.has_line("3 partner copies: 3 ok")) << site.output;

    // Where each copy's tag is, in the JSON report.
    site.check(BASE + "dlm/primary.txt", BASE + "dlm/alt1.txt", false, true);
    EXPECT_NE(site.output.find("\"name\": \"partners/polvexCD34.exe\", \"verdict\": \"ok\", "
                               "\"detail\": \"tag CD34, not signed\", "
                               "\"placement\": \"trailer at the end of the file\"}"),
              std::string::npos)
        << site.output;

    // A copy replaced by another partner's, and one gone.
    std::string partners = site.web.root + "/dl/partners/";
    stamp_file(partners + "polvexAB12_eu.exe", partners + "polvexCD34.exe", "XY", "");
    std::remove((partners + "polvexEF56.exe").c_str());
    site.check();
    EXPECT_EQ(site.result, 1);
    EXPECT_TRUE(site.has_line("FAIL partners/polvexCD34.exe: the program would read the tag 'XY', not 'CD34'"))
        << site.output;
    EXPECT_TRUE(site.has_line("FAIL partners/polvexEF56.exe: cannot be fetched (HTTP 404)")) << site.output;
    EXPECT_TRUE(site.has_line("3 partner copies: 1 ok, 2 failed")) << site.output;
    EXPECT_EQ(site.last_line(), "verdict: FAIL (2 of 2 chains reach a download directory; 22 of 22 "
                                "packages and 1 of 3 partner copies fine)");
}

TEST(SiteCheck, APartnerCopyOfABuildThatAsksAnotherSiteFails)
{
    CheckedSite site("reply dlm/primary.txt direct\nreply dlm/alt1.txt direct\n"
                     "program polvex.exe\ntag AB12 eu\ntag CD34\n");
    std::string partners = site.web.root + "/dl/partners/";
    site.dir.write("ours.exe", program_asking(BASE + "dlm/primary.txt", BASE + "dlm/alt1.txt"));
    site.dir.write("theirs.exe", program_asking(BASE + "dlm/primary.txt", "http://mirror.example/b.txt"));
    stamp_file(site.dir / "ours.exe", partners + "polvexAB12_eu.exe", "AB12", "eu");
    stamp_file(site.dir / "theirs.exe", partners + "polvexCD34.exe", "CD34", "");
    site.check();
    EXPECT_EQ(site.result, 1);
    EXPECT_TRUE(site.has_line("ok   partners/polvexAB12_eu.exe tag AB12_eu, not signed")) << site.output;
    EXPECT_TRUE(site.has_line("FAIL partners/polvexCD34.exe: tag CD34, but it asks " + BASE +
                              "dlm/primary.txt and http://mirror.example/b.txt, not the URLs checked"))
        << site.output;
    // Checked from one URL, only the first is compared.
    site.check(BASE + "dlm/primary.txt", BASE + "dlm/primary.txt");
    EXPECT_EQ(site.result, 0) << site.output;
}

TEST(SiteCheck, NoDownloadDirectory)
{
    struct Case {
        const char* replies;
        const char* shown;  // how the first bootstrap reply is listed
    };
    const Case cases[] = {
        {"reply dlm/other.txt direct\n", "HTTP 404, not enciphered: <html><body>404"},
        {"reply dlm/primary.txt record iFlag=0\n", "HTTP 200, iFlag=0"},  // no sDlurl: the end
        {"reply dlm/primary.txt plain iFlag=0|sDlurl=x\n",
         "HTTP 200, not enciphered: iFlag=0|sDlurl=x\\n"},
    };
    for (const Case& c : cases) {
        CheckedSite site(c.replies);
        site.check(BASE + "dlm/primary.txt", BASE + "dlm/alt1.txt", true);
        EXPECT_EQ(site.result, 1) << c.replies;
        EXPECT_NE(site.output.find("dlm/primary.txt -> " + std::string(c.shown)), std::string::npos)
            << site.output;
        EXPECT_TRUE(site.has_line("FAIL no download directory: both chains ended without one"))
            << site.output;
        EXPECT_EQ(site.count("ok   "), 0);
        site.check();
        EXPECT_EQ(site.result, 1) << c.replies;
        EXPECT_EQ(site.count("FAIL chain 1 reaches no download directory: "), 1) << site.output;
        EXPECT_EQ(site.last_line(),
                  "verdict: FAIL (0 of 2 chains reach a download directory; 0 of 0 packages fine)");
        EXPECT_EQ(site.count("ok   "), 0);
    }
}

TEST(SiteCheck, ADownloadDirectoryTooLongForTheProgram)
{
    for (size_t length : {MAX_DOWNLOAD_DIR_URL, MAX_DOWNLOAD_DIR_URL + 1}) {
        std::string dir_url = BASE + std::string(length - BASE.size() - 1, 'd') + "/";
        CheckedSite site("reply dlm/primary.txt record iFlag=0|sDlurl=" + dir_url + "\n");
        site.check();
        EXPECT_EQ(site.result, 1);  // nothing is served there in any case
        bool refused = site.output.find("FAIL the download directory URL has") != std::string::npos;
        EXPECT_EQ(refused, length > MAX_DOWNLOAD_DIR_URL) << length;
        // Not served: one line for the directory, none for each package.
        EXPECT_EQ(site.count("FAIL p_Vandel"), 0) << length;
        EXPECT_EQ(site.has_line("FAIL the download directory is not on the server: every manifest "
                                "answers HTTP 404 (in a release, upload its folder before the reply pages)"),
                  !refused)
            << length;
    }
}

}  // namespace

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <string>

#include "site/formats/encipher.h"
#include "scratch_dir.h"
#include "site/build/site_build.h"
#include "cli/cli.h"
#include "site/config/config_file.h"
#include "site/config/site_config.h"

namespace {

const char INSTALLER_BYTES[] = "MZ\0\x01installer body";  // with a NUL inside
const std::string INSTALLER(INSTALLER_BYTES, sizeof INSTALLER_BYTES - 1);
const std::string GERMAN = "MZ the German system package";

struct BuiltSite {
    ScratchDir dir;
    SiteConfig config;
    SiteBuildSummary summary;
    std::string out;

    explicit BuiltSite(const std::string& extra_lines, const std::string& release = "")
    {
        dir.write("in/setup.exe", INSTALLER);
        dir.write("in/german.exe", GERMAN);
        std::string text =
            "base http://127.0.0.1:47800/\n"
            "directory dl/\n"
            "installer setup.exe\n"
            "package p_Vandel_sys_DEU german.exe\n"
            "news Polvex news one\n"
            "news Polvex news two\n"
            "reply dlm/primary.txt direct\n"
            "reply dlm/alt1.txt redirect dlm/hop.txt\n"
            "reply dlm/hop.txt record iFlag=0|sDlurl=http://127.0.0.1:47800/dl/\n"
            "reply dlm/broken.txt plain <html>oops</html>\n" +
            extra_lines;
        config = parse_site_config(text, "site.conf", dir / "in");
        if (!release.empty())
            set_release(&config, release);
        out = dir / "site";
        summary = build_site(config, out);
    }
    std::string at(const std::string& path) const { return file_content(out + "/" + path); }
};

ino_t inode_of(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

TEST(SiteBuild, WritesEveryPackageAndNothingElse)
{
    BuiltSite site("");
    std::set<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(site.out)) {
        if (entry.is_regular_file())
            files.insert(std::filesystem::relative(entry.path(), site.out).string());
    }
    std::set<std::string> expected = {"dlm/primary.txt", "dlm/alt1.txt", "dlm/hop.txt",
                                      "dlm/broken.txt"};
    for (const std::string& name : all_package_names()) {
        std::string code = name.substr(name.size() - 3);
        expected.insert("dl/" + name + "." + code);
        expected.insert("dl/" + name + ".exe");
    }
    EXPECT_EQ(files, expected);  // also: no temporary file left behind
    EXPECT_EQ(site.summary.manifests, 22);
    EXPECT_EQ(site.summary.installers, 22);
}

TEST(SiteBuild, ManifestsAnnounceTheirOwnInstaller)
{
    BuiltSite site("");
    const std::string news = "Polvex news one\nPolvex news two\n";
    for (const std::string& name : all_package_names()) {
        std::string code = name.substr(name.size() - 3);
        const std::string& body = name == "p_Vandel_sys_DEU" ? GERMAN : INSTALLER;
        EXPECT_EQ(site.at("dl/" + name + ".exe"), body) << name;
        EXPECT_EQ(site.at("dl/" + name + "." + code), std::to_string(body.size()) + "\n" + news)
            << name;
    }
}

// Each language's news in its users' code page: the common lines where a
// language has none of its own.
TEST(SiteBuild, NewsInEachLanguagesCodePage)
{
    BuiltSite site("news-for DEU f\xC3\xBCr 5 \xE2\x82\xAC\n"               // für 5 €
                   "news-for JAP \xE6\x97\xA5\xE6\x9C\xAC\n"               // 日本
                   "news-for KOR \xED\x95\x9C\xEA\xB5\xAD\n"               // 한국
                   "news-for CHT \xE4\xB8\xAD\xE6\x96\x87\n"               // 中文
                   "news-for CHT \n");
    const std::pair<const char*, std::string> expected[] = {
        {"p_Vandel_sys_DEU.DEU", std::to_string(GERMAN.size()) + "\nf\xFCr 5 \x80\n"},
        {"p_Vandel_reg_JAP.JAP", std::to_string(INSTALLER.size()) + "\n\x93\xFA\x96\x7B\n"},
        {"p_Vandel_reg_KOR.KOR", std::to_string(INSTALLER.size()) + "\n\xC7\xD1\xB1\xB9\n"},
        {"p_Vandel_sys_CHT.CHT", std::to_string(INSTALLER.size()) + "\n\xA4\xA4\xA4\xE5\n\n"},
        {"p_Vandel_reg_SWE.SWE", std::to_string(INSTALLER.size()) + "\nPolvex news one\nPolvex news two\n"},
    };
    for (const auto& manifest : expected)
        EXPECT_EQ(site.at(std::string("dl/") + manifest.first), manifest.second) << manifest.first;
    // The summary counts each language's lines, in the right number.
    std::string text = describe_build(site.config, site.summary, site.out);
    EXPECT_NE(text.find("\n22 manifests with 2 news lines (CHT 2 lines of its own, DEU 1 line of its own, "
                        "JAP 1 line of its own, KOR 1 line of its own), 22 installers (2 copied, 20 hard "
                        "links)\n"),
              std::string::npos)
        << text;
}

// A release's download directory is a folder of its own, which the reply
// pages name; the order of the upload is printed.
TEST(SiteBuild, AReleaseInAFolderOfItsOwn)
{
    BuiltSite site("", "2026-12.1");
    EXPECT_EQ(site.at("dl/2026-12.1/p_Vandel_sys_DEU.exe"), GERMAN);
    EXPECT_FALSE(file_exists(site.out + "/dl/p_Vandel_sys_DEU.exe"));
    EXPECT_EQ(decipher(site.at("dlm/primary.txt")), "iFlag=0|sDlurl=http://127.0.0.1:47800/dl/2026-12.1/");
    std::string text = describe_build(site.config, site.summary, site.out);
    EXPECT_NE(text.find("\nupload first: dl/2026-12.1/ (release 2026-12.1)\n"
                        "then the reply pages: dlm/primary.txt dlm/alt1.txt dlm/hop.txt dlm/broken.txt\n"),
              std::string::npos)
        << text;
    for (const std::string& name : {std::string(), std::string("."), std::string(".."), std::string("a/b"),
                                    std::string("a b"), std::string(65, 'r')}) {
        SiteConfig config = site.config;
        EXPECT_THROW(set_release(&config, name), ToolError) << name;
    }
}

TEST(SiteBuild, SharedInstallersAreOneFile)
{
    BuiltSite site("");
    ino_t shared = inode_of(site.out + "/dl/p_Vandel_reg_CHT.exe");
    ASSERT_NE(shared, 0u);
    EXPECT_EQ(inode_of(site.out + "/dl/p_Vandel_sys_SWE.exe"), shared);
    EXPECT_NE(inode_of(site.out + "/dl/p_Vandel_sys_DEU.exe"), shared);
    // Never a link to the source: changing the site must not change it.
    EXPECT_NE(inode_of(site.dir / "in/setup.exe"), shared);
    EXPECT_EQ(site.summary.installer_copies + site.summary.hard_links, 22);
    EXPECT_GE(site.summary.installer_copies, 2);
}

TEST(SiteBuild, RepliesAreWhatTheProgramReads)
{
    BuiltSite site("");
    EXPECT_EQ(decipher(site.at("dlm/primary.txt")), "iFlag=0|sDlurl=http://127.0.0.1:47800/dl/");
    EXPECT_EQ(decipher(site.at("dlm/alt1.txt")), "iFlag=1|sUrl=http://127.0.0.1:47800/dlm/hop.txt");
    EXPECT_EQ(decipher(site.at("dlm/hop.txt")), "iFlag=0|sDlurl=http://127.0.0.1:47800/dl/");
    EXPECT_NE(site.at("dlm/primary.txt").find("iFlag"), 0u);  // not sent in plain
    EXPECT_EQ(site.at("dlm/broken.txt"), "<html>oops</html>\n");
}

TEST(SiteBuild, APageMayReplaceAPackageFile)
{
    // A test site with one broken manifest, the other packages untouched.
    BuiltSite site("reply dl/p_Vandel_sys_ENG.ENG plain 0\n"
                   "reply dl/p_Vandel_reg_CHT.exe plain not the installer\n");
    EXPECT_EQ(site.at("dl/p_Vandel_sys_ENG.ENG"), "0\n");
    EXPECT_EQ(site.at("dl/p_Vandel_reg_CHT.exe"), "not the installer\n");
    // The file it replaced was linked to the others; they keep the installer.
    EXPECT_EQ(site.at("dl/p_Vandel_reg_DEU.exe"), INSTALLER);
    EXPECT_EQ(site.summary.overridden.size(), 2u);
}

TEST(SiteBuild, RebuildingReplacesFilesWithoutWritingThroughLinks)
{
    BuiltSite site("");
    // A site edited by hand: one installer truncated in place, which
    // changes all its links.
    { std::ofstream(site.out + "/dl/p_Vandel_reg_ENG.exe", std::ios::trunc); }
    ASSERT_EQ(site.at("dl/p_Vandel_reg_KOR.exe"), "");
    build_site(site.config, site.out);
    EXPECT_EQ(site.at("dl/p_Vandel_reg_ENG.exe"), INSTALLER);
    EXPECT_EQ(site.at("dl/p_Vandel_reg_KOR.exe"), INSTALLER);
    EXPECT_EQ(file_content(site.dir / "in/setup.exe"), INSTALLER);
}

}  // namespace

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes.h"
#include "package.h"

namespace {

const std::string SYSTEM_DIR = "C:\\WINDOWS\\SYSTEM";

// The oldest versions that still pass, in survey order.
const struct {
    const char* name;
    int major, minor;
} MINIMUMS[] = {{"mfc42.dll", 4, 2},    {"msvcrt.dll", 4, 20}, {"msvcrt40.dll", 4, 10},
                {"olepro32.dll", 4, 2}, {"wininet.dll", 4, 70}};

FakeVersions minimum_versions()
{
    FakeVersions versions;
    for (const auto& lib : MINIMUMS)
        versions.versions[SYSTEM_DIR + "\\" + lib.name] = {lib.major, lib.minor};
    return versions;
}

TEST(PackageSurvey, StopsAtTheFirstLibraryThatIsMissingOrTooOld)
{
    struct Case {
        int changed;       // index into MINIMUMS, or -1
        int major, minor;  // its version; major < 0: cannot be read
        const char* prefix;
        size_t reads;      // libraries asked before the survey ended
    } cases[] = {
        {-1, 0, 0, PREFIX_REGULAR, 5}, {4, 4, 69, PREFIX_SYSTEM, 5}, {4, 5, 0, PREFIX_REGULAR, 5},
        {1, 4, 19, PREFIX_SYSTEM, 2},  {0, -1, 0, PREFIX_SYSTEM, 1}, {0, 3, 99, PREFIX_SYSTEM, 1},
        {2, 4, 9, PREFIX_SYSTEM, 3},   {3, -1, 0, PREFIX_SYSTEM, 4}, {3, 4, 1, PREFIX_SYSTEM, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.changed << ": " << c.major << "." << c.minor);
        FakeVersions versions = minimum_versions();
        if (c.changed >= 0) {
            std::string path = SYSTEM_DIR + "\\" + MINIMUMS[c.changed].name;
            if (c.major < 0)
                versions.versions.erase(path);
            else
                versions.versions[path] = {c.major, c.minor};
        }
        EXPECT_EQ(survey_package_prefix(SYSTEM_DIR.c_str(), versions.reader()), c.prefix);
        std::vector<std::string> expected;
        for (size_t k = 0; k < c.reads; ++k)
            expected.push_back(SYSTEM_DIR + "\\" + MINIMUMS[k].name);
        EXPECT_EQ(versions.read_paths, expected);
    }
    FakeVersions versions = minimum_versions();
    EXPECT_EQ(survey_package_prefix(nullptr, versions.reader()), PREFIX_SYSTEM);
    EXPECT_TRUE(versions.read_paths.empty()) << "no system directory, nothing read";
}

TEST(PackageNames, ChoosingAppendsManifestAndInstallerNames)
{
    FakeVersions versions = minimum_versions();
    char url[URL_BUFFER_SIZE] = "http://dl.test/files/";
    char name[INSTALLER_NAME_SIZE] = "";
    ASSERT_EQ(choose_package(SYSTEM_DIR.c_str(), versions.reader(), "SWE", url, sizeof url, name,
                             sizeof name),
              1);
    EXPECT_STREQ(url, "http://dl.test/files/p_Vandel_reg_SWE.SWE");
    EXPECT_STREQ(name, "p_Vandel_reg_SWE.exe");
    char url_2[64] = "http://dl.test/";
    char name_2[64] = "";
    ASSERT_EQ(choose_package(nullptr, versions.reader(), "ENG", url_2, 64, name_2, 64), 1);
    EXPECT_STREQ(url_2, "http://dl.test/p_Vandel_sys_ENG.ENG");
    EXPECT_STREQ(name_2, "p_Vandel_sys_ENG.exe");
}

TEST(PackageNames, NamesThatDoNotFitChangeNeitherBuffer)
{
    const std::string dir = "http://dl.test/";
    const std::string manifest = dir + "p_Vandel_reg_DEU.DEU";
    const std::string file = "p_Vandel_reg_DEU.exe";
    struct Case {
        size_t url_size, name_size;
        int result;
    } cases[] = {{manifest.size() + 1, file.size() + 1, 1},
                 {manifest.size(), file.size() + 1, 0},
                 {manifest.size() + 1, file.size(), 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.url_size << " / " << c.name_size);
        std::vector<char> url(c.url_size, 'Z');
        std::vector<char> name(c.name_size, 'Z');
        memcpy(url.data(), dir.c_str(), dir.size() + 1);
        name[0] = '\0';
        EXPECT_EQ(append_package_names(PREFIX_REGULAR, "DEU", url.data(), url.size(),
                                       name.data(), name.size()),
                  c.result);
        EXPECT_STREQ(url.data(), c.result ? manifest.c_str() : dir.c_str());
        EXPECT_STREQ(name.data(), c.result ? file.c_str() : "");
    }
}

TEST(PackageNames, AFileNameThatDoesNotFitIsLeftEmpty)
{
    // Both names have 20 bytes; with the terminator they need 21.
    for (size_t size : {size_t{20}, size_t{21}}) {
        SCOPED_TRACE(size);
        bool fits = size == 21;
        char manifest[32] = "untouched";
        char installer[32] = "untouched";
        EXPECT_EQ(make_manifest_name(PREFIX_SYSTEM, "ENG", manifest, size), fits ? 1 : 0);
        EXPECT_EQ(make_installer_name(PREFIX_SYSTEM, "ENG", installer, size), fits ? 1 : 0);
        EXPECT_STREQ(manifest, fits ? "p_Vandel_sys_ENG.ENG" : "");
        EXPECT_STREQ(installer, fits ? "p_Vandel_sys_ENG.exe" : "");
    }
}

}  // namespace

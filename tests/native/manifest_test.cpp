#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fakes.h"
#include "manifest.h"
#include "prepare.h"

namespace {

TEST(Manifest, SizeLineAndNewsLines)
{
    struct Case {
        const char* text;
        int32_t size;        // 0: the size is refused
        const char* ticker;  // null: no LF, nothing changed
    } cases[] = {
        {"1048576\na\nb\n", 1048576, "a\nb\n"}, {"1048576\r\na\r\n", 1048576, "a\r\n"},
        {"  42\n", 42, ""}, {"+42\n", 42, ""}, {"42 bytes\nnews\n", 42, "news\n"},
        {"42\n", 42, ""}, {"2147483647\n", 2147483647, ""}, {"42", 0, nullptr},
        {"0\nx", 0, "x"}, {"-5\n", 0, ""}, {"abc\n", 0, ""}, {"\n42\n", 0, "42\n"},
        {"99999999999\n", 0, ""}, {"2147483648\n", 0, ""}, {"-2147483649\n", 0, ""},
        {"<html><body>Not Found</body></html>\n", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string reply = c.text;
        char* ticker = nullptr;
        int32_t total = -7;
        EXPECT_EQ(parse_manifest(&reply[0], &ticker, &total), c.size ? 1 : 0);
        EXPECT_EQ(total, c.size ? c.size : -7);
        if (c.ticker) {
            ASSERT_NE(ticker, nullptr);
            EXPECT_STREQ(ticker, c.ticker);
        } else {
            EXPECT_EQ(ticker, nullptr);
            EXPECT_EQ(reply, c.text);
        }
    }
}

const char BOOT_1[] = "http://boot-1.test/list.txt";
const char BOOT_2[] = "http://boot-2.test/list.txt";
const char SYSTEM_DIR[] = "C:\\WINDOWS\\SYSTEM";
const std::string DIR = "http://dl.test/files/";
const std::string PACKAGE = "p_Vandel_reg_SWE.SWE";

class Prepare : public testing::Test {
protected:
    void SetUp() override
    {
        reset_run_state(*state);
        state->language_code = "SWE";
        for (const char* lib : {"mfc42", "msvcrt", "msvcrt40", "olepro32", "wininet"})
            versions.versions[std::string(SYSTEM_DIR) + "\\" + lib + ".dll"] = {6, 0};
    }
    void TearDown() override
    {
        free(state->url_buffer);
        free(state->reply_buffer);
    }
    // The site answers at once with dir (no site when empty), which holds
    // the manifest if any.
    PrepareOutcome run(const std::string& dir, const char* manifest)
    {
        if (!dir.empty())
            web.reply(BOOT_1, "iFlag=0|sDlurl=" + dir);
        if (manifest)
            web.pages[dir + PACKAGE] = manifest;
        std::string boot_1 = encipher(BOOT_1);
        std::string boot_2 = encipher(BOOT_2);
        PrepareSources sources = {&boot_1[0], &boot_2[0], SYSTEM_DIR, web.fetcher(),
                                  versions.reader()};
        return prepare_download_steps(*state, sources);
    }

    std::unique_ptr<RunState> state{new RunState};
    FakeWeb web;
    FakeVersions versions;
};

TEST_F(Prepare, ReadyWithManifestParsed)
{
    ASSERT_EQ(run(DIR, "1048576\nFirst news\nSecond news\n"), PREPARE_READY);
    EXPECT_STREQ(state->download_url, DIR.c_str());
    EXPECT_STREQ(state->url_buffer, (DIR + PACKAGE).c_str());
    EXPECT_STREQ(state->installer_name, "p_Vandel_reg_SWE.exe");
    EXPECT_EQ(state->total_bytes, 1048576);
    ASSERT_NE(state->ticker_start, nullptr);
    EXPECT_EQ(state->ticker_pos, state->ticker_start);
    EXPECT_STREQ(state->ticker_start, "First news\nSecond news\n");
    EXPECT_EQ(web.asked, (std::vector<std::string>{BOOT_1, DIR + PACKAGE}));
}

TEST_F(Prepare, NoSiteMeansConnectFailedWithoutManifest)
{
    EXPECT_EQ(run("", nullptr), PREPARE_CONNECT_FAILED);
    EXPECT_EQ(web.asked, (std::vector<std::string>{BOOT_1, BOOT_2}));
}

TEST_F(Prepare, DirectoryUrlMustLeaveRoomForTheInstallerName)
{
    std::string dir = "http://dl.test/" + std::string(2027 - 16, 'd') + "/";
    ASSERT_EQ(run(dir, "100\n"), PREPARE_READY);
    EXPECT_STREQ(state->download_url, dir.c_str());
}

TEST_F(Prepare, DirectoryUrlTooLongIsConnectFailed)
{
    std::string dir = "http://dl.test/" + std::string(2028 - 16, 'd') + "/";
    EXPECT_EQ(run(dir, "100\n"), PREPARE_CONNECT_FAILED);
    EXPECT_EQ(web.asked, (std::vector<std::string>{BOOT_1}));
}

TEST_F(Prepare, ManifestThatCannotBeFetchedIsParseFailed)
{
    EXPECT_EQ(run(DIR, nullptr), PREPARE_PARSE_FAILED);
    EXPECT_EQ(web.asked.size(), 2u);
}

TEST_F(Prepare, BadSizeIsParseFailedButSetsTheTicker)
{
    EXPECT_EQ(run(DIR, "0\nNews\n"), PREPARE_PARSE_FAILED);
    ASSERT_NE(state->ticker_start, nullptr);
    EXPECT_EQ(state->ticker_pos, state->ticker_start);
    EXPECT_STREQ(state->ticker_start, "News\n");
}

}  // namespace

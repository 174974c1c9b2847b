#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "manifest.h"
#include "site/formats/package_manifest.h"
#include "cli/cli.h"

namespace {

TEST(Manifest, Bytes)
{
    struct Case {
        uint64_t size;
        std::string news;
        std::string expected;
    };
    const Case cases[] = {
        {1048576, "a\nb\n", "1048576\na\nb\n"},
        {42, "", "42\n"},                           // no news: the size line alone
        {42, "last line", "42\nlast line\n"},       // a last line gets its LF
        {42, "a\r\nb\r\n", "42\na\r\nb\r\n"},       // CR LF stays as it is
        {42, "a\r\nb", "42\na\r\nb\n"},
        {42, "\n\n", "42\n\n\n"},                   // empty news lines are lines
        {2147483647, "x\n", "2147483647\nx\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(make_manifest(c.size, c.news), c.expected) << c.news;
}

TEST(Manifest, TheProgramReadsTheSizeAndTheNews)
{
    std::string manifest = make_manifest(123456, news_text_of({"first news", "", "third"}));
    std::vector<char> reply(manifest.begin(), manifest.end());
    reply.push_back('\0');
    char* ticker = nullptr;
    int32_t size = 0;
    ASSERT_TRUE(parse_manifest(reply.data(), &ticker, &size));
    EXPECT_EQ(size, 123456);
    EXPECT_STREQ(ticker, "first news\n\nthird\n");
}

TEST(Manifest, InstallerSizesTheProgramRefuses)
{
    EXPECT_THROW(check_installer_size(0, "x"), ToolError);
    EXPECT_NO_THROW(check_installer_size(1, "x"));
    EXPECT_NO_THROW(check_installer_size(2147483647u, "x"));
    EXPECT_THROW(check_installer_size(2147483648u, "x"), ToolError);
    EXPECT_THROW(check_installer_size(UINT64_MAX, "x"), ToolError);
}

}  // namespace

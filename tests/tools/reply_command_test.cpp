#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "site/formats/encipher.h"
#include "site/formats/reply_fields.h"
#include "reply_record.h"
#include "cli/cli.h"

namespace {

TEST(ReplyRecord, RefusesFieldsTheProgramCannotReadBack)
{
    const std::vector<std::vector<std::string>> refused = {
        {},                          // no field at all
        {"iFlag"},                   // no '='
        {"=0"},                      // empty name
        {"i_flag=0"},                // '_' is not a letter or digit
        {"s Url=a"},                 // nor is a space
        {"iFlag=0", "sUrl=a|b"},     // '|' would end the value
        {"sDlurl=http://x/|"},
        {"n\xE4me=1"},               // letters beyond ASCII
        // URLs that the program would take as absent.
        {"iFlag=1", "sUrl=http://a/x\nX-Injected: yes"},
        {"sUrl=http://a/b c"},
        {"sDlurl=ftp://a/dl/"},
        {"sDlurl="},
        // A directory the program would join the package names to.
        {"iFlag=0", "sDlurl=http://a/dl"},
    };
    for (const auto& fields : refused) {
        std::string shown;
        for (const auto& f : fields)
            shown += "[" + f + "]";
        EXPECT_THROW(build_reply_record(fields), ToolError) << shown;
    }
}

TEST(ReplyRecord, JoinsFieldsThatTheProgramReadsBack)
{
    // Values may hold '='; any but a URL may hold LF, which the program
    // reads back as CR LF.
    std::string record = build_reply_record(
        {"iFlag=-3", "sUrl=http://a.example/x?y=1", "sDlurl=HTTPS://B/", "sNote=a\nb"});
    EXPECT_EQ(record, "iFlag=-3|sUrl=http://a.example/x?y=1|sDlurl=HTTPS://B/|sNote=a\nb");

    std::string sent = encipher(record);
    EXPECT_EQ(sent.find('\0'), std::string::npos);  // a 0 byte would end the reply early
    std::string plain = decipher(sent);
    int32_t flag = 0;
    ASSERT_TRUE(get_int_field(plain.c_str(), "iFlag", &flag));
    EXPECT_EQ(flag, -3);
    char value[64];
    ASSERT_TRUE(get_string_field(plain.c_str(), "sUrl", value, sizeof value));
    EXPECT_STREQ(value, "http://a.example/x?y=1");
    ASSERT_TRUE(get_url_field(plain.c_str(), "sDlurl", value, sizeof value));
    EXPECT_STREQ(value, "HTTPS://B/");
    ASSERT_TRUE(get_string_field(plain.c_str(), "sNote", value, sizeof value));
    EXPECT_STREQ(value, "a\r\nb");
}

}  // namespace

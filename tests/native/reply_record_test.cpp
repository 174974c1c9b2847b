#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "reply_record.h"

namespace {

struct IntCase {
    const char* reply;
    bool found;
    int32_t value;
};

struct StringCase {
    const char* reply;
    const char* name;
    bool found;
    const char* value;
};

}  // namespace

TEST(ReplyRecord, IntegerFields)
{
    const IntCase cases[] = {
        {"iFlag=0|sUrl=a", true, 0},
        {"sUrl=a|iFlag=0|", true, 0},
        {"xiFlag=0", false, 0},
        {"|iFlag=0", true, 0},
        {"iFlag =0", false, 0},
        {"iflag=0", false, 0},
        {"iFlag=1|iFlag=0", true, 1},
        {"iFlag=12ab", false, 0},
        {"iFlag=12|x", true, 12},
        {"iFlag=", true, 0},
        {"iFlag=|sUrl=a", true, 0},
        {"iFlag=4-2", true, 4},
        {"iFlag=-3", true, -3},
        {"iFlag=-", true, 0},
        {"iFlag=--4", true, 0},
        // The manifest's size line may start with white space or '+'; a
        // reply's integer field may not.
        {"iFlag=+5", false, 0},
        {"iFlag= 5", false, 0},
        {"iFlag=\t5", false, 0},
        {"iFlag=2147483647", true, 2147483647},
        {"iFlag=-2147483648", true, -2147483647 - 1},
        // Outside the 32-bit range: malformed, not wrapped.
        {"iFlag=2147483648", false, 0},
        {"iFlag=-2147483649", false, 0},
        {"iFlag=99999999999999999999", false, 0},
        // The first qualifying occurrence decides, even when malformed.
        {"iFlag=1x|iFlag=0", false, 0},
        {"<html>error</html>", false, 0},
        {"", false, 0},
    };
    for (const IntCase& c : cases) {
        std::string reply = c.reply;
        int32_t value = 777;
        EXPECT_EQ(get_int_field(reply.c_str(), "iFlag", &value), c.found ? 1 : 0) << c.reply;
        EXPECT_EQ(value, c.found ? c.value : 777) << c.reply;
        EXPECT_EQ(reply, c.reply) << "reading changed the reply";
    }
}

TEST(ReplyRecord, StringFields)
{
    const StringCase cases[] = {
        {"iFlag=0|sUrl=a", "sUrl", true, "a"},
        {"sUrlX=1|sUrl=2", "sUrl", true, "2"},
        {"a=sUrl=1|sUrl=2", "sUrl", true, "2"},
        {"sUrl=", "sUrl", true, ""},
        {"sUrl=|x=1", "sUrl", true, ""},
        {"sUrl=a\nb", "sUrl", true, "a\r\nb"},
        {"sUrl=\n\n|x", "sUrl", true, "\r\n\r\n"},
        {"s_url=1", "s_url", false, ""},
        {"sDlurl=http://h/d/|sUrl=x", "sDlurl", true, "http://h/d/"},
        {"sUrlsUrl=1|sUrl=2", "sUrl", true, "2"},
        {"sUrl", "sUrl", false, ""},
    };
    for (const StringCase& c : cases) {
        std::string reply = c.reply;
        char dest[64] = "untouched";
        EXPECT_EQ(get_string_field(reply.c_str(), c.name, dest, sizeof dest), c.found ? 1 : 0)
            << c.reply;
        EXPECT_STREQ(dest, c.found ? c.value : "untouched") << c.reply;
        EXPECT_EQ(get_string_field(reply.c_str(), c.name, nullptr, 0), c.found ? 1 : 0)
            << "presence of " << c.reply;
        EXPECT_EQ(reply, c.reply) << "reading changed the reply";
    }
}

TEST(ReplyRecord, UrlFieldsHoldOnlyUrlsToAsk)
{
    // A URL to ask: "http:" or "https:" in any case, then no byte below 0x21
    // and no DEL up to the end of the value.
    const struct {
        const char* value;
        bool url;
    } cases[] = {
        {"http://host/hop?a=1", true},
        {"https://h/d/", true},
        {"HTTP://H/D/", true},
        {"hTtPs://h/", true},
        {"http://h/caf\xE9/", true},
        {"http:", true},
        {"http://host/hop?a=1\nX-Injected: yes", false},
        {"http://h/d/\r", false},
        {"http://h/a b", false},
        {"http://h/\t", false},
        {"http://h/\x01", false},
        {"http://h/\x7F", false},
        {" http://h/", false},
        {"ftp://h/d/", false},
        {"file:///C:/x", false},
        {"httpx://h/", false},
        {"http//h/", false},
        {"//h/d/", false},
        {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        for (const char* name : {"sUrl", "sDlurl"}) {
            std::string reply = std::string("iFlag=1|") + name + "=" + c.value + "|z=\n";
            char dest[64] = "untouched";
            EXPECT_EQ(get_url_field(reply.c_str(), name, dest, sizeof dest), c.url ? 1 : 0);
            EXPECT_STREQ(dest, c.url ? c.value : "untouched");
            EXPECT_EQ(get_url_field(reply.c_str(), name, nullptr, 0), c.url ? 1 : 0);
            EXPECT_EQ(is_url_value(find_field(reply.c_str(), name)), c.url ? 1 : 0);
            // The plain string reader still finds the field.
            EXPECT_EQ(get_string_field(reply.c_str(), name, nullptr, 0), 1);
        }
    }
    // The first field of the name decides: a later good one does not count.
    EXPECT_EQ(get_url_field("sUrl=ftp://a/|sUrl=http://b/", "sUrl", nullptr, 0), 0);
    EXPECT_EQ(get_url_field(nullptr, "sUrl", nullptr, 0), 0);
}

TEST(ReplyRecord, NoReplyBufferAnswersFalse)
{
    int32_t value = 5;
    char dest[8] = "x";
    EXPECT_EQ(get_int_field(nullptr, "iFlag", &value), 0);
    EXPECT_EQ(value, 5);
    EXPECT_EQ(get_string_field(nullptr, "sUrl", dest, sizeof dest), 0);
    EXPECT_EQ(get_string_field(nullptr, "sUrl", nullptr, 0), 0);
    EXPECT_STREQ(dest, "x");
}

TEST(ReplyRecord, IntegerWithoutPlaceIsAPresenceTest)
{
    EXPECT_EQ(get_int_field("iFlag=3", "iFlag", nullptr), 1);
    EXPECT_EQ(get_int_field("iFlag=x", "iFlag", nullptr), 0);
}

TEST(ReplyRecord, ExpandedValueMustFitTheDestination)
{
    // "ab\n" expands to 4 bytes plus the terminator.
    char exact[5] = "zzzz";
    EXPECT_EQ(get_string_field("sUrl=ab\n", "sUrl", exact, sizeof exact), 1);
    EXPECT_STREQ(exact, "ab\r\n");

    char small[4] = "zzz";
    EXPECT_EQ(get_string_field("sUrl=ab\n", "sUrl", small, sizeof small), 0);
    EXPECT_STREQ(small, "zzz");
}

TEST(ReplyRecord, FindFieldPointsAtTheValue)
{
    const char* text = "a=1|bb=22|c=";
    EXPECT_STREQ(find_field(text, "bb"), "22|c=");
    EXPECT_STREQ(find_field(text, "c"), "");
    EXPECT_EQ(find_field(text, "b"), nullptr);
    EXPECT_EQ(find_field(text, ""), nullptr);
    EXPECT_EQ(find_field("", "a"), nullptr);
    // A name with another character never matches, even when spelled out.
    EXPECT_EQ(find_field("a.b=1", "a.b"), nullptr);
}

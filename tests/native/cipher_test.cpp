#include <gtest/gtest.h>

#include <string>

#include "cipher.h"
#include "site/formats/encipher.h"

TEST(Cipher, TableIsAPermutationOfNonZeroBytes)
{
    EXPECT_EQ(decipher_table[0], 0);
    bool seen[256] = {};
    for (int i = 1; i < 256; ++i) {
        ASSERT_NE(decipher_table[i], 0) << "entry " << i;
        ASSERT_FALSE(seen[decipher_table[i]]) << "value repeated at " << i;
        seen[decipher_table[i]] = true;
    }
}

TEST(Cipher, EveryByteRoundTrips)
{
    std::string plain;
    for (int b = 1; b < 256; ++b)
        plain += static_cast<char>(b);
    std::string text = encipher(plain);
    EXPECT_NE(text, plain);
    decipher_text(&text[0]);
    EXPECT_EQ(text, plain);
}

TEST(Cipher, HighBytesUseTheirUnsignedValue)
{
    char text[] = "\x80\xff\xc3";
    decipher_text(text);
    EXPECT_EQ(static_cast<unsigned char>(text[0]), decipher_table[0x80]);
    EXPECT_EQ(static_cast<unsigned char>(text[1]), decipher_table[0xff]);
    EXPECT_EQ(static_cast<unsigned char>(text[2]), decipher_table[0xc3]);
}

TEST(Cipher, EmptyTextStaysEmpty)
{
    char text[2] = {0, 0x41};
    EXPECT_EQ(decipher_text(text), text);
    EXPECT_EQ(text[0], 0);
    EXPECT_EQ(text[1], 0x41);
}

TEST(Cipher, ReplyWithoutBufferIsLeftAlone)
{
    decipher_reply(nullptr);  // must not crash
    std::string reply = encipher("iFlag=0");
    decipher_reply(&reply[0]);
    EXPECT_EQ(reply, "iFlag=0");
}

TEST(Cipher, DecipheringTwiceSpoilsTheText)
{
    // So the stored texts are never deciphered in place: each use deciphers
    // a copy (decipher_into).
    std::string text = encipher("http://127.0.0.1/");
    decipher_text(&text[0]);
    EXPECT_EQ(text, "http://127.0.0.1/");
    decipher_text(&text[0]);
    EXPECT_NE(text, "http://127.0.0.1/");
}

TEST(Cipher, DecipherIntoFillsABufferThatFitsOnly)
{
    const std::string plain = "http://127.0.0.1/";
    const std::string text = encipher(plain);
    const struct {
        size_t size;
        int result;
        const char* expected;
    } cases[] = {{plain.size() + 1, 1, plain.c_str()}, {plain.size(), 0, ""}, {1, 0, ""}};
    for (const auto& c : cases) {
        std::string buffer(c.size + 1, 'G');
        EXPECT_EQ(decipher_into(text.c_str(), &buffer[0], c.size), c.result) << c.size;
        EXPECT_STREQ(buffer.c_str(), c.expected) << c.size;
        EXPECT_EQ(buffer[c.size], 'G') << "written past the buffer of " << c.size;
    }
    char untouched = 'G';
    EXPECT_EQ(decipher_into(text.c_str(), &untouched, 0), 0);
    EXPECT_EQ(untouched, 'G');
    EXPECT_EQ(text, encipher(plain)) << "the enciphered text is left as it was";
}

#include <gtest/gtest.h>

#include <string>

#include "cipher.h"
#include "encipher.h"

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
    // Each stored text is deciphered exactly once per run for this reason.
    std::string text = encipher("http://127.0.0.1/");
    decipher_text(&text[0]);
    EXPECT_EQ(text, "http://127.0.0.1/");
    decipher_text(&text[0]);
    EXPECT_NE(text, "http://127.0.0.1/");
}

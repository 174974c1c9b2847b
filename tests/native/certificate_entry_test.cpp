#include <gtest/gtest.h>

#include <string>

#include "certificate_entry.h"
#include "tag.h"

TEST(CertificateEntry, OnlyPaddingOrATrailerMayFollowTheSignature)
{
    char made[TRAILER_SIZE];
    ASSERT_TRUE(make_tag_trailer("ABC", "x", made));
    const std::string trailer(made, TRAILER_SIZE), zeros(300, '\0');
    const struct {
        std::string after;
        int allowed;
    } rows[] = {
        {"", 1},
        {zeros.substr(0, 7), 1},
        {zeros.substr(0, 8), 0},  // past the next 8-byte boundary
        {zeros.substr(0, 266), 0},
        {std::string("\0\0x", 3), 0},
        {trailer, 1},
        {zeros.substr(0, 5) + trailer, 1},
        {zeros.substr(0, 8) + trailer, 0},
        {"abcd" + trailer, 0},
        {trailer + zeros.substr(0, 5), 0},
        {zeros.substr(0, 31) + "DLIX", 0},  // a trailer's length, not its marker
        {"DLID", 0},
    };
    for (const auto& row : rows)
        EXPECT_EQ(only_padding_after_signature(row.after.data(), row.after.size()), row.allowed)
            << testing::PrintToString(row.after);
}

#include <gtest/gtest.h>

#include <string>

#include "certificate_entry.h"
#include "tag.h"

namespace {

std::string trailer()
{
    char bytes[TRAILER_SIZE];
    EXPECT_TRUE(make_tag_trailer("ABC", "x", bytes));
    return std::string(bytes, TRAILER_SIZE);
}

std::string zeros(size_t n) { return std::string(n, '\0'); }

TEST(CertificateEntry, OnlyPaddingOrATrailerMayFollowTheSignature)
{
    struct Row {
        const char* what;
        std::string after;
        int allowed;
    } rows[] = {
        {"nothing", "", 1},
        {"seven zero bytes", zeros(7), 1},
        {"eight zero bytes: past the boundary", zeros(8), 0},
        {"266 zero bytes", zeros(266), 0},
        {"one byte other than zero", std::string("\0\0x", 3), 0},
        {"a trailer", trailer(), 1},
        {"padding, then a trailer", zeros(5) + trailer(), 1},
        {"eight zero bytes, then a trailer", zeros(8) + trailer(), 0},
        {"other bytes, then a trailer", "abcd" + trailer(), 0},
        {"a trailer, then padding", trailer() + zeros(5), 0},
        {"a trailer's length without its marker", zeros(31) + "DLIX", 0},
        {"the marker alone", "DLID", 0},
    };
    for (const Row& row : rows)
        EXPECT_EQ(only_padding_after_signature(row.after.data(), row.after.size()), row.allowed)
            << row.what;
}

}  // namespace

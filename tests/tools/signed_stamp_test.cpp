// Stamping signed images laid out by hand: what is refused, and the DER
// edits of the tag attribute. Real signatures are stamped in
// tests/wine/signed_copies_run.py.
#include <gtest/gtest.h>

#include <string>

#include "pe/der.h"
#include "pe_image.h"
#include "pe/pe_signature.h"
#include "pe/tag_attribute.h"
#include "scratch_dir.h"
#include "pe/stamp.h"
#include "pe/tag_reading.h"
#include "tag.h"
#include "cli/cli.h"

namespace {

size_t security_entry(bool plus)
{
    return OPTIONAL_AT + (plus ? 112 : 96) + 4 * 8;
}

// image with a certificate table at its end: the entries as given (each
// with its header), directory size table_size (their sum when 0).
std::string with_table(std::string image, bool plus, const std::string& table,
                       size_t table_size = 0)
{
    put(&image, security_entry(plus), static_cast<uint32_t>(image.size()), 4);
    put(&image, security_entry(plus) + 4, static_cast<uint32_t>(table_size ? table_size : table.size()), 4);
    return image + table;
}

std::string entry(const std::string& signature, size_t length = 0)
{
    std::string header(8, '\0');
    size_t padded = (8 + signature.size() + 7) / 8 * 8;
    put(&header, 0, static_cast<uint32_t>(length ? length : padded), 4);
    put(&header, 4, 0x0200, 2);
    put(&header, 6, 0x0002, 2);
    return header + signature + std::string(padded - 8 - signature.size(), '\0');
}

std::string tlv(uint8_t tag, const std::string& content)
{
    return der_encode(tag, content);
}

// The shape of an Authenticode signature, with stand-ins for its values:
// ContentInfo, [0], SignedData, its SignerInfos with one signer, whose
// last item is `unsigned_attributes` when that is not empty.
std::string authenticode_shape(const std::string& unsigned_attributes, size_t certificates = 40)
{
    std::string signer = tlv(0x02, "\x01") + tlv(DER_SEQUENCE, std::string(30, 's')) +
                         tlv(DER_OCTET_STRING, std::string(128, 'x')) + unsigned_attributes;
    std::string signed_data = tlv(0x02, "\x01") + tlv(DER_SET, "") +
                              tlv(DER_SEQUENCE, tlv(DER_OID, "\x2b\x06")) +
                              tlv(DER_CONTEXT_0, std::string(certificates, 'c')) +
                              tlv(DER_SET, tlv(DER_SEQUENCE, signer));
    return tlv(DER_SEQUENCE, tlv(DER_OID, "\x2a\x86\x48") +
                                 tlv(DER_CONTEXT_0, tlv(DER_SEQUENCE, signed_data)));
}

std::string two_signers()
{
    std::string signer = tlv(DER_SEQUENCE, tlv(0x02, "\x01"));
    std::string signed_data = tlv(0x02, "\x01") + tlv(DER_SET, signer + signer);
    return tlv(DER_SEQUENCE, tlv(DER_OID, "\x2a") + tlv(DER_CONTEXT_0, tlv(DER_SEQUENCE, signed_data)));
}

TEST(SignedStamp, RefusesWhatWouldBreakOrHideTheSignature)
{
    struct Case {
        const char* why;
        std::string image;
        TrailerPlace place;
        std::string message;
    };
    const std::string good = entry(authenticode_shape(""));
    const Case cases[] = {
        {"bytes after the table", with_table(pe_image(false), false, good) + "more",
         TrailerPlace::CERTIFICATE_TABLE, "does not end the file: 4 bytes follow it"},
        {"two entries", with_table(pe_image(false), false, good + good),
         TrailerPlace::CERTIFICATE_TABLE, "the certificate table holds more than one entry"},
        {"unaligned offset", with_table(pe_image(true, 1020), true, good),
         TrailerPlace::CERTIFICATE_TABLE, "(at byte 1020, " + std::to_string(good.size()) +
                                              " bytes) is not aligned on 8 bytes"},
        {"unaligned size", with_table(pe_image(false), false, good + "abc"),
         TrailerPlace::CERTIFICATE_TABLE, "is not aligned on 8 bytes"},
        {"blob longer than its entry",
         with_table(pe_image(false), false, entry(tlv(DER_SEQUENCE, std::string(20, 'z')), 27)),
         TrailerPlace::CERTIFICATE_TABLE, "the signature (22 bytes) does not fit its certificate entry (19"},
        {"blob past the end of the file",
         with_table(pe_image(false), false, entry(std::string("\x30\x82\x01\x00", 4) + "abcd")),
         TrailerPlace::CERTIFICATE_TABLE, "holds no DER signature that fits its 8 bytes"},
        {"entry longer than the table", with_table(pe_image(false), false, entry("0\x02xy", 64)),
         TrailerPlace::CERTIFICATE_TABLE, "entry's length (64) does not fit the certificate table (16"},
        {"table past the end", with_table(pe_image(false), false, good, good.size() + 8),
         TrailerPlace::CERTIFICATE_TABLE, "runs past the end of the file"},
        {"bytes after the blob inside the entry",
         with_table(pe_image(false), false, entry(std::string("0\x02xy", 4) + "junk")),
         TrailerPlace::CERTIFICATE_TABLE, "bytes after the signature that are neither padding nor a tag trailer"},
        {"not signed", pe_image(false), TrailerPlace::SIGNATURE, "is not signed: --in-signature"},
        {"two signers", with_table(pe_image(false), false, entry(two_signers())),
         TrailerPlace::SIGNATURE, "the signature has 2 signers"},
        {"not Authenticode", with_table(pe_image(false), false, entry(tlv(DER_SEQUENCE, "abc"))),
         TrailerPlace::SIGNATURE, "the signature is not laid out as an Authenticode signature"},
    };
    ScratchDir dir;
    for (const Case& c : cases) {
        std::string in = dir.write("signed.exe", c.image);
        std::string out = dir / "out.exe";
        try {
            stamp_file(in, out, "ID", "", c.place);
            ADD_FAILURE() << c.why << ": stamped";
        } catch (const ToolError& error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos)
                << c.why << ": " << error.what();
        }
        EXPECT_FALSE(file_exists(out)) << c.why;
    }
}

// The PE checksum as the format describes it, summed another way: all the
// 16-bit words at once, the checksum's own two words left out, folded at
// the end, plus the file's length.
uint32_t checksum_oracle(const std::string& image, size_t checksum_at)
{
    uint64_t sum = 0;
    for (size_t at = 0; at + 1 < image.size(); at += 2) {
        if (at != checksum_at && at != checksum_at + 2)
            sum += static_cast<uint8_t>(image[at]) | static_cast<uint8_t>(image[at + 1]) << 8;
    }
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + image.size());
}

// The trailer as the program reads it: the last 35 bytes.
std::string last_trailer(const std::string& image)
{
    return image.substr(image.size() - TRAILER_SIZE);
}

TEST(SignedStamp, TagAttributeSizesTheSignatureAndReplacesAnEarlierOne)
{
    // Signatures of every length modulo 8, and signers that have other
    // unauthenticated attributes before the tag's.
    const std::string other = tlv(DER_CONTEXT_1, tlv(DER_SEQUENCE, tlv(DER_OID, "\x2b\x07") +
                                                                       tlv(DER_SET, tlv(0x05, ""))));
    ScratchDir dir;
    for (size_t extra = 0; extra < 8; ++extra) {
        for (const std::string& attributes : {std::string(), other}) {
            std::string signature = authenticode_shape(attributes, 100 + extra * 37);
            std::string trailer = trailer_for("ID" + std::to_string(extra), "sfx");
            std::string stamped = signature_with_trailer(signature, trailer);
            EXPECT_EQ(stamped.size() % 8, 0u);
            EXPECT_EQ(last_trailer(stamped), trailer);
            EXPECT_TRUE(ends_with_tag_attribute(stamped));
            // Whole DER again, every length rewritten.
            DerItem outer;
            ASSERT_TRUE(read_der_item(stamped, 0, stamped.size(), &outer));
            EXPECT_EQ(outer.end(), stamped.size());
            // The other attribute stays, and only one tag attribute is left.
            EXPECT_EQ(stamped.find(other.substr(2)) != std::string::npos, !attributes.empty());
            std::string again = signature_with_trailer(stamped, trailer_for("NEW", ""));
            EXPECT_EQ(again.find(trailer), std::string::npos);
            EXPECT_EQ(last_trailer(again), trailer_for("NEW", ""));
            // Removing the tag gives the signature back, byte for byte.
            EXPECT_EQ(signature_with_trailer(again, ""), signature);
        }
    }
}

TEST(SignedStamp, ChecksumAndDirectoryOfAStampedHandMadeImage)
{
    for (bool plus : {false, true}) {
        ScratchDir dir;
        std::string in = dir.write("signed.exe", with_table(pe_image(plus), plus,
                                                            entry(authenticode_shape("")), 0));
        for (TrailerPlace place : {TrailerPlace::CERTIFICATE_TABLE, TrailerPlace::SIGNATURE}) {
            std::string out = dir / "out.exe";
            stamp_file(in, out, "CK", "", place);
            std::string image = file_content(out);
            SignedImage layout = read_signed_image(image);
            ASSERT_EQ(layout.kind, SignedImage::SIGNED);
            EXPECT_EQ(layout.problem, "");
            EXPECT_EQ(layout.table_at + layout.table_size, image.size());
            EXPECT_EQ(last_trailer(image), trailer_for("CK", ""));
            uint32_t field = static_cast<uint8_t>(image[layout.checksum_at]) |
                             static_cast<uint8_t>(image[layout.checksum_at + 1]) << 8 |
                             static_cast<uint32_t>(static_cast<uint8_t>(image[layout.checksum_at + 2])) << 16 |
                             static_cast<uint32_t>(static_cast<uint8_t>(image[layout.checksum_at + 3])) << 24;
            EXPECT_EQ(field, checksum_oracle(image, layout.checksum_at)) << plus;
            EXPECT_NE(field, 0u);
            std::string tag;
            EXPECT_TRUE(tag_of_file(out, &tag));
            EXPECT_EQ(tag, "CK");
        }
    }
}

}  // namespace

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "site/formats/encipher.h"
#include "site/formats/program_info.h"
#include "pe_image.h"
#include "scratch_dir.h"
#include "pe/stamp.h"
#include "pe/tag_reading.h"
#include "tag.h"
#include "cli/cli.h"

namespace {

// Stands in for the program: some bytes that do not end with a trailer.
const std::string PROGRAM = pe_image(false) + "end";

std::string tag_read(const std::string& path)
{
    std::string tag = "(unset)";
    if (!tag_of_file(path, &tag))
        return "(no tag)";
    return tag;
}

TEST(Stamp, TagRoundTrip)
{
    struct Case {
        std::string id, suffix, tag;
    };
    const Case cases[] = {
        {"ABCD", "", "ABCD"},                       // no suffix, no '_'
        {"ABCD", "eu", "ABCD_eu"},
        {"", "eu", "_eu"},                          // empty identifier
        {"ABCDEFGHIJK", "", "ABCDEFGHIJK"},         // all 11 bytes, no NUL
        {"X1", "12345678901234567890", "X1_12345678901234567890"},
    };
    ScratchDir dir;
    std::string in = dir.write("plain.exe", PROGRAM);
    for (const Case& c : cases) {
        // A name that would carry another tag: the trailer wins.
        std::string out = dir / "polvex999.exe";
        stamp_file(in, out, c.id, c.suffix);
        EXPECT_EQ(tag_read(out), c.tag) << c.id << "/" << c.suffix;
        std::string bytes = file_content(out);
        ASSERT_EQ(bytes.size(), PROGRAM.size() + TRAILER_SIZE);
        EXPECT_EQ(bytes.substr(0, PROGRAM.size()), PROGRAM);
        EXPECT_EQ(bytes.substr(bytes.size() - 4), "DLID");
    }
}

TEST(Stamp, ReplacesAnExistingTrailerInsteadOfAppending)
{
    ScratchDir dir;
    std::string in = dir.write("plain.exe", PROGRAM);
    std::string once = dir / "once.exe";
    std::string twice = dir / "twice.exe";
    stamp_file(in, once, "OLD1", "long-old-suffix");
    stamp_file(once, twice, "NEW2", "");
    EXPECT_EQ(file_content(twice).size(), PROGRAM.size() + TRAILER_SIZE);
    EXPECT_EQ(file_content(twice).substr(0, PROGRAM.size()), PROGRAM);
    EXPECT_EQ(tag_read(twice), "NEW2");
    EXPECT_EQ(length_without_trailer(twice), PROGRAM.size());

    // In place: the input is also the output.
    stamp_file(twice, twice, "NEW3", "x");
    EXPECT_EQ(file_content(twice).size(), PROGRAM.size() + TRAILER_SIZE);
    EXPECT_EQ(tag_read(twice), "NEW3_x");
}

TEST(Stamp, KeepsThePermissionsAndLeavesOtherNamesOfTheOutputAlone)
{
    ScratchDir dir;
    std::string in = dir.write("plain.exe", PROGRAM);
    const std::filesystem::perms runnable = std::filesystem::perms::owner_all |
                                            std::filesystem::perms::group_read |
                                            std::filesystem::perms::group_exec;
    std::filesystem::permissions(in, runnable);
    std::string out = dir.write("out.exe", "an older program");
    std::string other = dir / "other-name.exe";
    std::filesystem::create_hard_link(out, other);
    stamp_file(in, out, "ID", "");
    EXPECT_EQ(std::filesystem::status(out).permissions(), runnable);
    EXPECT_EQ(tag_read(out), "ID");
    EXPECT_EQ(file_content(other), "an older program");
}

TEST(Stamp, KeepsBytesThatOnlyLookLikeATrailer)
{
    ScratchDir dir;
    // The program needs more than the 35 bytes of the trailer before it
    // accepts one, and the marker with its case; otherwise these are part of
    // the program and must stay.
    const std::string lone = std::string(31, 'a') + "DLID";
    const std::string lower = PROGRAM + std::string(31, 'a') + "dlid";
    for (const std::string& content : {lone, lower}) {
        std::string in = dir.write("odd.exe", content);
        EXPECT_EQ(length_without_trailer(in), content.size());
        std::string out = dir / "odd-stamped.exe";
        if (content == lone) {  // 35 bytes cannot be a Windows program
            EXPECT_THROW(stamp_file(in, out, "ID", ""), ToolError);
            continue;
        }
        stamp_file(in, out, "ID", "");
        EXPECT_EQ(file_content(out).substr(0, content.size()), content);
        EXPECT_EQ(tag_read(out), "ID");
    }
}

TEST(Stamp, RefusesWhatTheTrailerCannotHold)
{
    ScratchDir dir;
    std::string in = dir.write("plain.exe", PROGRAM);
    std::string out = dir / "out.exe";
    EXPECT_THROW(stamp_file(in, out, "ABCDEFGHIJKL", ""), ToolError);  // 12 bytes
    EXPECT_THROW(stamp_file(in, out, "A", std::string(21, 's')), ToolError);
    EXPECT_FALSE(file_exists(out));  // nothing written on refusal
    EXPECT_THROW(stamp_file(dir / "missing.exe", out, "A", ""), ToolError);
    EXPECT_FALSE(file_exists(out));
}

TEST(Stamp, RefusesWhatIsNotAWindowsProgram)
{
    ScratchDir dir;
    std::string out = dir / "out.exe";
    std::string headless = PROGRAM;
    headless.replace(PE_AT, 2, "NE");  // MZ, but no PE header where it points
    for (const std::string& content : {std::string("just text"), std::string("MZ text"), headless}) {
        std::string in = dir.write("in.exe", content);
        try {
            stamp_file(in, out, "ID", "");
            ADD_FAILURE() << "stamped " << content.substr(0, 9);
        } catch (const ToolError& error) {
            EXPECT_EQ(std::string(error.what()), in + " is not a Windows program (no MZ and PE headers)");
        }
        EXPECT_FALSE(file_exists(out));
    }
    EXPECT_THROW(stamp_file(dir.path(), out, "ID", ""), ToolError);  // a folder
}

TEST(Stamp, IdentifiersAndSuffixesTheRegistryAndRepliesCarry)
{
    struct Case {
        std::string id, suffix;
        bool accepted;
    };
    const Case cases[] = {
        {"AB12", "", true},
        {"a-Z-9", "eu-west-2", true},
        {"ABCDEFGHIJK", std::string(20, 's'), true},
        {"", "eu", false},               // the tag would start with '_'
        {"ABCDEFGHIJKL", "", false},     // 12
        {"AB", std::string(21, 's'), false},
        {"A_B", "", false},              // '_' joins identifier and suffix
        {"A.B", "", false},              // '.' ends the tag a file name carries
        {"A B", "", false}, {"A|B", "", false}, {"A\\B", "", false}, {"A\tB", "", false},
        {"\xC3\xA9t\xC3\xA9", "", false},  // not ASCII
        {"AB", "e/u", false}, {"AB", "e%u", false},
    };
    for (const Case& c : cases) {
        bool accepted = true;
        try {
            check_tag_words(c.id, c.suffix);
        } catch (const ToolError&) {
            accepted = false;
        }
        EXPECT_EQ(accepted, c.accepted) << c.id << " / " << c.suffix;
    }
}

// The three stored texts, enciphered and NUL-padded as a compiler lays out
// arrays, in either order, among other data.
TEST(Info, FindsTheStoredTextsInEitherOrder)
{
    const std::string first = "https://dl.example.com/boot/first.txt";
    const std::string second = "http://mirror.example.net/b.txt";
    const std::string key = "SOFTWARE\\Vendor\\Tag";
    auto stored = stored_text;
    // Plain text that happens to look like a URL is not a stored text.
    std::string noise = std::string("\0http://plain.example/\0", 24) + std::string(40, '\x01') + '\0';
    std::string definition_order = stored(first, 32) + stored(second, 32) + stored(key, 4);
    std::string reverse_order = stored(key, 4) + stored(second, 32) + stored(first, 32);
    for (const std::string& data : {definition_order, reverse_order}) {
        StoredTexts texts = find_stored_texts(pe_image(false) + noise + data + noise);
        ASSERT_TRUE(texts.found);
        EXPECT_EQ(texts.bootstrap_1, first);
        EXPECT_EQ(texts.bootstrap_2, second);
        EXPECT_EQ(texts.tag_key, key);
    }
    // A build that checks the signer loads WinVerifyTrust and stores the
    // signer's name, then the issuer's, beyond the key: in UTF-8, of any length.
    const std::string loads = std::string("WinVerifyTrust\0", 15);
    const std::string signer = "Signé", issuer = "Root CA";
    for (bool reverse : {false, true}) {
        std::string data = definition_order + stored(signer, 4) + stored(issuer, 4);
        if (reverse)
            data = stored(issuer, 4) + stored(signer, 4) + reverse_order;
        StoredTexts texts = find_stored_texts(pe_image(false) + loads + noise + data + noise);
        EXPECT_TRUE(texts.checks_signer);
        EXPECT_EQ(texts.signer, signer) << reverse;
        EXPECT_EQ(texts.issuer, issuer) << reverse;
        // Without the function the same bytes are no signer's.
        EXPECT_FALSE(find_stored_texts(pe_image(false) + noise + data).checks_signer);
        EXPECT_EQ(find_stored_texts(pe_image(false) + noise + data).signer, "");
    }
    // Apart by more than alignment, or one missing: not the program's texts.
    EXPECT_FALSE(find_stored_texts(stored(first, 32) + std::string(100, '\0') + stored(second, 32) +
                                   stored(key, 4)).found);
    EXPECT_FALSE(find_stored_texts(stored(first, 32) + stored(key, 4)).found);
    EXPECT_FALSE(find_stored_texts(pe_image(false)).found);
}

TEST(Tag, FromTheFileNameWhenThereIsNoTrailer)
{
    struct Case {
        std::string name, tag;
    };
    const Case cases[] = {
        {"POLVEX123.exe", "123"},
        {"polvexABC", "ABC"},
        {"polvex.exe", ""},
        {"polvexA.b.c", "A"},
        {"setup.exe", ""},
        {"polv", ""},
    };
    ScratchDir dir;
    for (const Case& c : cases) {
        // In a folder whose own name would carry another tag: only the name
        // after the last separator counts.
        std::string path = dir.write("polvexFOLDER/" + c.name, PROGRAM);
        EXPECT_EQ(tag_read(path), c.tag) << c.name;
    }
}

TEST(Tag, NoTagForAPathThatEndsWithASeparator)
{
    ScratchDir dir;
    EXPECT_EQ(tag_read(dir.path() + "/"), "(no tag)");
}

}  // namespace

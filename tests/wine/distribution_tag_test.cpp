// The distribution tag: read from the running executable, recorded as the
// default value of the build's tag key (DLM_TAG_KEY) in HKEY_LOCAL_MACHINE.
// The key's name is stored enciphered and deciphered into a buffer at each
// record, so records may follow one another in one run; the *Process tests
// run a helper program, a run of its own each time. They hold the CTest
// lock of the program's keys and put the key back as it was.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "cipher.h"
#include "distribution_tag.h"
#include "limits.h"
#include "stored_texts.h"
#include "tag.h"
#include "test_settings.h"
#include "test_support.h"

namespace {

TEST(StoredTexts, DecipherToTheBuildSettings)
{
    const struct {
        const char* stored;
        const char* plain;
    } cases[] = {
        {stored_tag_key_path, POLVEX_TEST_TAG_KEY},
        {stored_bootstrap_url_1, POLVEX_TEST_BOOTSTRAP_URL_1},
        {stored_bootstrap_url_2, POLVEX_TEST_BOOTSTRAP_URL_2},
    };
    for (const auto& c : cases) {
        EXPECT_STRNE(c.stored, c.plain) << "stored in plain text";
        char plain[URL_BUFFER_SIZE];
        ASSERT_EQ(decipher_into(c.stored, plain, sizeof plain), 1);
        EXPECT_STREQ(plain, c.plain);
    }
}

TEST(DistributionTag, TestBinaryHasTheEmptyTag)
{
    // No trailer, and the name does not begin with "polvex".
    char tag[TAG_BUFFER_SIZE];
    memset(tag, 'x', sizeof tag);
    EXPECT_EQ(read_distribution_tag(tag, sizeof tag), 1);
    EXPECT_STREQ(tag, "");
}

class DistributionTagRecord : public ::testing::Test {
protected:
    DistributionTagRecord() : keep_tag(HKEY_LOCAL_MACHINE, POLVEX_TEST_TAG_KEY, "") {}
    RegistryValueGuard keep_tag;
};

TEST_F(DistributionTagRecord, TagIsTheDefaultValueWithItsTerminator)
{
    const char* tags[] = {"ACME01", "", "id12345678_suffix", "x"};
    for (const char* tag : tags) {
        SCOPED_TRACE(tag);
        // A run starts from a missing key.
        delete_key_tree(HKEY_LOCAL_MACHINE, POLVEX_TEST_TAG_KEY);
        EXPECT_EQ(record_distribution_tag(tag), 1);
        RawValue value = read_raw_value(HKEY_LOCAL_MACHINE, POLVEX_TEST_TAG_KEY, "");
        ASSERT_TRUE(value.found);
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(value.data, std::string(tag, strlen(tag) + 1));
    }
    // Each record deciphered a copy: the stored path is still enciphered.
    char path[TAG_KEY_PATH_SIZE];
    ASSERT_EQ(decipher_into(stored_tag_key_path, path, sizeof path), 1);
    EXPECT_STREQ(path, POLVEX_TEST_TAG_KEY);
}

TEST_F(DistributionTagRecord, RecordReplacesAnEarlierTag)
{
    ASSERT_TRUE(write_raw_value(HKEY_LOCAL_MACHINE, POLVEX_TEST_TAG_KEY, "", REG_SZ,
                                "an earlier, longer tag", 23));
    EXPECT_EQ(record_distribution_tag("new"), 1);
    EXPECT_EQ(read_raw_value(HKEY_LOCAL_MACHINE, POLVEX_TEST_TAG_KEY, "").data,
              std::string("new", 4));
}

struct ProbeCase {
    const char* file_name;
    const char* trailer_id;      // null: no trailer
    const char* trailer_suffix;
    const char* tag;
};

// The helper reads its own tag and records it, as the download window does
// when it opens; a copy under each name, with or without a trailer.
class DistributionTagProcess : public DistributionTagRecord {};

TEST_F(DistributionTagProcess, RunningCopyRecordsTheTagOfItsNameOrTrailer)
{
    const ProbeCase cases[] = {
        {"polvexACME01.exe", nullptr, nullptr, "ACME01"},
        {"POLVEXmixed.Case.exe", nullptr, nullptr, "mixed"},
        {"polvex.exe", nullptr, nullptr, ""},
        {"setup.exe", nullptr, nullptr, ""},
        {"setup.exe", "PARTNER0001", "spring_campaign", "PARTNER0001_spring_campaign"},
        {"polvexNAME.exe", "TRAILERID", "", "TRAILERID"},
    };
    ScratchFolder scratch(false);
    std::string probe;
    ASSERT_TRUE(read_file(exe_folder() + "tag_probe.exe", &probe));
    for (const ProbeCase& c : cases) {
        SCOPED_TRACE(c.file_name);
        std::string program = probe;
        if (c.trailer_id) {
            char trailer[TRAILER_SIZE];
            ASSERT_EQ(make_tag_trailer(c.trailer_id, c.trailer_suffix, trailer), 1);
            program.append(trailer, TRAILER_SIZE);
        }
        std::string path = scratch / c.file_name;
        ASSERT_TRUE(write_file(path, program));
        ASSERT_TRUE(write_raw_value(HKEY_LOCAL_MACHINE, POLVEX_TEST_TAG_KEY, "", REG_SZ,
                                    "stale", 6));
        EXPECT_EQ(run_program(path, "", scratch.path(), 30000), 11);
        RawValue value = read_raw_value(HKEY_LOCAL_MACHINE, POLVEX_TEST_TAG_KEY, "");
        EXPECT_EQ(value.data, std::string(c.tag, strlen(c.tag) + 1));
        DeleteFileA(path.c_str());
    }
}

}  // namespace

// The distribution tag: read from the running executable, recorded as the
// default value of the build's tag key (DLM_TAG_KEY) in HKEY_LOCAL_MACHINE,
// or in HKEY_CURRENT_USER when the machine's key refuses the write.
// The key's name is stored enciphered and deciphered into a buffer at each
// record, so records may follow one another in one run; the *Process tests
// run a helper program, a run of its own each time. They hold the CTest
// lock of the program's keys and put the key back as it was.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "cipher.h"
#include "distribution_tag.h"
#include "buffer_sizes.h"
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
    const wchar_t* folder;       // under the scratch folder; null: the scratch folder
    const char* file_name;
    const char* trailer_id;      // null: no trailer
    const char* trailer_suffix;
    const char* tag;
};

// Folders of a user whose names the ANSI code page (1252) cannot spell.
const wchar_t PROGRAMS_FOLDER[] =  // "Programs"
    L"\u041f\u0440\u043e\u0433\u0440\u0430\u043c\u043c\u044b";
const wchar_t DOWNLOADS_FOLDER[] =  // "Downloads"
    L"\u0417\u0430\u0433\u0440\u0443\u0437\u043a\u0438";

// The helper reads its own tag and records it, as the download window does
// when it opens; a copy under each name, with or without a trailer, also in
// folders that the ANSI calls spell with question marks: the trailer is
// read all the same, and the name's tag from the name's characters.
class DistributionTagProcess : public DistributionTagRecord {};

TEST_F(DistributionTagProcess, RunningCopyRecordsTheTagOfItsNameOrTrailer)
{
    const ProbeCase cases[] = {
        {nullptr, "polvexACME01.exe", nullptr, nullptr, "ACME01"},
        {nullptr, "polvexACME01 (1).exe", nullptr, nullptr, "ACME01"},  // a browser's second copy
        {nullptr, "POLVEXmixed.Case.exe", nullptr, nullptr, "mixed"},
        {nullptr, "polvex.exe", nullptr, nullptr, ""},
        {nullptr, "setup.exe", nullptr, nullptr, ""},
        {nullptr, "setup.exe", "PARTNER0001", "spring_campaign", "PARTNER0001_spring_campaign"},
        {nullptr, "polvexNAME.exe", "TRAILERID", "", "TRAILERID"},
        {PROGRAMS_FOLDER, "polvex.exe", "E2E1", "eu", "E2E1_eu"},
        {DOWNLOADS_FOLDER, "polvexNAME.exe", "PARTNER0001", "", "PARTNER0001"},
        {DOWNLOADS_FOLDER, "polvexNAME.exe", nullptr, nullptr, "NAME"},
    };
    ASSERT_TRUE(ansi_cannot_spell(PROGRAMS_FOLDER)) << "run with LC_ALL=de_DE.UTF-8";
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
        std::wstring folder = widen(scratch.path());
        if (c.folder) {
            folder += std::wstring(L"\\") + c.folder;
            CreateDirectoryW(folder.c_str(), nullptr);
        }
        std::wstring path = folder + L"\\" + widen(c.file_name);
        ASSERT_TRUE(write_file(path, program));
        ASSERT_TRUE(write_raw_value(HKEY_LOCAL_MACHINE, POLVEX_TEST_TAG_KEY, "", REG_SZ,
                                    "stale", 6));
        EXPECT_EQ(run_program(path, L"", folder, 30000), 11);
        RawValue value = read_raw_value(HKEY_LOCAL_MACHINE, POLVEX_TEST_TAG_KEY, "");
        EXPECT_EQ(value.data, std::string(c.tag, strlen(c.tag) + 1));
        DeleteFileW(path.c_str());
    }
}

// A standard account may not write under HKEY_LOCAL_MACHINE. Wine enforces
// no key permissions, and creates keys even under a handle opened for
// reading only; what it does refuse is a lasting key under a volatile one
// (ERROR_CHILD_MUST_BE_VOLATILE). A volatile key of the test's own stands
// for the machine's root, so that the real registry refuses the create.
class DistributionTagUserRecord : public DistributionTagRecord {
protected:
    DistributionTagUserRecord() : keep_user_tag(HKEY_CURRENT_USER, POLVEX_TEST_TAG_KEY, "") {}
    void SetUp() override
    {
        delete_key_tree(HKEY_LOCAL_MACHINE, POLVEX_TEST_TAG_KEY);
        delete_key_tree(HKEY_CURRENT_USER, POLVEX_TEST_TAG_KEY);
    }
    RegistryValueGuard keep_user_tag;
};

TEST_F(DistributionTagUserRecord, RefusedMachineKeyRecordsTheTagUnderTheUser)
{
    const std::string refusing_path =
        "SOFTWARE\\PolvexWinTests-refusing-" + std::to_string(GetCurrentProcessId());
    HKEY refusing = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, refusing_path.c_str(), 0, nullptr,
                              REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &refusing, nullptr),
              ERROR_SUCCESS);
    HKEY created = nullptr;
    EXPECT_EQ(RegCreateKeyExA(refusing, POLVEX_TEST_TAG_KEY, 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &created, nullptr),
              ERROR_CHILD_MUST_BE_VOLATILE);

    const char* tags[] = {"ACME01", ""};
    for (const char* tag : tags) {
        SCOPED_TRACE(tag);
        EXPECT_EQ(record_distribution_tag(tag, refusing), 1);
        EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, POLVEX_TEST_TAG_KEY));
        RawValue value = read_raw_value(HKEY_CURRENT_USER, POLVEX_TEST_TAG_KEY, "");
        ASSERT_TRUE(value.found);
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(value.data, std::string(tag, strlen(tag) + 1));
    }
    RegCloseKey(refusing);
    delete_key_tree(HKEY_LOCAL_MACHINE, refusing_path.c_str());
}

TEST_F(DistributionTagUserRecord, WritableMachineKeyLeavesTheUserAlone)
{
    EXPECT_EQ(record_distribution_tag("ACME01"), 1);
    EXPECT_EQ(read_raw_value(HKEY_LOCAL_MACHINE, POLVEX_TEST_TAG_KEY, "").data,
              std::string("ACME01", 7));
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, POLVEX_TEST_TAG_KEY));
}

}  // namespace

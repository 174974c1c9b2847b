// RegistryKey against the wine registry, under a key of each test's own in
// HKEY_LOCAL_MACHINE (tests may run in parallel).
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "registry_key.h"
#include "test_support.h"

namespace {

const char TESTS_ROOT[] = "SOFTWARE\\PolvexWinTests";
const DWORD DEST_SIZE = 1040;  // the uninstall command's buffer
const size_t GUARD_SIZE = 64;
const char FILL = 'x';
const char GUARD = 'G';
// For the tests that read back through the key they wrote with.
const REGSAM READ_WRITE = KEY_SET_VALUE | KEY_QUERY_VALUE;

// The handle a RegistryKey holds: the class holds nothing else.
HKEY held_handle(const RegistryKey& key)
{
    static_assert(sizeof(RegistryKey) == sizeof(HKEY), "RegistryKey holds one handle");
    HKEY handle;
    memcpy(&handle, &key, sizeof handle);
    return handle;
}

bool handle_is_open(HKEY handle)
{
    DWORD flags = 0;
    return GetHandleInformation(reinterpret_cast<HANDLE>(handle), &flags) != 0;
}

class RegistryKeyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string name = test_case_prefix();
        name = name.substr(1, name.size() - 2);
        path = std::string(TESTS_ROOT) + "\\" + name + "-" + std::to_string(GetCurrentProcessId());
        delete_key_tree(HKEY_LOCAL_MACHINE, path.c_str());
    }
    void TearDown() override
    {
        delete_key_tree(HKEY_LOCAL_MACHINE, path.c_str());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, TESTS_ROOT);  // only when no other test uses it
        EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, path.c_str()));
    }

    // Stores raw bytes as a REG_SZ value, with or without a terminator.
    void store(const char* name, const std::string& bytes)
    {
        ASSERT_TRUE(write_raw_value(HKEY_LOCAL_MACHINE, path.c_str(), name, REG_SZ, bytes.data(),
                                    static_cast<DWORD>(bytes.size())));
    }

    std::string path;
};

// A destination of DEST_SIZE bytes with guard bytes after it.
struct Destination {
    std::vector<char> bytes = std::vector<char>(DEST_SIZE + GUARD_SIZE, GUARD);
    Destination() { memset(bytes.data(), FILL, DEST_SIZE); }
    char* data() { return bytes.data(); }
    bool guard_intact() const
    {
        for (size_t i = DEST_SIZE; i < bytes.size(); ++i)
            if (bytes[i] != GUARD)
                return false;
        return true;
    }
};

TEST_F(RegistryKeyTest, CreateMakesTheWholePathAndOpenFindsIt)
{
    std::string nested = path + "\\one\\two";
    RegistryKey key;
    EXPECT_EQ(key.open(HKEY_LOCAL_MACHINE, nested.c_str(), KEY_QUERY_VALUE), 0);
    EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, nested.c_str()));
    EXPECT_EQ(key.create(HKEY_LOCAL_MACHINE, nested.c_str(), KEY_SET_VALUE), 1);
    EXPECT_TRUE(key_exists(HKEY_LOCAL_MACHINE, nested.c_str()));
    key.close();
    EXPECT_EQ(key.open(HKEY_LOCAL_MACHINE, nested.c_str(), KEY_QUERY_VALUE), 1);
}

TEST_F(RegistryKeyTest, SetStringStoresTheTextWithItsTerminator)
{
    const char* texts[] = {"", "x", "C:\\Program Files\\Polvex\\uninst.exe /S",
                           "tag_with_suffix"};
    RegistryKey key;
    ASSERT_EQ(key.create(HKEY_LOCAL_MACHINE, path.c_str(), KEY_SET_VALUE), 1);
    for (const char* text : texts) {
        EXPECT_EQ(key.set_string(text, "Value"), 1) << text;
        RawValue raw = read_raw_value(HKEY_LOCAL_MACHINE, path.c_str(), "Value");
        ASSERT_TRUE(raw.found);
        EXPECT_EQ(raw.type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(raw.data, std::string(text, strlen(text) + 1)) << text;
    }
    // The default value has the empty name.
    EXPECT_EQ(key.set_string("default", ""), 1);
    EXPECT_EQ(read_raw_value(HKEY_LOCAL_MACHINE, path.c_str(), "").data,
              std::string("default", 8));
}

TEST_F(RegistryKeyTest, QueryStringReadsWhatSetStringStored)
{
    RegistryKey key;
    ASSERT_EQ(key.create(HKEY_LOCAL_MACHINE, path.c_str(), KEY_SET_VALUE), 1);
    ASSERT_EQ(key.set_string("\"C:\\Polvex\\uninst.exe\" /S", "UninstallString"), 1);
    RegistryKey reader;
    ASSERT_EQ(reader.open(HKEY_LOCAL_MACHINE, path.c_str(), KEY_QUERY_VALUE), 1);
    Destination dest;
    EXPECT_EQ(reader.query_string(dest.data(), DEST_SIZE, "UninstallString"), 1);
    EXPECT_STREQ(dest.data(), "\"C:\\Polvex\\uninst.exe\" /S");
    EXPECT_TRUE(dest.guard_intact());
    // Opened for reading only, as the uninstall entry is: it cannot be written.
    EXPECT_EQ(reader.set_string("changed", "UninstallString"), 0);
}

TEST_F(RegistryKeyTest, MissingValueGivesZeroAndEmptyDestination)
{
    RegistryKey key;
    ASSERT_EQ(key.create(HKEY_LOCAL_MACHINE, path.c_str(), READ_WRITE), 1);
    Destination dest;
    EXPECT_EQ(key.query_string(dest.data(), DEST_SIZE, "Nothing"), 0);
    EXPECT_EQ(dest.data()[0], '\0');
    EXPECT_TRUE(dest.guard_intact());
}

struct StoredCase {
    size_t text_length;  // bytes of text, no zero among them
    bool terminated;     // stored with its terminator
    int result;
};

TEST_F(RegistryKeyTest, ValueIsReadTerminatedOrRefusedWhenItDoesNotFit)
{
    // Values around the size of the destination, with and without their
    // terminator: what comes back is always terminated inside the
    // destination, or refused as empty.
    const StoredCase cases[] = {
        {0, true, 1},
        {5, true, 1},
        {5, false, 1},
        {DEST_SIZE - 2, false, 1},
        {DEST_SIZE - 1, true, 1},
        {DEST_SIZE - 1, false, 1},
        {DEST_SIZE, true, 0},
        {DEST_SIZE, false, 0},
        {2000, true, 0},
        {2000, false, 0},
    };
    RegistryKey key;
    ASSERT_EQ(key.create(HKEY_LOCAL_MACHINE, path.c_str(), READ_WRITE), 1);
    for (const StoredCase& c : cases) {
        std::string text(c.text_length, 'a');
        for (size_t i = 0; i < text.size(); ++i)
            text[i] = static_cast<char>('a' + i % 26);
        std::string stored = c.terminated ? text + '\0' : text;
        store("V", stored);
        Destination dest;
        SCOPED_TRACE(testing::Message() << c.text_length << (c.terminated ? " with" : " without")
                                        << " terminator");
        EXPECT_EQ(key.query_string(dest.data(), DEST_SIZE, "V"), c.result);
        if (c.result) {
            EXPECT_EQ(std::string(dest.data()), text);
        } else {
            EXPECT_EQ(dest.data()[0], '\0');
        }
        EXPECT_TRUE(dest.guard_intact());
    }
}

TEST_F(RegistryKeyTest, WideValueIsReadAsUtf8OrRefusedWhenItsUtf8DoesNotFit)
{
    // Cyrillic letters take two bytes each in UTF-8, whatever the code page.
    struct {
        size_t letters;
        int result;
    } cases[] = {{1, 1}, {(DEST_SIZE - 1) / 2, 1}, {(DEST_SIZE - 1) / 2 + 1, 0}, {700, 0}};
    RegistryKey key;
    ASSERT_EQ(key.create(HKEY_LOCAL_MACHINE, path.c_str(), READ_WRITE), 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.letters);
        std::wstring text(c.letters, L'\u0416');
        ASSERT_TRUE(write_wide_string(HKEY_LOCAL_MACHINE, path.c_str(), L"V", text));
        Destination dest;
        EXPECT_EQ(key.query_string(dest.data(), DEST_SIZE, "V"), c.result);
        std::string expected;
        for (size_t i = 0; c.result && i < c.letters; ++i)
            expected += "\xd0\x96";  // U+0416 in UTF-8
        EXPECT_EQ(std::string(dest.data()), expected);
        EXPECT_TRUE(dest.guard_intact());
    }
}

TEST_F(RegistryKeyTest, ZeroSizedDestinationIsNeverWritten)
{
    RegistryKey key;
    ASSERT_EQ(key.create(HKEY_LOCAL_MACHINE, path.c_str(), READ_WRITE), 1);
    store("V", std::string("abc", 4));
    char dest[4] = {FILL, FILL, FILL, FILL};
    EXPECT_EQ(key.query_string(dest, 0, "V"), 0);
    EXPECT_EQ(dest[0], FILL);
}

TEST_F(RegistryKeyTest, KeyNeverOpenedReadsNothingAndWritesNothing)
{
    RegistryKey key;
    Destination dest;
    EXPECT_EQ(key.query_string(dest.data(), DEST_SIZE, "V"), 0);
    EXPECT_EQ(dest.data()[0], '\0');
    EXPECT_EQ(key.set_string("text", "V"), 0);
}

TEST_F(RegistryKeyTest, CloseReleasesTheHandleAndIsSafeTwice)
{
    RegistryKey key;
    ASSERT_EQ(key.create(HKEY_LOCAL_MACHINE, path.c_str(), KEY_SET_VALUE), 1);
    HKEY handle = held_handle(key);
    ASSERT_TRUE(handle_is_open(handle));
    key.close();
    EXPECT_FALSE(handle_is_open(handle));
    EXPECT_EQ(key.set_string("after close", "V"), 0);

    // A handle opened meanwhile may get the same number: a second close
    // must not close it.
    HKEY other;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &other), ERROR_SUCCESS);
    key.close();
    EXPECT_TRUE(handle_is_open(other));
    RegCloseKey(other);
}

TEST_F(RegistryKeyTest, OpeningAgainClosesTheFormerKey)
{
    RegistryKey key;
    ASSERT_EQ(key.create(HKEY_LOCAL_MACHINE, path.c_str(), KEY_SET_VALUE), 1);
    HKEY first = held_handle(key);
    ASSERT_EQ(key.open(HKEY_LOCAL_MACHINE, path.c_str(), KEY_QUERY_VALUE), 1);
    EXPECT_FALSE(handle_is_open(first) && held_handle(key) != first);
    // A failed open leaves no key open either.
    HKEY second = held_handle(key);
    EXPECT_EQ(key.open(HKEY_LOCAL_MACHINE, (path + "\\missing").c_str(), KEY_QUERY_VALUE), 0);
    EXPECT_FALSE(handle_is_open(second) && held_handle(key) != second);
    EXPECT_EQ(key.set_string("nowhere", "V"), 0);
}

TEST_F(RegistryKeyTest, DestructorClosesTheKey)
{
    HKEY handle;
    {
        RegistryKey key;
        ASSERT_EQ(key.create(HKEY_LOCAL_MACHINE, path.c_str(), KEY_SET_VALUE), 1);
        handle = held_handle(key);
        ASSERT_TRUE(handle_is_open(handle));
    }
    EXPECT_FALSE(handle_is_open(handle));
}

}  // namespace

// retire_previous_installation with real folders and the real uninstall key
// in HKEY_LOCAL_MACHINE (the key is the program's own: these tests hold the
// CTest resource lock of the program's keys and put the key back as it was).
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "launch.h"
#include "buffer_sizes.h"
#include "test_support.h"
#include "uninstall.h"

namespace {

class RetirePreviousInstallation : public ::testing::Test {
protected:
    RetirePreviousInstallation()
        : keep_key(HKEY_LOCAL_MACHINE, UNINSTALL_KEY_PATH, UNINSTALL_VALUE_NAME), scratch(false)
    {
    }
    void SetUp() override
    {
        delete_key_tree(HKEY_LOCAL_MACHINE, UNINSTALL_KEY_PATH);
        app = scratch / "App";
        ASSERT_TRUE(CreateDirectoryA(app.c_str(), nullptr));
        ASSERT_TRUE(write_file(app + "\\uninst.exe", "uninstaller"));
    }

    void store_command(const std::string& command)
    {
        ASSERT_TRUE(write_raw_value(HKEY_LOCAL_MACHINE, UNINSTALL_KEY_PATH, UNINSTALL_VALUE_NAME,
                                    REG_SZ, command.c_str(),
                                    static_cast<DWORD>(command.size() + 1)));
    }

    std::string with_suffixes(int count) const
    {
        std::string name = app;
        for (int i = 0; i < count; ++i)
            name += ".old";
        return name;
    }

    RegistryValueGuard keep_key;
    ScratchFolder scratch;
    std::string app;
};

struct TakenCase {
    int taken;     // App.old, App.old.old, ... already there
    int expected;  // suffixes of the new name; 0: nothing renamed
};

TEST_F(RetirePreviousInstallation, FolderGetsTheFirstFreeOldName)
{
    const TakenCase cases[] = {{0, 1}, {1, 2}, {2, 3}, {24, 25}, {25, 0}};
    store_command("\"" + app + "\\uninst.exe\" /S");
    for (const TakenCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.taken << " names taken");
        for (int i = 1; i <= c.taken; ++i)
            ASSERT_TRUE(CreateDirectoryA(with_suffixes(i).c_str(), nullptr));
        retire_previous_installation();
        if (c.expected) {
            EXPECT_FALSE(exists(app));
            EXPECT_TRUE(exists(with_suffixes(c.expected) + "\\uninst.exe"));
            // Put the folder back for the next case.
            ASSERT_TRUE(MoveFileA(with_suffixes(c.expected).c_str(), app.c_str()));
        } else {
            EXPECT_TRUE(exists(app + "\\uninst.exe"));
            EXPECT_FALSE(exists(with_suffixes(26)));
        }
        for (int i = c.taken; i >= 1; --i) {
            EXPECT_FALSE(exists(with_suffixes(i) + "\\uninst.exe")) << "taken name " << i;
            ASSERT_TRUE(RemoveDirectoryA(with_suffixes(i).c_str()));
        }
    }
}

TEST_F(RetirePreviousInstallation, FolderIsTakenFromTheQuotedPartUpToTheLastBackslash)
{
    // Commands as an uninstaller may have stored them.
    ASSERT_TRUE(CreateDirectoryA((app + "\\bin").c_str(), nullptr));
    const struct {
        std::string command;
        std::string retired;  // the folder that becomes .old
    } cases[] = {
        {"\"" + app + "\\uninst.exe\"", app},
        {"\"" + app + "\\bin\\uninst.exe\" /S /D=x", app + "\\bin"},
        {"run \"" + app + "\\uninst.exe\"", app},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        store_command(c.command);
        retire_previous_installation();
        EXPECT_FALSE(exists(c.retired));
        EXPECT_TRUE(is_folder(c.retired + ".old"));
        ASSERT_TRUE(MoveFileA((c.retired + ".old").c_str(), c.retired.c_str()));
    }
}

TEST_F(RetirePreviousInstallation, NothingMovesWithoutAUsableCommand)
{
    const std::string unquoted = app + "\\uninst.exe /S";
    const char* commands[] = {"", unquoted.c_str(), "\"uninst.exe\" /S"};
    for (const char* command : commands) {
        SCOPED_TRACE(command);
        store_command(command);
        retire_previous_installation();
        EXPECT_TRUE(exists(app + "\\uninst.exe"));
        EXPECT_FALSE(exists(app + ".old"));
    }
}

TEST_F(RetirePreviousInstallation, NothingMovesWithoutTheKeyOrTheValue)
{
    ASSERT_FALSE(key_exists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY_PATH));
    retire_previous_installation();
    EXPECT_TRUE(exists(app + "\\uninst.exe"));

    // The key with another value only.
    std::string command = "\"" + app + "\\uninst.exe\" /S";
    ASSERT_TRUE(write_raw_value(HKEY_LOCAL_MACHINE, UNINSTALL_KEY_PATH, "DisplayName", REG_SZ,
                                command.c_str(), static_cast<DWORD>(command.size() + 1)));
    retire_previous_installation();
    EXPECT_TRUE(exists(app + "\\uninst.exe"));
    EXPECT_FALSE(exists(app + ".old"));
}

TEST_F(RetirePreviousInstallation, CommandTooLongForTheBufferMovesNothing)
{
    // The stored command must fit COMMAND_BUFFER_SIZE with its terminator.
    std::string command = "\"" + app + "\\uninst.exe\" /S ";
    command.append(COMMAND_BUFFER_SIZE - command.size(), 'p');
    ASSERT_EQ(command.size(), COMMAND_BUFFER_SIZE);
    store_command(command);
    retire_previous_installation();
    EXPECT_TRUE(exists(app + "\\uninst.exe"));
    EXPECT_FALSE(exists(app + ".old"));

    command.pop_back();  // now it fits
    store_command(command);
    retire_previous_installation();
    EXPECT_TRUE(exists(app + ".old\\uninst.exe"));
}

TEST_F(RetirePreviousInstallation, FolderNamedOutsideTheCodePageMovesToo)
{
    // A previous installation in a folder named in Cyrillic ("Programs",
    // "Polvex"), which the ANSI calls spell with question marks; the
    // uninstall entry stored in wide characters, as an installer stores it.
    const std::wstring programs = widen(scratch.path()) +
                                  L"\\\u041f\u0440\u043e\u0433\u0440\u0430\u043c\u043c\u044b";
    const std::wstring folder = programs + L"\\\u041f\u043e\u043b\u0432\u0435\u043a\u0441";
    ASSERT_TRUE(ansi_cannot_spell(folder)) << "run with LC_ALL=de_DE.UTF-8";
    ASSERT_TRUE(CreateDirectoryW(programs.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((folder + L".old").c_str(), nullptr));
    ASSERT_TRUE(write_file(folder + L"\\uninst.exe", "uninstaller"));
    const std::wstring command = L"\"" + folder + L"\\uninst.exe\" /S";
    ASSERT_TRUE(write_wide_string(HKEY_LOCAL_MACHINE, UNINSTALL_KEY_PATH, L"UninstallString",
                                  command));

    retire_previous_installation();
    EXPECT_EQ(GetFileAttributesW(folder.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesW((folder + L".old.old\\uninst.exe").c_str()),
              INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesW((folder + L".old").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace

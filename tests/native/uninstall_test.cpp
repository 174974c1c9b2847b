#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "uninstall.h"

namespace {

TEST(Uninstall, FolderOfTheStoredCommand)
{
    struct Case {
        const char* command;
        const char* folder;  // null: no folder
    } cases[] = {
        {"\"C:\\Prog\\App\\uninst.exe\" /S", "C:\\Prog\\App"},
        {"C:\\Windows\\unins.exe /x \"C:\\Prog\\App\\setup.log\"", "C:\\Prog\\App"},
        {"\"C:\\A\\u.exe\" /log=C:\\tmp\\x", "C:\\A\\u.exe\" /log=C:\\tmp"},
        {"\"C:\\u.exe\"", "C:"},
        {"uninst.exe", nullptr},
        {"C:\\Prog\\uninst.exe /S", nullptr},
        {"\"uninst.exe\" /S", nullptr},
        {"\"\\\"", nullptr},
        {"\"", nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        std::string command = c.command;
        char* folder = folder_of_uninstall_command(&command[0]);
        if (!c.folder) {
            EXPECT_EQ(folder, nullptr);
            EXPECT_EQ(command, c.command) << "left as it was";
            continue;
        }
        ASSERT_NE(folder, nullptr);
        EXPECT_STREQ(folder, c.folder);
        EXPECT_GE(folder, &command[0]);
        EXPECT_LT(folder, &command[0] + command.size());
    }
}

// Renames fail when the new name is taken, as MoveFile does.
struct FakeRenamer {
    std::string folder;
    std::set<std::string> taken;
    std::vector<std::string> tried;

    static int rename(void* context, const char* from, const char* to)
    {
        FakeRenamer& self = *static_cast<FakeRenamer*>(context);
        EXPECT_EQ(from, self.folder);
        self.tried.push_back(to);
        return self.taken.count(to) ? 0 : 1;
    }
};

TEST(Uninstall, RetiredFolderGetsTheFirstFreeSuffix)
{
    const std::string short_folder = "C:\\Prog\\App";
    const std::string long_folder = "C:\\" + std::string(1036, 'p');
    ASSERT_EQ(long_folder.size(), 1039u);
    struct Case {
        std::string folder;
        int taken;  // names with 1 .. taken suffixes already exist
        int result;
    } cases[] = {
        {short_folder, 0, 1}, {short_folder, 1, 2},  {short_folder, 24, 25},
        {short_folder, 25, 0}, {long_folder, 24, 25}, {long_folder, 25, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.folder.size() << " chars, " << c.taken << " taken");
        FakeRenamer renamer;
        renamer.folder = c.folder;
        auto with_suffixes = [&c](int k) {
            std::string name = c.folder;
            while (k-- > 0)
                name += ".old";
            return name;
        };
        for (int k = 1; k <= c.taken; ++k)
            renamer.taken.insert(with_suffixes(k));
        EXPECT_EQ(retire_folder(c.folder.c_str(), &FakeRenamer::rename, &renamer), c.result);
        std::vector<std::string> expected;
        for (int k = 1; k <= c.taken + 1 && k <= 25; ++k)
            expected.push_back(with_suffixes(k));
        EXPECT_EQ(renamer.tried, expected);
    }
}

}  // namespace

// read_file_version against libraries with known version resources, built
// beside the test binary.
#include <gtest/gtest.h>

#include <string>

#include "prepare_download.h"
#include "system_libraries.h"
#include "test_support.h"

namespace {

const int UNTOUCHED = -7;

struct VersionCase {
    const char* file;
    int result;
    int major;
    int minor;
};

TEST(ReadFileVersion, ReadsMajorAndMinorOrLeavesThemAlone)
{
    const VersionCase cases[] = {
        {"version_probe_4_70.dll", 1, 4, 70},          // FILEVERSION 4,70,3000,1
        {"version_probe_max.dll", 1, 65535, 65534},    // FILEVERSION 65535,65534,7,9
        {"unversioned_probe.dll", 0, UNTOUCHED, UNTOUCHED},
        {"no_such_library.dll", 0, UNTOUCHED, UNTOUCHED},
    };
    for (const VersionCase& c : cases) {
        std::string path = exe_folder() + c.file;
        int major = UNTOUCHED;
        int minor = UNTOUCHED;
        EXPECT_EQ(read_file_version(nullptr, path.c_str(), &major, &minor), c.result) << c.file;
        EXPECT_EQ(major, c.major) << c.file;
        EXPECT_EQ(minor, c.minor) << c.file;
    }
}

TEST(ReadFileVersion, MissingFolderGivesZero)
{
    ScratchFolder scratch(false);
    std::string path = scratch / "gone\\version_probe_4_70.dll";
    int major = UNTOUCHED;
    int minor = UNTOUCHED;
    EXPECT_EQ(read_file_version(nullptr, path.c_str(), &major, &minor), 0);
    EXPECT_EQ(major, UNTOUCHED);
    EXPECT_EQ(minor, UNTOUCHED);
}

TEST(ReadFileVersion, WithoutVersionDllNoVersionIsRead)
{
    // Where version.dll cannot be had, every library reads as having no
    // version, as when its resource cannot be read.
    std::string path = exe_folder() + "version_probe_4_70.dll";
    int major = UNTOUCHED;
    int minor = UNTOUCHED;
    {
        ScratchFolder empty(false);
        SystemLibrariesFrom none(empty.path());
        ASSERT_FALSE(system_library_ready(SYSTEM_VERSION));
        EXPECT_EQ(read_file_version(nullptr, path.c_str(), &major, &minor), 0);
        EXPECT_EQ(major, UNTOUCHED);
        EXPECT_EQ(minor, UNTOUCHED);
    }
    ASSERT_TRUE(system_library_ready(SYSTEM_VERSION));
    EXPECT_EQ(read_file_version(nullptr, path.c_str(), &major, &minor), 1);
    EXPECT_EQ(major, 4);
    EXPECT_EQ(minor, 70);
}

TEST(ReadFileVersion, CopyUnderAnotherNameKeepsItsVersion)
{
    // The survey asks for system libraries by their names; the version
    // comes from the file, not its name. Wine differs for names of the
    // libraries it has built in: a copy named msvcrt.dll, even by its full
    // path in another folder, reads as wine's own msvcrt.dll (7.0). Wine has
    // no mfc42.dll of its own.
    ScratchFolder scratch(false);
    std::string copy = scratch / "mfc42.dll";
    ASSERT_TRUE(CopyFileA((exe_folder() + "version_probe_4_70.dll").c_str(), copy.c_str(), FALSE));
    int major = UNTOUCHED;
    int minor = UNTOUCHED;
    EXPECT_EQ(read_file_version(nullptr, copy.c_str(), &major, &minor), 1);
    EXPECT_EQ(major, 4);
    EXPECT_EQ(minor, 70);
}

}  // namespace

// Where output files go when the output folder is shared with others: a
// name someone planted is never opened, a link is never followed.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "scratch_dir.h"
#include "site/build/site_build.h"
#include "site/config/config_file.h"
#include "site/config/site_config.h"
#include "cli/cli.h"
#include "files/descriptor.h"
#include "files/output.h"

namespace {

std::string symlink_target(const std::string& path)
{
    char target[4096] = "";
    ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

std::string thrown_by(const std::function<void()>& action)
{
    try {
        action();
    } catch (const ToolError& error) {
        return error.what();
    }
    return "nothing thrown";
}

TEST(OutputFile, TemporaryNamesTakenByOthersAreLeftAlone)
{
    ScratchDir dir;
    std::string victim = dir.write("victim", "private");
    std::string out = dir / "out";
    ASSERT_EQ(symlink(victim.c_str(), (out + ".tmp-a").c_str()), 0);
    dir.write("out.tmp-b", "someone's file");
    const char* suffixes[] = {"a", "b", "c"};
    size_t next = 0;
    std::string name;
    int fd = create_beside(out, &name, [&] { return std::string(suffixes[next++]); }, 0600);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(write(fd, "new", 3), 3);
    close(fd);
    EXPECT_EQ(name, out + ".tmp-c");
    EXPECT_EQ(file_content(name), "new");
    EXPECT_EQ(file_content(victim), "private");
    EXPECT_EQ(file_content(out + ".tmp-b"), "someone's file");

    // Every name it draws taken: it gives up rather than open one.
    std::string why = thrown_by([&] { create_beside(out, &name, [] { return "a"; }, 0600); });
    EXPECT_NE(why.find("names taken"), std::string::npos) << why;
    EXPECT_EQ(file_content(victim), "private");
}

TEST(OutputFile, DevicesAndPipesAreWrittenThroughLinksRefused)
{
    ScratchDir dir;
    std::string victim = dir.write("victim", "private");
    std::string link = dir / "link.exe";
    ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
    std::string why = thrown_by([&] { write_output(link, "new"); });
    EXPECT_EQ(why.find(link + " is a symbolic link"), 0u) << why;
    EXPECT_EQ(symlink_target(link), victim);
    EXPECT_EQ(file_content(victim), "private");

    why = thrown_by([&] { write_output(dir.path(), "new"); });
    EXPECT_EQ(why, dir.path() + " is a folder");

    // A full device reports its error and stays a device.
    why = thrown_by([] { write_output("/dev/full", "new"); });
    EXPECT_EQ(why, "cannot write /dev/full: No space left on device");
    struct stat info;
    ASSERT_EQ(stat("/dev/full", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));

    std::string pipe = dir / "pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    std::string read_back;
    std::thread reader([&] { read_back = file_content(pipe); });
    write_output(pipe, "through the pipe");
    reader.join();
    EXPECT_EQ(read_back, "through the pipe");
    ASSERT_EQ(lstat(pipe.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

TEST(OutputFile, SiteBuildRefusesALinkPlantedInItsFolder)
{
    // A manifest, an installer that would be a hard link, and a reply page.
    for (const char* planted : {"dl/p_Vandel_reg_ENG.ENG", "dl/p_Vandel_reg_FRE.exe",
                                "dlm/primary.txt"}) {
        ScratchDir dir;
        std::string victim = dir.write("victim", "private");
        dir.write("in/setup.exe", "MZ installer");
        SiteConfig config = parse_site_config(
            "base http://h/\ndirectory dl/\ninstaller setup.exe\nreply dlm/primary.txt direct\n",
            "site.conf", dir / "in");
        build_site(config, dir / "site");
        std::string path = dir / "site" + "/" + planted;
        ASSERT_EQ(unlink(path.c_str()), 0);
        ASSERT_EQ(symlink(victim.c_str(), path.c_str()), 0);
        std::string why = thrown_by([&] { build_site(config, dir / "site"); });
        EXPECT_EQ(why.find(path + " is a symbolic link"), 0u) << why;
        EXPECT_EQ(symlink_target(path), victim) << planted;
        EXPECT_EQ(file_content(victim), "private") << planted;
    }
}

// An installer checked for its signer lies in a temporary file of its own,
// in $TMPDIR, for as long as the check needs it and not a moment longer.
TEST(TemporaryFile, InTheTemporaryFolderUntilItGoes)
{
    ScratchDir dir;
    const char* before = getenv("TMPDIR");
    std::string saved = before ? before : "";
    setenv("TMPDIR", dir.path().c_str(), 1);
    std::string path;
    {
        TemporaryFile first, second;
        path = first.path();
        EXPECT_NE(first.path(), second.path());
        EXPECT_EQ(path.compare(0, dir.path().size() + 1, dir.path() + "/"), 0) << path;
        EXPECT_EQ(::write(first.fd(), "MZ", 2), 2);
        EXPECT_EQ(file_content(path), "MZ");
    }
    EXPECT_FALSE(file_exists(path));
    if (before)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
}

}  // namespace

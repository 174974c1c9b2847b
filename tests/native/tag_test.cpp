#include <gtest/gtest.h>

#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "buffer_sizes.h"
#include "tag.h"

namespace {

// Files as byte strings keyed by path, read as _open, _lseek(SEEK_END) and
// _read read them.
struct FakeFiles {
    std::map<std::string, std::string> files;
    std::vector<std::pair<const std::string*, int64_t>> opened;  // data, position
    int open_now = 0;

    TagFileOps ops() { return TagFileOps{&open, &seek_end, &read, &close, this}; }

    static FakeFiles& of(void* context) { return *static_cast<FakeFiles*>(context); }
    static int open(void* context, const char* path)
    {
        FakeFiles& self = of(context);
        auto it = self.files.find(path);
        if (it == self.files.end())
            return -1;
        ++self.open_now;
        self.opened.push_back({&it->second, 0});
        return static_cast<int>(self.opened.size()) - 1;
    }
    static int64_t seek_end(void* context, int fd, int offset)
    {
        auto& f = of(context).opened.at(fd);
        int64_t pos = static_cast<int64_t>(f.first->size()) + offset;
        return pos < 0 ? -1 : (f.second = pos);
    }
    static int read(void* context, int fd, char* buffer, int size)
    {
        auto& f = of(context).opened.at(fd);
        int n = static_cast<int>(std::min<int64_t>(size, f.first->size() - f.second));
        memcpy(buffer, f.first->data() + f.second, n);
        f.second += n;
        return n;
    }
    static void close(void* context, int) { --of(context).open_now; }
};

// A trailer laid out by hand: suffix[20], identifier[11], marker[4].
std::string trailer(const std::string& suffix, const std::string& id, const char* marker = "DLID")
{
    return suffix + std::string(20 - suffix.size(), '\0') + id + std::string(11 - id.size(), '\0') +
           marker;
}

const char PATH[] = "C:\\Downloads\\polvexNAME.exe";  // its name carries "NAME"

std::string tag_of(FakeFiles& files, const char* path, int expected_result = 1)
{
    char tag[TAG_BUFFER_SIZE];
    memset(tag, 'Z', sizeof tag);
    EXPECT_EQ(read_distribution_tag_from(path, files.ops(), tag, sizeof tag), expected_result);
    EXPECT_EQ(files.open_now, 0) << "every file opened is closed";
    return tag;
}

TEST(Tag, TrailerAtTheEndOfTheProgram)
{
    const std::string program(4000, 'M');
    struct Case {
        const char* name;
        std::string content;
        const char* tag;
    } cases[] = {
        {"identifier and suffix", program + trailer("eu", "ab12"), "ab12_eu"},
        {"empty suffix", program + trailer("", "ab12"), "ab12"},
        {"empty identifier", program + trailer("x", ""), "_x"},
        {"identifier of 11 bytes", program + trailer("", "abcdefghijk"), "abcdefghijk"},
        {"suffix of 20 bytes", program + trailer("suffix_of_20_bytes__", "id"),
         "id_suffix_of_20_bytes__"},
        {"one byte before the trailer", "M" + trailer("eu", "ab12"), "ab12_eu"},
        {"marker in lower case", program + trailer("eu", "ab12", "dlid"), "NAME"},
        {"only the trailer", trailer("eu", "ab12"), "NAME"},
        {"shorter than a marker", "DL", "NAME"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeFiles files;
        files.files[PATH] = c.content;
        EXPECT_EQ(tag_of(files, PATH), c.tag);
    }
    FakeFiles none;
    EXPECT_EQ(tag_of(none, PATH), "NAME") << "a file that cannot be opened";
}

TEST(Tag, FileNameCarriesTheTag)
{
    struct Case {
        const char* path;
        int result;
        const char* tag;
    } cases[] = {
        {"C:\\Downloads\\POLVEX123.exe", 1, "123"}, {"polvexabc", 1, "abc"},
        {"C:\\Downloads\\polvex.exe", 1, ""},       {"C:\\Downloads\\polvexa.b.c.exe", 1, "a"},
        {"\"polvex77.exe", 1, "77"},                {"C:\\Downloads\\setup.exe", 1, ""},
        {"C:\\polv", 1, ""},                        {"C:\\Downloads/polvex9.exe", 1, ""},
        {"C:\\polvex\\other.exe", 1, ""},           {"C:\\Downloads\\polvex9\\", 0, ""},
        {"", 0, ""},
        // A second copy saved by a browser, and other bytes a tag cannot hold.
        {"C:\\Downloads\\polvexABC (1).exe", 1, "ABC"}, {"polvexABC(2).exe", 1, "ABC"},
        {"polvexAB12_eu-x.exe", 1, "AB12_eu-x"},       {"polvex (1).exe", 1, ""},
        {"polvexAB%20C.exe", 1, "AB"},                {"polvexT\xC4G.exe", 1, "T"},
        {"polvexX+Y", 1, "X"},                        {"polvexZ\"", 1, "Z"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        FakeFiles files;  // no file can be opened
        EXPECT_EQ(tag_of(files, c.path, c.result), c.tag);
    }
}

TEST(Tag, MadeTrailerReadsBack)
{
    const char* cases[][3] = {{"ab12", "eu", "ab12_eu"},
                              {"abcdefghijk", "", "abcdefghijk"},
                              {"", "x", "_x"},
                              {"id", "suffix_of_20_bytes__", "id_suffix_of_20_bytes__"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c[2]);
        char made[TRAILER_SIZE];
        ASSERT_EQ(make_tag_trailer(c[0], c[1], made), 1);
        FakeFiles files;
        files.files[PATH] = "MZ" + std::string(made, sizeof made);
        char tag[TAG_BUFFER_SIZE];
        EXPECT_EQ(read_tag_trailer(PATH, files.ops(), tag, sizeof tag), 1);
        EXPECT_STREQ(tag, c[2]);
    }
    char made[TRAILER_SIZE];
    EXPECT_EQ(make_tag_trailer("abcdefghijkl", "", made), 0);
    EXPECT_EQ(make_tag_trailer("ab", "suffix_of_21_bytes___", made), 0);
}

}  // namespace

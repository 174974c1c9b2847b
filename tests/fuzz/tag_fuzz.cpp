// The distribution tag over any program file and any path.
//
// Input: the path, a NUL byte, then the whole content of the file at that
// path, read through in-memory file operations. Without a NUL the whole
// input is the path and the file cannot be opened. The trailer reader, the
// file-name reader and the two together are run into tag buffers of the
// program's size and of every small size, each of exactly its size.
// Checked: the result and the tag are those the trailer layout and the name
// rules give (a cut tag is a prefix of the full one, terminated inside its
// buffer); the file is opened at most once per read, always closed, and
// never used after its close.
#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "buffer_sizes.h"
#include "tag.h"

namespace {

const int FD = 7;
const unsigned char UNTOUCHED = 0xA5;

struct MemoryFile {
    std::string path;
    bool exists = false;
    std::string content;
    int64_t position = 0;
    int opens = 0;
    bool open_now = false;

    TagFileOps ops() { return TagFileOps{&open, &seek_end, &read, &close, this}; }
    static MemoryFile& of(void* context) { return *static_cast<MemoryFile*>(context); }

    static int open(void* context, const char* path)
    {
        MemoryFile& self = of(context);
        FUZZ_CHECK(!self.open_now);
        FUZZ_CHECK(self.path == path);
        ++self.opens;
        if (!self.exists)
            return -1;
        self.open_now = true;
        self.position = 0;
        return FD;
    }
    static int64_t seek_end(void* context, int fd, int offset)
    {
        MemoryFile& self = of(context);
        FUZZ_CHECK(self.open_now && fd == FD);
        int64_t position = static_cast<int64_t>(self.content.size()) + offset;
        if (position < 0)
            return -1;
        self.position = position;
        return position;
    }
    static int read(void* context, int fd, char* buffer, int size)
    {
        MemoryFile& self = of(context);
        FUZZ_CHECK(self.open_now && fd == FD && size >= 0);
        int64_t left = static_cast<int64_t>(self.content.size()) - self.position;
        int count = left < size ? static_cast<int>(left) : size;
        memcpy(buffer, self.content.data() + self.position, count);
        self.position += count;
        return count;
    }
    static void close(void* context, int fd)
    {
        MemoryFile& self = of(context);
        FUZZ_CHECK(self.open_now && fd == FD);
        self.open_now = false;
    }
};

std::string up_to_nul(const std::string& field)
{
    return field.substr(0, field.find('\0'));
}

// The tag of a valid trailer at the end of content.
bool expected_trailer(const std::string& content, std::string* tag)
{
    size_t n = content.size();
    if (n <= static_cast<size_t>(TRAILER_SIZE) || content.compare(n - 4, 4, TRAILER_MARKER) != 0)
        return false;
    std::string suffix = up_to_nul(content.substr(n - TRAILER_SIZE, TRAILER_SUFFIX_SIZE));
    std::string identifier = up_to_nul(content.substr(n - 15, TRAILER_ID_SIZE));
    *tag = suffix.empty() ? identifier : identifier + "_" + suffix;
    return true;
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The tag carried by the file name; false when the path ends with a backslash.
bool expected_name_tag(const std::string& path, std::string* tag)
{
    tag->clear();
    if (!path.empty() && path.back() == '\\')
        return false;
    size_t backslash = path.rfind('\\');
    std::string name = backslash == std::string::npos ? path : path.substr(backslash + 1);
    if (!name.empty() && name[0] == '"')
        name.erase(0, 1);
    const std::string prefix = TAG_NAME_PREFIX;
    if (name.size() < prefix.size())
        return true;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (lower(name[i]) != lower(prefix[i]))
            return true;
    }
    // A tag is spelled in the characters a stamp may use, and "_".
    const char spelling[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-";
    std::string rest = name.substr(prefix.size());
    *tag = rest.substr(0, rest.find_first_not_of(spelling));
    return true;
}

typedef int (*TagReader)(MemoryFile& file, char* tag, size_t tag_size);

// Runs a reader into a buffer of exactly tag_size bytes and checks its
// result and tag; exact says that a cut tag holds as much as fits.
void check_reader(TagReader reader, MemoryFile& file, size_t tag_size, int expected_result,
                  const std::string& expected_tag, bool exact)
{
    std::unique_ptr<char[]> tag(new char[tag_size]);  // exact size: ASan sees any overrun
    memset(tag.get(), UNTOUCHED, tag_size);
    int opens_before = file.opens;
    int result = reader(file, tag.get(), tag_size);
    FUZZ_CHECK(!file.open_now);
    FUZZ_CHECK(file.opens - opens_before <= 1);
    if (tag_size == 0)
        return;
    FUZZ_CHECK(result == expected_result);
    FUZZ_CHECK(memchr(tag.get(), '\0', tag_size) != nullptr);
    std::string got = tag.get();
    FUZZ_CHECK(expected_tag.compare(0, got.size(), got) == 0);  // a prefix of the full tag
    if (expected_tag.size() < tag_size || exact)
        FUZZ_CHECK(got.size() == (expected_tag.size() < tag_size ? expected_tag.size() : tag_size - 1));
}

int run_trailer(MemoryFile& file, char* tag, size_t tag_size)
{
    return read_tag_trailer(file.path.c_str(), file.ops(), tag, tag_size);
}

int run_name(MemoryFile& file, char* tag, size_t tag_size)
{
    return tag_from_file_name(file.path.c_str(), tag, tag_size);
}

int run_both(MemoryFile& file, char* tag, size_t tag_size)
{
    return read_distribution_tag_from(file.path.c_str(), file.ops(), tag, tag_size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* bytes = reinterpret_cast<const char*>(data);
    const char* nul = static_cast<const char*>(memchr(bytes, '\0', size));
    MemoryFile file;
    file.path.assign(bytes, nul ? static_cast<size_t>(nul - bytes) : size);
    if (nul) {
        file.exists = true;
        file.content.assign(nul + 1, size - (nul - bytes) - 1);
    }

    std::string trailer_tag;
    bool has_trailer = file.exists && expected_trailer(file.content, &trailer_tag);
    std::string name_tag;
    bool has_name = expected_name_tag(file.path, &name_tag);

    std::vector<size_t> sizes = {TAG_BUFFER_SIZE};
    for (size_t s = 0; s <= 40; ++s)
        sizes.push_back(s);
    for (size_t s : {name_tag.size(), name_tag.size() + 1, name_tag.size() + 2})
        sizes.push_back(s);

    for (size_t tag_size : sizes) {
        // The trailer reader appends "_" and the suffix only whole, so a cut
        // trailer tag may hold less than fits.
        check_reader(run_trailer, file, tag_size, has_trailer ? 1 : 0,
                     has_trailer ? trailer_tag : "", false);
        check_reader(run_name, file, tag_size, has_name ? 1 : 0, name_tag, true);
        if (file.path.empty())
            check_reader(run_both, file, tag_size, 0, "", true);
        else if (has_trailer)
            check_reader(run_both, file, tag_size, 1, trailer_tag, false);
        else
            check_reader(run_both, file, tag_size, has_name ? 1 : 0, name_tag, true);
    }
    return 0;
}

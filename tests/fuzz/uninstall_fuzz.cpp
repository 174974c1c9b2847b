// The uninstall command parse and the ".old" names over any command.
//
// Input: the uninstall command (up to its first NUL), in a block of exactly
// its length. folder_of_uninstall_command must cut exactly where the rules
// say and change nothing else; retire_folder is then run on the folder (or,
// when there is none, on the whole command) with renames that succeed at a
// chosen try or never, and must ask for the names folder + ".old" once,
// twice, ... in order, stop at the first success, never try more than 25
// and never build a name longer than its buffer.
#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "buffer_sizes.h"
#include "uninstall.h"

namespace {

const int NEVER = 0;

struct Renames {
    std::string folder;
    int succeed_at;  // the try that succeeds, or NEVER
    std::vector<std::string> tried;

    static int rename(void* context, const char* from, const char* to)
    {
        Renames& self = *static_cast<Renames*>(context);
        FUZZ_CHECK(self.folder == from);
        FUZZ_CHECK(strnlen(to, NEW_NAME_SIZE) < NEW_NAME_SIZE);
        self.tried.push_back(to);
        return static_cast<int>(self.tried.size()) == self.succeed_at;
    }
};

// Offset of the folder in command and of the backslash that ends it, when
// the command names one.
bool expected_folder(const std::string& command, size_t* start, size_t* end)
{
    size_t s;
    if (!command.empty() && command[0] == '"') {
        s = 1;
    } else {
        size_t quote = command.find('"');
        if (quote == std::string::npos)
            return false;
        s = quote + 1;
    }
    size_t backslash = command.rfind('\\');
    if (backslash == std::string::npos || backslash <= s)
        return false;
    *start = s;
    *end = backslash;
    return true;
}

void check_retire(const char* folder, int succeed_at)
{
    Renames renames{folder, succeed_at, {}};
    int result = retire_folder(folder, &Renames::rename, &renames);

    std::vector<std::string> expected_tries;
    int expected_result = 0;
    std::string name = folder;
    if (name.size() < NEW_NAME_SIZE) {
        for (int suffixes = 1; suffixes <= MAX_OLD_SUFFIXES; ++suffixes) {
            name += ".old";
            if (name.size() >= NEW_NAME_SIZE)
                break;
            expected_tries.push_back(name);
            if (suffixes == succeed_at) {
                expected_result = suffixes;
                break;
            }
        }
    }
    FUZZ_CHECK(renames.tried == expected_tries);
    FUZZ_CHECK(result == expected_result);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* bytes = reinterpret_cast<const char*>(data);
    const std::string command(bytes, strnlen(bytes, size));
    std::unique_ptr<char[]> block(new char[command.size() + 1]);
    memcpy(block.get(), command.c_str(), command.size() + 1);

    char* folder = folder_of_uninstall_command(block.get());
    size_t start = 0;
    size_t end = 0;
    std::string after = command;
    if (expected_folder(command, &start, &end)) {
        after[end] = '\0';
        FUZZ_CHECK(folder == block.get() + start);
    } else {
        FUZZ_CHECK(folder == nullptr);
    }
    FUZZ_CHECK(memcmp(block.get(), after.c_str(), command.size() + 1) == 0);

    const char* retired = folder ? folder : block.get();
    for (int succeed_at : {NEVER, 1, 2, 3, MAX_OLD_SUFFIXES - 1, MAX_OLD_SUFFIXES})
        check_retire(retired, succeed_at);
    return 0;
}

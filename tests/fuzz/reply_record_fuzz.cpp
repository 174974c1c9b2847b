// The reply record readers over any text and any field name.
//
// Input: a field name, a NUL byte, then the reply text (up to its next NUL).
// Without a NUL the whole input is the reply. The fuzzed name and the three
// names of the site protocol are each looked up with find_field,
// get_int_field, get_string_field and get_url_field; the string field is copied into
// destinations of every size around the one it needs and into one the size
// of the URL buffer.
#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "buffer_sizes.h"
#include "reply_record.h"
#include "reply_reference.h"

namespace {

const unsigned char UNTOUCHED = 0xA5;
const int32_t UNTOUCHED_INT = 0x5A5A5A5A;

void check_string_copy(const char* reply, const std::string& plain, const char* name, bool found,
                       const std::string& expected, size_t dest_size)
{
    std::unique_ptr<char[]> dest(new char[dest_size]);  // exact size: ASan sees any overrun
    memset(dest.get(), UNTOUCHED, dest_size);
    int result = get_string_field(reply, name, dest.get(), dest_size);
    FUZZ_CHECK(memcmp(reply, plain.c_str(), plain.size() + 1) == 0);
    bool fits = found && expected.size() + 1 <= dest_size;
    FUZZ_CHECK(result == (fits ? 1 : 0));
    if (result) {
        FUZZ_CHECK(memchr(dest.get(), '\0', dest_size) != nullptr);
        FUZZ_CHECK(strlen(dest.get()) == expected.size());
        FUZZ_CHECK(memcmp(dest.get(), expected.data(), expected.size()) == 0);
    } else {
        static std::string untouched;
        if (untouched.size() < dest_size)
            untouched.assign(dest_size, static_cast<char>(UNTOUCHED));
        FUZZ_CHECK(memcmp(dest.get(), untouched.data(), dest_size) == 0);
    }
}

void check_name(const char* reply, const std::string& plain, const std::string& name)
{
    // find_field: the same place as the rules give, and the text unchanged.
    const char* value = find_field(reply, name.c_str());
    size_t offset = reference::find_field(plain, name);
    FUZZ_CHECK(memcmp(reply, plain.c_str(), plain.size() + 1) == 0);
    if (offset == std::string::npos)
        FUZZ_CHECK(value == nullptr);
    else
        FUZZ_CHECK(value == reply + offset);

    // get_int_field: the value read, or the place untouched.
    int32_t expected_int = 0;
    bool int_ok = reference::int_field(plain, name, &expected_int);
    int32_t got = UNTOUCHED_INT;
    int result = get_int_field(reply, name.c_str(), &got);
    FUZZ_CHECK(memcmp(reply, plain.c_str(), plain.size() + 1) == 0);
    FUZZ_CHECK(result == (int_ok ? 1 : 0));
    FUZZ_CHECK(got == (int_ok ? expected_int : UNTOUCHED_INT));
    FUZZ_CHECK(get_int_field(reply, name.c_str(), nullptr) == result);

    // get_string_field: the presence test, then every destination size from
    // none at all up to the URL buffer's.
    std::string expected;
    bool found = reference::string_field(plain, name, &expected);
    FUZZ_CHECK(get_string_field(reply, name.c_str(), nullptr, 0) == (found ? 1 : 0));
    FUZZ_CHECK(get_string_field(reply, name.c_str(), nullptr, URL_BUFFER_SIZE) == (found ? 1 : 0));
    size_t needed = expected.size() + 1;
    std::vector<size_t> sizes = {0, 1, 2, 3, needed - 1, needed, needed + 1, URL_BUFFER_SIZE};
    for (size_t size : sizes)
        check_string_copy(reply, plain, name.c_str(), found, expected, size);

    // get_url_field: a string field that is a URL to ask, or nothing.
    std::string url;
    bool is_url = reference::url_field(plain, name, &url);
    FUZZ_CHECK(get_url_field(reply, name.c_str(), nullptr, 0) == (is_url ? 1 : 0));
    std::vector<char> dest(URL_BUFFER_SIZE, 'u');
    FUZZ_CHECK(get_url_field(reply, name.c_str(), dest.data(), dest.size()) == (is_url ? 1 : 0));
    FUZZ_CHECK(is_url ? url == dest.data() : dest[0] == 'u');
    FUZZ_CHECK(memcmp(reply, plain.c_str(), plain.size() + 1) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* bytes = reinterpret_cast<const char*>(data);
    const char* nul = static_cast<const char*>(memchr(bytes, '\0', size));
    std::string name;
    const char* text = bytes;
    size_t text_len = size;
    if (nul) {
        name.assign(bytes, nul - bytes);
        text = nul + 1;
        text_len = size - (nul - bytes) - 1;
    }
    // The reply ends at its first NUL, in a block of exactly its length.
    std::string plain(text, strnlen(text, text_len));
    std::unique_ptr<char[]> reply(new char[plain.size() + 1]);
    memcpy(reply.get(), plain.c_str(), plain.size() + 1);

    if (nul)
        check_name(reply.get(), plain, name);
    for (const char* protocol_name : {"iFlag", "sUrl", "sDlurl"})
        check_name(reply.get(), plain, protocol_name);
    return 0;
}

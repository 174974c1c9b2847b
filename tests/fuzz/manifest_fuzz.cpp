// The package manifest over any body the server may send.
//
// Input: the body as fetched; the program sees it up to its first NUL.
// read_manifest_size is compared with strtoll (base 10, its range checked
// against the signed 32-bit range), on the whole text and on the size line;
// parse_manifest must cut the text at its first LF and at nothing else,
// point at the news lines after it and accept exactly the sizes above 0.
#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>

#include "fuzz_check.h"
#include "manifest.h"

namespace {

const int32_t UNTOUCHED_INT = 0x5A5A5A5A;

// What atoi reads, when it fits a signed 32-bit integer.
bool reference_size(const char* text, int32_t* size)
{
    errno = 0;
    char* end = nullptr;
    long long value = strtoll(text, &end, 10);
    if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX)
        return false;
    *size = static_cast<int32_t>(value);
    return true;
}

void check_read_size(const char* text)
{
    int32_t expected = 0;
    bool fits = reference_size(text, &expected);
    int32_t size = UNTOUCHED_INT;
    int result = read_manifest_size(text, &size);
    FUZZ_CHECK(result == (fits ? 1 : 0));
    if (fits)
        FUZZ_CHECK(size == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The reply block: the body and its terminator, nothing more.
    std::string body(reinterpret_cast<const char*>(data), size);
    std::unique_ptr<char[]> reply(new char[size + 1]);
    memcpy(reply.get(), body.c_str(), size + 1);
    size_t text_len = strlen(reply.get());

    check_read_size(reply.get());
    FUZZ_CHECK(memcmp(reply.get(), body.c_str(), size + 1) == 0);

    char* ticker_start = nullptr;
    int32_t total = UNTOUCHED_INT;
    int result = parse_manifest(reply.get(), &ticker_start, &total);
    const char* line_feed = static_cast<const char*>(memchr(body.c_str(), '\n', text_len));
    if (!line_feed) {
        FUZZ_CHECK(result == 0);
        FUZZ_CHECK(ticker_start == nullptr);
        FUZZ_CHECK(total == UNTOUCHED_INT);
        FUZZ_CHECK(memcmp(reply.get(), body.c_str(), size + 1) == 0);
        return 0;
    }
    size_t cut = static_cast<size_t>(line_feed - body.c_str());
    std::string after_parse = body;
    after_parse[cut] = '\0';
    FUZZ_CHECK(memcmp(reply.get(), after_parse.c_str(), size + 1) == 0);
    FUZZ_CHECK(ticker_start == reply.get() + cut + 1);

    std::string size_line = body.substr(0, cut);
    int32_t expected = 0;
    bool valid = reference_size(size_line.c_str(), &expected) && expected > 0;
    FUZZ_CHECK(result == (valid ? 1 : 0));
    if (valid)
        FUZZ_CHECK(total == expected);
    check_read_size(reply.get());  // now the size line alone
    return 0;
}

// The news ticker over any ticker text, for many ticks.
//
// Input: the ticker text (up to its first NUL), held in a block of exactly
// its length. Each tick composes the rotated text into a buffer of exactly
// the text's size (and, on the first ticks, into smaller ones and into the
// work buffer's size) and advances the cursor. Checked: nothing is written
// outside the buffers and every output is terminated inside its buffer; the
// text never changes; the shown text is the rotation at the cursor, cut to
// the buffer; the cursor moves to the next line start as the ticker's rules
// say; and the display comes round again: a text whose last line ends with
// an LF shows itself again after one tick per line, one whose last line
// lacks it repeats from the second tick on with a period of one tick less.
#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "buffer_sizes.h"
#include "ticker.h"

namespace {

const size_t MAX_TICKS = 160;
const unsigned char UNTOUCHED = 0xA5;

// The display at pos, composed into a buffer of out_size bytes and checked
// against the rotation cut to fit.
std::string compose(const char* start, const char* pos, const std::string& rotation,
                    size_t out_size)
{
    std::unique_ptr<char[]> out(new char[out_size]);  // exact size: ASan sees any overrun
    memset(out.get(), UNTOUCHED, out_size);
    size_t written = ticker_compose(start, pos, out.get(), out_size);
    if (out_size == 0) {
        FUZZ_CHECK(written == 0);
        return "";
    }
    size_t fits = rotation.size() < out_size - 1 ? rotation.size() : out_size - 1;
    FUZZ_CHECK(written == fits);
    FUZZ_CHECK(out[written] == '\0');
    FUZZ_CHECK(memcmp(out.get(), rotation.data(), written) == 0);
    return std::string(out.get(), written);
}

// The next line start as the rules give it, as an offset into text.
size_t expected_advance(const std::string& text, size_t pos)
{
    size_t line_feed = text.find('\n', pos);
    if (line_feed == std::string::npos)
        line_feed = text.find('\n');
    return line_feed == std::string::npos ? 0 : line_feed + 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* bytes = reinterpret_cast<const char*>(data);
    const std::string text(bytes, strnlen(bytes, size));
    std::unique_ptr<char[]> block(new char[text.size() + 1]);
    memcpy(block.get(), text.c_str(), text.size() + 1);
    char* start = block.get();

    size_t line_feeds = 0;
    for (char c : text)
        line_feeds += c == '\n';
    bool ends_with_line_feed = !text.empty() && text.back() == '\n';
    size_t lines = line_feeds + (!text.empty() && !ends_with_line_feed ? 1 : 0);
    size_t ticks = 2 * lines + 2 < MAX_TICKS ? 2 * lines + 2 : MAX_TICKS;

    std::vector<std::string> shown(1);  // shown[k]: the display of tick k, from 1
    char* pos = start;
    for (size_t tick = 1; tick <= ticks; ++tick) {
        size_t offset = static_cast<size_t>(pos - start);
        FUZZ_CHECK(offset <= text.size());
        std::string rotation = text.substr(offset) + text.substr(0, offset);
        shown.push_back(compose(start, pos, rotation, text.size() + 1));
        FUZZ_CHECK(shown.back() == rotation);
        if (tick <= 3) {
            for (size_t out_size : {size_t{0}, size_t{1}, size_t{2}, text.size() / 2, text.size()})
                compose(start, pos, rotation, out_size);
            if (text.size() < TICKER_WORK_SIZE)
                FUZZ_CHECK(compose(start, pos, rotation, TICKER_WORK_SIZE) == rotation);
        }
        FUZZ_CHECK(memcmp(block.get(), text.c_str(), text.size() + 1) == 0);

        pos = ticker_advance(start, pos);
        FUZZ_CHECK(pos >= start && pos <= start + text.size());
        FUZZ_CHECK(static_cast<size_t>(pos - start) == expected_advance(text, offset));
        FUZZ_CHECK(pos == start || pos[-1] == '\n');
    }

    // The display comes round again.
    if (line_feeds == 0 || ends_with_line_feed) {
        size_t period = lines == 0 ? 1 : lines;
        for (size_t k = 1; k + period <= ticks; ++k)
            FUZZ_CHECK(shown[k + period] == shown[k]);
        if (period + 1 <= ticks)
            FUZZ_CHECK(shown[period + 1] == text);
    } else {
        size_t period = lines - 1;
        for (size_t k = 2; k + period <= ticks; ++k)
            FUZZ_CHECK(shown[k + period] == shown[k]);
    }
    return 0;
}

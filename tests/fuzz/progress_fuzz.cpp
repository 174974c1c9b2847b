// The progress bar's arithmetic over any sizes and counts.
//
// Input: five little-endian 32-bit integers, missing bytes read as 0:
// received bytes, total bytes, control width, control height, and a block
// count of its own for progress_visible_blocks. Checked: the block width
// and count are those the bar's rules give (the count is never negative);
// the visible blocks are exactly those whose left edge lies inside the
// inner frame; and every visible block's rectangle, and for controls of a
// size that a pixel grid can hold every pixel it fills, stays inside the
// control and off the two-pixel frame's top and left sides.
#include <stdint.h>
#include <string.h>

#include <vector>

#include "fuzz_check.h"
#include "progress.h"

namespace {

const int GRID_MAX_WIDTH = 1024;
const int GRID_MAX_HEIGHT = 64;

int32_t read_int32(const uint8_t* data, size_t size, size_t index)
{
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) {
        size_t at = index * 4 + i;
        uint32_t byte = at < size ? data[at] : 0;
        value |= byte << (8 * i);
    }
    int32_t result;
    memcpy(&result, &value, sizeof result);
    return result;
}

// The blocks progress_visible_blocks must give: those among the first count
// whose left edge 2 + i * w lies before width - 2, when blocks are wider
// than one pixel.
int64_t expected_visible(int64_t count, int64_t width, int64_t block_width)
{
    if (block_width <= 1 || count <= 0)
        return 0;
    int64_t visible = 0;
    while (visible < count && 2 + visible * block_width < width - 2)
        ++visible;
    return visible;
}

void check_blocks(int count, int width, int height)
{
    int block_width = progress_block_width(width);
    FUZZ_CHECK(block_width == (static_cast<int64_t>(width) - 4) / 20);
    int visible = progress_visible_blocks(count, width);
    FUZZ_CHECK(visible == expected_visible(count, width, block_width));

    bool grid = width > 0 && height > 0 && width <= GRID_MAX_WIDTH && height <= GRID_MAX_HEIGHT;
    std::vector<unsigned char> pixels(grid ? static_cast<size_t>(width) * height : 0, 0);
    for (int i = 0; i < visible; ++i) {
        ProgressRect r = progress_block_rect(i, width, height);
        FUZZ_CHECK(r.left == 2 + static_cast<int64_t>(i) * block_width);
        FUZZ_CHECK(r.top == 2);
        // Its bottom is height - 1, or for a height with no int below it,
        // one that leaves the block no rows.
        if (height > INT32_MIN)
            FUZZ_CHECK(r.bottom == height - 1);
        else
            FUZZ_CHECK(static_cast<int64_t>(r.bottom) - 2 < r.top);
        FUZZ_CHECK(r.left < r.right && r.right <= width);
        FUZZ_CHECK(r.right - r.left <= block_width);
        if (!grid)
            continue;
        // The fill without an outline: columns left .. right - 2, rows
        // top .. bottom - 2. Blocks neither overlap nor touch the frame's
        // top and left sides, and no pixel lies outside the control.
        for (int64_t y = r.top; y <= static_cast<int64_t>(r.bottom) - 2; ++y) {
            for (int64_t x = r.left; x <= static_cast<int64_t>(r.right) - 2; ++x) {
                FUZZ_CHECK(x >= 2 && y >= 2 && x < width && y < height);
                unsigned char& pixel = pixels[static_cast<size_t>(y) * width + x];
                FUZZ_CHECK(pixel == 0);
                pixel = 1;
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    int32_t received = read_int32(data, size, 0);
    int32_t total = read_int32(data, size, 1);
    int32_t width = read_int32(data, size, 2);
    int32_t height = read_int32(data, size, 3);
    int32_t count = read_int32(data, size, 4);

    // received * 21 / total, truncated, and never below 0 nor wrapped.
    int blocks = progress_block_count(received, total);
    int64_t expected = total <= 0 || received <= 0 ? 0 : static_cast<int64_t>(received) * 21 / total;
    if (expected > INT32_MAX)
        expected = INT32_MAX;
    FUZZ_CHECK(blocks == expected);

    // The bar as painted for these bytes, then for any count at all.
    check_blocks(blocks, width, height);
    check_blocks(count, width, height);
    return 0;
}

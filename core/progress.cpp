#include "progress.h"

namespace {

// The arithmetic runs in 64 bits, so that no control size or block index
// overflows; results are brought back into the int range.
int clamp_to_int(int64_t value)
{
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int>(value);
}

}  // namespace

int progress_block_width(int width)
{
    return clamp_to_int((static_cast<int64_t>(width) - 4) / 20);
}

int progress_block_count(int32_t received, int32_t total)
{
    if (total <= 0 || received <= 0)
        return 0;
    // Far more than announced must not wrap to a negative count.
    return clamp_to_int(static_cast<int64_t>(received) * 21 / total);
}

int progress_visible_blocks(int count, int width)
{
    int64_t block_width = progress_block_width(width);
    if (block_width <= 1 || count <= 0)
        return 0;
    // Block i starts at 2 + i * block_width; it shows while that is < width - 2.
    int64_t limit = (static_cast<int64_t>(width) - 4 + block_width - 1) / block_width;
    return count < limit ? count : clamp_to_int(limit);
}

ProgressRect progress_block_rect(int i, int width, int height)
{
    int64_t block_width = progress_block_width(width);
    int64_t left = 2 + static_cast<int64_t>(i) * block_width;
    // The last block may reach under the frame; it must still end inside
    // the control, as the bitmap ends there.
    int64_t right = left + block_width;
    if (right > width)
        right = width;
    return ProgressRect{clamp_to_int(left), 2, clamp_to_int(right),
                        clamp_to_int(static_cast<int64_t>(height) - 1)};
}

#include "progress.h"

int progress_block_width(int width)
{
    return (width - 4) / 20;
}

int progress_block_count(int32_t received, int32_t total)
{
    if (total <= 0 || received <= 0)
        return 0;
    // Far more than announced must not wrap to a negative count.
    int64_t blocks = static_cast<int64_t>(received) * 21 / total;
    return blocks > INT32_MAX ? INT32_MAX : static_cast<int>(blocks);
}

int progress_visible_blocks(int count, int width)
{
    int block_width = progress_block_width(width);
    if (block_width <= 1 || count <= 0)
        return 0;
    // Block i starts at 2 + i * block_width; it shows while that is < width - 2.
    int limit = (width - 4 + block_width - 1) / block_width;
    return count < limit ? count : limit;
}

ProgressRect progress_block_rect(int i, int width, int height)
{
    int block_width = progress_block_width(width);
    // The last block may reach under the frame; it must still end inside
    // the control, as the bitmap ends there.
    int right = 2 + (i + 1) * block_width;
    if (right > width)
        right = width;
    return ProgressRect{2 + i * block_width, 2, right, height - 1};
}

#include <gtest/gtest.h>

#include <stdint.h>

#include <string>

#include "progress.h"

namespace {

enum Colour : char { FACE = '.', NAVY = '#', BLACK = 'B' };
const int HEIGHT = 20;

// A bitmap drawn on as GDI's Rectangle draws: with the null pen the brush
// fills columns left .. right - 2 and rows top .. bottom - 2; with a pen and
// the null brush only columns left and right - 1 and rows top and
// bottom - 1 are drawn. Block fills must stay inside: a write outside is
// counted, not clipped.
struct Canvas {
    int width;
    std::string pixels;  // row by row
    int outside_writes = 0;

    explicit Canvas(int w) : width(w), pixels(w * HEIGHT, '?') {}
    Colour at(int x, int y) const { return static_cast<Colour>(pixels[y * width + x]); }
    void put(int x, int y, Colour c, bool clip)
    {
        if (x >= 0 && y >= 0 && x < width && y < HEIGHT)
            pixels[y * width + x] = c;
        else if (!clip)
            ++outside_writes;
    }
    void fill(int l, int t, int r, int b, Colour c, bool clip)
    {
        for (int y = t; y <= b - 2; ++y)
            for (int x = l; x <= r - 2; ++x)
                put(x, y, c, clip);
    }
    void outline(int l, int t, int r, int b, Colour c)
    {
        for (int x = l; x < r; ++x)
            put(x, t, c, true), put(x, b - 1, c, true);
        for (int y = t; y < b; ++y)
            put(l, y, c, true), put(r - 1, y, c, true);
    }
    bool frame_intact() const
    {
        for (int y = 0; y < HEIGHT; ++y) {
            for (int x = 0; x < width; ++x) {
                bool outer = x == 0 || y == 0 || x == width - 1 || y == HEIGHT - 1;
                bool inner = !outer && (x == 1 || y == 1 || x == width - 2 || y == HEIGHT - 2);
                if ((outer && at(x, y) != BLACK) || (inner && at(x, y) != FACE))
                    return false;
            }
        }
        return true;
    }
};

// The control painted as the program paints it.
Canvas paint(int32_t received, int32_t total, int width)
{
    Canvas canvas(width);
    canvas.fill(0, 0, width, HEIGHT, FACE, true);
    int blocks = progress_visible_blocks(progress_block_count(received, total), width);
    for (int i = 0; i < blocks; ++i) {
        ProgressRect r = progress_block_rect(i, width, HEIGHT);
        canvas.fill(r.left, r.top, r.right, r.bottom, NAVY, false);
    }
    canvas.outline(0, 0, width, HEIGHT, BLACK);
    canvas.outline(1, 1, width - 1, HEIGHT - 1, FACE);
    return canvas;
}

TEST(Progress, BlocksEarned)
{
    struct Case {
        int32_t received, total;
        int blocks;
    } cases[] = {
        {99, 2100, 0}, {100, 2100, 1}, {2000, 2100, 20}, {2099, 2100, 20}, {2100, 2100, 21},
        {0, 2100, 0},  {-5, 2100, 0},  {50, 0, 0},       {50, -1, 0},
        {INT32_MAX, INT32_MAX, 21},    {INT32_MAX - 1, INT32_MAX, 20},
    };
    for (const Case& c : cases)
        EXPECT_EQ(progress_block_count(c.received, c.total), c.blocks)
            << c.received << " of " << c.total;
}

TEST(Progress, BlocksOfAControl200Wide)
{
    EXPECT_EQ(progress_block_width(200), 9);
    const struct {
        int32_t received;
        int blocks;
    } cases[] = {{99, 0}, {100, 1}, {2000, 20}, {2100, 21}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.received);
        Canvas canvas = paint(c.received, 2100, 200);
        EXPECT_EQ(canvas.outside_writes, 0);
        EXPECT_TRUE(canvas.frame_intact());
        // Blocks of 8 columns at 2, 11, 20, ..., one face column between.
        for (int y = 2; y <= HEIGHT - 3; ++y)
            for (int x = 2; x <= 197; ++x)
                ASSERT_EQ(canvas.at(x, y),
                          (x - 2) / 9 < c.blocks && (x - 2) % 9 < 8 ? NAVY : FACE)
                    << x << "," << y;
    }
    Canvas full = paint(2100, 2100, 200);
    for (int y = 2; y <= 17; ++y) {
        for (int x = 173; x <= 197; ++x) {
            Colour expected = x <= 180 || (x >= 182 && x <= 189) ? NAVY : FACE;
            EXPECT_EQ(full.at(x, y), expected) << "20th, 21st block, then face: " << x << "," << y;
        }
    }
}

// Narrow controls show no block; wider ones, given far more than was
// announced, stay inside the bitmap and show at least the complete bar.
TEST(Progress, EveryWidthAndOverrun)
{
    const struct {
        int32_t received, total;
    } overruns[] = {{21000, 2100}, {INT32_MAX, 2100}, {INT32_MAX, 1}, {INT32_MAX, 4}};
    for (int width = 3; width <= 260; ++width) {
        Canvas complete = paint(2100, 2100, width);
        ASSERT_EQ(complete.outside_writes, 0) << width;
        ASSERT_EQ(complete.pixels.find(NAVY) != std::string::npos, width >= 44) << width;
        for (const auto& o : overruns) {
            SCOPED_TRACE(testing::Message() << width << " wide, " << o.received << " of " << o.total);
            Canvas canvas = paint(o.received, o.total, width);
            ASSERT_EQ(canvas.outside_writes, 0);
            ASSERT_TRUE(canvas.frame_intact());
            ASSERT_EQ(canvas.pixels.find(NAVY) != std::string::npos, width >= 44);
            for (size_t k = 0; k < complete.pixels.size(); ++k) {
                if (complete.pixels[k] == NAVY) {
                    ASSERT_EQ(canvas.pixels[k], NAVY) << "pixel " << k;
                }
            }
        }
    }
}

}  // namespace

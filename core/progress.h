// The progress bar's arithmetic: a row of blocks inside a two-pixel frame.
#pragma once
#include <stdint.h>

struct ProgressRect {
    int left, top, right, bottom;
};

// Width of one block slot for a control width: (width - 4) / 20.
int progress_block_width(int width);

// Blocks earned: received * 21 / total, truncated; 0 when total is not
// positive or nothing arrived.
int progress_block_count(int32_t received, int32_t total);

// How many of the first count blocks can show: blocks whose left edge lies
// at or beyond width - 2 are under the frame, and blocks of width 1 or less
// have no visible pixel.
int progress_visible_blocks(int count, int width);

// Corners of block i, to be filled without an outline: the fill covers
// columns left .. right - 2 and rows top .. bottom - 2. The right corner is
// never beyond width, so no fill leaves the control.
ProgressRect progress_block_rect(int i, int width, int height);

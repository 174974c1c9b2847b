#include "progress_paint.h"

#include "ids.h"
#include "owners.h"
#include "progress.h"
#include "run_state.h"

namespace {

const COLORREF BLOCK_COLOUR = RGB(0, 0, 128);

// The number of blocks on the bitmap. A download sends thousands of
// progress messages and the bar has a few dozen blocks: a message that adds
// no block would change no pixel, so the bar is not drawn again for it.
int drawn_blocks = -1;

// Fills the first picture of the bitmap with the button face.
void fill_background(HDC memory_dc, HBITMAP bitmap, int width, int height)
{
    GdiObject face(CreateSolidBrush(GetSysColor(COLOR_BTNFACE)));
    SelectObject(memory_dc, GetStockObject(NULL_PEN));
    SelectObject(memory_dc, bitmap);
    SelectObject(memory_dc, face.get());
    Rectangle(memory_dc, 0, 0, width, height);
    SelectObject(memory_dc, GetStockObject(NULL_BRUSH));
}

// A memory device context compatible with the control's; on the first paint
// it also makes the bitmap, filled and handed to the control. The control's
// own device context is held only meanwhile.
HDC open_memory_dc(HWND control, int width, int height)
{
    WindowDc control_dc(control);
    HDC memory_dc = CreateCompatibleDC(control_dc.get());
    if (!run_state.progress_bitmap) {
        HBITMAP bitmap = CreateCompatibleBitmap(control_dc.get(), width, height);
        run_state.progress_bitmap = bitmap;
        drawn_blocks = -1;
        if (bitmap) {
            fill_background(memory_dc, bitmap, width, height);
            PostMessageA(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
        }
    }
    return memory_dc;
}

int blocks_to_show(int width)
{
    return progress_visible_blocks(
        progress_block_count(run_state.received_bytes.load(), run_state.total_bytes), width);
}

void draw_blocks(HDC memory_dc, int count, int height, int width)
{
    GdiObject navy(CreateSolidBrush(BLOCK_COLOUR));
    SelectObject(memory_dc, navy.get());
    SelectObject(memory_dc, GetStockObject(NULL_PEN));
    for (int i = 0; i < count; ++i) {
        ProgressRect r = progress_block_rect(i, width, height);
        Rectangle(memory_dc, r.left, r.top, r.right, r.bottom);
    }
    SelectObject(memory_dc, GetStockObject(NULL_BRUSH));
}

// Paints blocks and frames into the bitmap, made on the first paint.
// Returns 0 when there is no bitmap to paint.
int paint_bitmap(HWND control, int width, int height, int blocks)
{
    // Declared first, so that it is deleted after the device context it is
    // selected into.
    GdiObject face_pen;
    MemoryDc memory_dc(open_memory_dc(control, width, height));
    if (!run_state.progress_bitmap)
        return 0;

    SelectObject(memory_dc.get(), static_cast<HBITMAP>(run_state.progress_bitmap));
    draw_blocks(memory_dc.get(), blocks, height, width);
    drawn_blocks = blocks;

    // The frames go over the blocks, covering any part at column W - 2 or beyond.
    SelectObject(memory_dc.get(), GetStockObject(BLACK_PEN));
    SelectObject(memory_dc.get(), GetStockObject(NULL_BRUSH));
    Rectangle(memory_dc.get(), 0, 0, width, height);
    face_pen.reset(CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNFACE)));
    SelectObject(memory_dc.get(), face_pen.get());
    Rectangle(memory_dc.get(), 1, 1, width - 1, height - 1);
    return 1;
}

}  // namespace

void repaint_progress(HWND dialog)
{
    HWND control = GetDlgItem(dialog, IDC_PROGRESS);
    RECT client;
    GetClientRect(control, &client);
    draw_progress(control, client.right, client.bottom);
}

void draw_progress(HWND control, int width, int height)
{
    int blocks = blocks_to_show(width);
    if (run_state.progress_bitmap && blocks == drawn_blocks)
        return;
    if (paint_bitmap(control, width, height, blocks))
        InvalidateRect(control, nullptr, FALSE);
}

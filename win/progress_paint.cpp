#include "app.h"
#include "progress.h"

namespace {

const COLORREF BLOCK_COLOUR = RGB(0, 0, 128);

// The number of blocks on the bitmap. A download sends thousands of
// progress messages and the bar has a few dozen blocks: a message that adds
// no block would change no pixel, so the bar is not drawn again for it.
int drawn_blocks = -1;

// Fills the first picture of the bitmap with the button face.
void fill_background(HDC memory_dc, HBITMAP bitmap, int width, int height)
{
    HBRUSH face = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    SelectObject(memory_dc, GetStockObject(NULL_PEN));
    SelectObject(memory_dc, bitmap);
    SelectObject(memory_dc, face);
    Rectangle(memory_dc, 0, 0, width, height);
    SelectObject(memory_dc, GetStockObject(NULL_BRUSH));
    DeleteObject(face);
}

int blocks_to_show(int width)
{
    return progress_visible_blocks(
        progress_block_count(run_state.received_bytes.load(), run_state.total_bytes), width);
}

void draw_blocks(HDC memory_dc, int count, int height, int width)
{
    HBRUSH navy = CreateSolidBrush(BLOCK_COLOUR);
    SelectObject(memory_dc, navy);
    SelectObject(memory_dc, GetStockObject(NULL_PEN));
    for (int i = 0; i < count; ++i) {
        ProgressRect r = progress_block_rect(i, width, height);
        Rectangle(memory_dc, r.left, r.top, r.right, r.bottom);
    }
    SelectObject(memory_dc, GetStockObject(NULL_BRUSH));
    DeleteObject(navy);
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
    HDC control_dc = GetDC(control);
    HDC memory_dc = CreateCompatibleDC(control_dc);
    if (!run_state.progress_bitmap) {
        HBITMAP bitmap = CreateCompatibleBitmap(control_dc, width, height);
        run_state.progress_bitmap = bitmap;
        drawn_blocks = -1;
        if (bitmap) {
            fill_background(memory_dc, bitmap, width, height);
            PostMessageA(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
        }
    }
    ReleaseDC(control, control_dc);
    if (!run_state.progress_bitmap) {
        DeleteDC(memory_dc);
        return;
    }

    SelectObject(memory_dc, static_cast<HBITMAP>(run_state.progress_bitmap));
    draw_blocks(memory_dc, blocks, height, width);
    drawn_blocks = blocks;

    // The frames go over the blocks, covering any part at column W - 2 or beyond.
    SelectObject(memory_dc, GetStockObject(BLACK_PEN));
    SelectObject(memory_dc, GetStockObject(NULL_BRUSH));
    Rectangle(memory_dc, 0, 0, width, height);
    HPEN face_pen = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNFACE));
    SelectObject(memory_dc, face_pen);
    Rectangle(memory_dc, 1, 1, width - 1, height - 1);

    DeleteDC(memory_dc);
    DeleteObject(face_pen);
    InvalidateRect(control, nullptr, FALSE);
}

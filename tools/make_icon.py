#!/usr/bin/env python3
"""Draws resources/polvex.ico: one 32 x 32 image of 16 colours, a navy
download arrow over a light disc."""
import struct
import sys

PALETTE = [  # the standard 16 VGA colours, as (blue, green, red, 0)
    (0, 0, 0), (0, 0, 128), (0, 128, 0), (0, 128, 128), (128, 0, 0), (128, 0, 128),
    (128, 128, 0), (192, 192, 192), (128, 128, 128), (0, 0, 255), (0, 255, 0),
    (0, 255, 255), (255, 0, 0), (255, 0, 255), (255, 255, 0), (255, 255, 255),
]
NAVY, SILVER, GREY, WHITE, TEAL = 4, 7, 8, 15, 3  # indices (palette is BGR)


def pixel(x, y):
    """Colour index and whether the pixel is transparent."""
    dx, dy = x - 15.5, y - 15.5
    r2 = dx * dx + dy * dy
    if r2 > 15.5 * 15.5:
        return 0, True
    shaft = 12 <= x <= 19 and 5 <= y <= 16
    head = 17 <= y <= 24 and abs(x - 15.5) <= (24 - y) + 0.5
    base = 25 <= y <= 27 and 7 <= x <= 24
    if shaft or head:
        return NAVY, False
    if base:
        return TEAL, False
    if r2 > 14.0 * 14.0:
        return GREY, False
    return (WHITE if y < 16 else SILVER), False


def main(out_path):
    size = 32
    xor_rows, and_rows = [], []
    for y in range(size - 1, -1, -1):  # bottom-up rows
        row = bytearray()
        mask = 0
        for x in range(0, size, 2):
            a, ta = pixel(x, y)
            b, tb = pixel(x + 1, y)
            row.append((a << 4) | b)
        for x in range(size):
            mask = (mask << 1) | (1 if pixel(x, y)[1] else 0)
        xor_rows.append(bytes(row))
        and_rows.append(struct.pack(">I", mask))
    xor_data = b"".join(xor_rows)
    and_data = b"".join(and_rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         len(xor_data) + len(and_data), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (b, g, r) in PALETTE)
    image = header + palette + xor_data + and_data
    icon = struct.pack("<HHH", 0, 1, 1)
    icon += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), 6 + 16)
    with open(out_path, "wb") as f:
        f.write(icon + image)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/polvex.ico")

#!/usr/bin/env python3
"""Writes core/decipher_table.inc, the constant table of the text cipher.

The table maps an enciphered byte to its plain byte. Entry 0 stays 0 (it is
never consulted: 0 ends a text); entries 1 to 255 are a permutation of the
values 1 to 255, so every text of non-zero bytes can be enciphered.

Procedure, fixed so that the table can be made again byte for byte:
a Fisher-Yates shuffle of the list 1..255, driven by the 32-bit linear
congruential generator state = state * 1664525 + 1013904223 (mod 2^32),
seeded with 0x504F4C56; for i from 254 down to 1 the swap partner is
j = (state >> 8) % (i + 1), with the generator stepped once before each j.
"""
import sys


def make_table():
    values = list(range(1, 256))
    state = 0x504F4C56
    for i in range(len(values) - 1, 0, -1):
        state = (state * 1664525 + 1013904223) & 0xFFFFFFFF
        j = (state >> 8) % (i + 1)
        values[i], values[j] = values[j], values[i]
    return [0] + values


def main():
    table = make_table()
    out = sys.stdout
    out.write("/* Made by tools/gen_decipher_table.py; do not edit by hand. */\n")
    for row in range(0, 256, 16):
        out.write(", ".join("%3d" % v for v in table[row:row + 16]) + ",\n")


if __name__ == "__main__":
    main()

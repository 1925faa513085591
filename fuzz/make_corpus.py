#!/usr/bin/env python3
"""Writes the seed inputs of fuzz/corpus: short host sessions in the byte
encoding fuzz_driver.cpp decodes (one opcode byte, then its arguments).

Run from anywhere: python3 fuzz/make_corpus.py
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# Opcodes of RunOne; add 0x80 to address the second record.
DONE_RECORD, INIT_PALETTE, DONE_PALETTE, INIT_BITMAP, DONE_BITMAP = 1, 2, 4, 5, 7
ADD_REF, SET_PALETTE, DESCRIBE, LOCK, CLEAR, COPY, COPY_ENTIRE = 8, 9, 10, 12, 13, 15, 17
ALLOC_BUFFER, DEALLOC, SET_CALLBACKS, SCREEN_COLOR, DRAWING, NO_CHANGE = 18, 19, 20, 21, 22, 23


def u32(v):
    return list(struct.pack("<I", v & 0xFFFFFFFF))


def small(v):
    """A coordinate in -64..63 (Coord: selector 0, then the doubled value)."""
    return [0, (v * 2) & 0xFF]


INT_MIN, INT_MAX, MINUS_ONE = [9], [10], [15]


def size(v):
    return [0, v]  # Size: selector 0, then v % 40


def new_record(r=0, debug=True):
    return [0x80 * r, *u32(0x1234 + r), 1 if debug else 0]


def alloc_buffer(w, h, depth_sel, mask_sel, extra=0, seed=0x55, r=0, sub=None, depth=None, masks=None):
    """depth_sel 0-5 picks 8, 16, 32, 24, 16, 32 bits; 6 takes `depth`.
    mask_sel 0-4 picks 5-5-5, 5-6-5, 8-8-8, 8-8-8 reversed, none; 5 takes `masks`."""
    sub_bytes = [1] if sub is None else [0, *sub]
    depth_bytes = [depth_sel] + ([depth] if depth_sel >= 6 else [])
    mask_bytes = [mask_sel] + (sum((u32(m) for m in masks), []) if mask_sel >= 5 else [])
    return [ALLOC_BUFFER | 0x80 * r, *u32(0x10), *sub_bytes, 1, *size(w), *size(h),
            *depth_bytes, *mask_bytes, 7, 9, 1, extra, seed]


def alloc_null(r=0):
    return [ALLOC_BUFFER | 0x80 * r, *u32(0), 1, 0]


def init_bitmap(w, h, r=0):
    return [INIT_BITMAP | 0x80 * r, 1, *size(w), *size(h)]


def init_screen_bitmap(r=0):
    return [INIT_BITMAP | 0x80 * r, 0, *size(0), *size(0)]


def describe(index, extra=0, seed=0x37):
    return [DESCRIBE, index, 1, extra, seed]


def clear(index, pixel):
    return [CLEAR, index, *u32(pixel)]


def copy(dst, src, sx, sy, w, h, dx, dy, transparent):
    return [COPY, dst, 1, src, *sx, *sy, 1, *w, 1, *h, *dx, *dy, 1 if transparent else 0]


def copy_entire(dst, src, dx, dy, transparent):
    return [COPY_ENTIRE, dst, 1, src, *dx, *dy, 1 if transparent else 0]


def palette(count, colours):
    return [INIT_PALETTE, 5, count, 1] + sum((u32(c) for c in colours), [])


SEEDS = {
    "life-565": new_record() + alloc_buffer(16, 8, 1, 1, extra=2) + init_bitmap(10, 6) + describe(2, 3)
    + clear(2, 0x1234) + copy(1, 2, small(1), small(0), small(5), small(4), small(3), small(2), True)
    + copy_entire(1, 2, INT_MIN, small(0), False) + [DRAWING, 0, DRAWING, 2, DRAWING, 1, DRAWING, 4]
    + [SCREEN_COLOR, 0, 1, *u32(0x10407F)] + [DEALLOC] + [DONE_RECORD],
    "palette-8bit": new_record() + palette(4, [0x7F, 0x7F00, 0x7F0000, 0x7F7F7F]) + alloc_buffer(9, 5, 0, 4)
    + init_bitmap(3, 3) + [SET_PALETTE, 2, 0] + [SCREEN_COLOR, 2, 1, *u32(0x7E0001)] + [DONE_PALETTE, 0]
    + [ADD_REF, 2, DONE_BITMAP, 2, DONE_BITMAP, 2] + [DEALLOC, DONE_RECORD],
    "callbacks": new_record() + [SET_CALLBACKS, 1 | 2 | 8 | 32 | 64, *u32(77)] + alloc_buffer(4, 4, 2, 2)
    + [SET_CALLBACKS, 1 | 2 | 16, *u32(78)] + [DEALLOC] + alloc_buffer(4, 4, 2, 2) + init_bitmap(2, 2)
    + [SET_CALLBACKS, 2 | 8, *u32(79)] + [DEALLOC] + alloc_buffer(6, 3, 4, 0) + [DONE_RECORD],
    "two-records": new_record(0) + new_record(1) + alloc_buffer(8, 8, 2, 2, r=0) + alloc_buffer(8, 8, 5, 2, r=1)
    + init_bitmap(5, 5, r=1) + describe(4, 1) + clear(4, 0xFFFFFFFF) + clear(1, 0x00FF00)
    + copy(1, 4, small(-2), small(-3), small(0), small(0), small(1), small(1), True)
    + [DONE_RECORD | 0x80, DONE_RECORD],
    "bad-input": new_record() + alloc_null() + palette(0, []) + [INIT_PALETTE, 3, 1]
    + [INIT_PALETTE, 4, *INT_MIN, 1] + sum(([NO_CHANGE, 1, 0, case] for case in range(12)), [])
    + alloc_buffer(5, 5, 3, 3, sub=MINUS_ONE) + [LOCK, 1, 1] + clear(1, 1) + [LOCK, 1, 0] + [DONE_RECORD]
    + new_record() + [INIT_PALETTE, 2, 0] + [0] * 1024,
    "coords-24bit": new_record() + alloc_buffer(7, 5, 3, 2, extra=1) + init_bitmap(7, 5) + describe(2, 0, 0x10)
    + clear(2, 0x00ABCDEF)
    + copy(1, 2, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MIN, INT_MIN, False)
    + copy(1, 2, small(-3), small(-1), MINUS_ONE, small(3), small(-3), INT_MAX, True)
    + copy(1, 2, small(2), small(2), INT_MAX, INT_MAX, small(1), small(-1), True)
    + copy_entire(2, 1, small(-6), small(4), True) + [DEALLOC] + alloc_buffer(30, 2, 6, 5, depth=12, masks=[0xF00, 0xF0, 0x0F])
    + [DONE_RECORD],
}


def main():
    out = os.path.join(HERE, "corpus")
    os.makedirs(out, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(bytes(b & 0xFF for b in data))


if __name__ == "__main__":
    main()

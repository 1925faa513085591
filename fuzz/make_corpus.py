#!/usr/bin/env python3
"""Writes the seed inputs of fuzz/corpus: short host sessions in the byte
encoding fuzz_driver.cpp decodes (one opcode byte, then its arguments).

Run from anywhere: python3 fuzz/make_corpus.py
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# Indices into kOps; add 0x80 (R1) to address the second record. The first
# step on a record that does not exist makes it instead (see new_record).
(DONE_RECORD, INIT_PALETTE, DONE_PALETTE, INIT_BITMAP, DONE_BITMAP, SET_PALETTE, DESCRIBE, LOCK_OR_CLEAR,
 COPY, ALLOC_BUFFER, DEALLOC, SET_CALLBACKS, SCREEN_COLOR, DRAWING) = range(14)
R1 = 0x80


def u32(v):
    return list(struct.pack("<I", v & 0xFFFFFFFF))


def small(v):
    """An Int in -64..63."""
    return [0, (v * 2) & 0xFF]


INT_MIN, INT_MAX, MINUS_ONE = [5, 0], [6, 0], small(-1)


def size(v):
    return [1, v]  # a Size below 40


def new_record(r=0, debug=True):
    return [r, *u32(0x1234 + r), 1 if debug else 0]


def buffer(extra=0, seed=0x55):
    return [1, extra, seed]


def alloc_buffer(w, h, depth_sel, mask_sel, extra=0, seed=0x55, r=0, sub=None):
    """depth_sel 0-7 picks 8, 16, 32, 24, 16, 32, 12, 0 bits; mask_sel 0-7 picks 5-5-5,
    5-6-5, 8-8-8, 8-8-8 reversed, none, 4-4-4 and two odd ones."""
    sub_bytes = [0] if sub is None else [1, *sub]
    return [ALLOC_BUFFER | r, 0x10, *sub_bytes, *size(w), *size(h), depth_sel, mask_sel, 7, *buffer(extra, seed)]


def init_bitmap(w, h, r=0, screen_sized=False):
    return [INIT_BITMAP | r, 0 if screen_sized else 1, *size(w), *size(h)]


def add_ref(index, r=0):
    return [INIT_BITMAP | r, 3, *size(0), *size(0), index]


def describe(index, extra=0, seed=0x37):
    return [DESCRIBE, index, *buffer(extra, seed)]


def lock(index):
    return [LOCK_OR_CLEAR, index, 0]


def unlock(index):
    return [LOCK_OR_CLEAR, index, 1]


def clear(index, pixel):
    return [LOCK_OR_CLEAR, index, 2, *u32(pixel)]


def copy(dst, src, sx, sy, w, h, dx, dy, transparent, entire=False):
    return [COPY, dst, 1, src, int(entire), int(transparent), *sx, *sy, *w, *h, *dx, *dy]


def palette(count_sel, colours):
    """count_sel picks 0, 1, 3, 16, 256, 257, -1, INT32_MIN colours."""
    return [INIT_PALETTE, count_sel, 1] + sum((u32(c) for c in colours), [])


def screen_color(index, colour):
    return [SCREEN_COLOR, index, 0, *u32(colour)]


def drawing(*steps):
    return sum(([DRAWING, s] for s in steps), [])


BEGIN, END, FLIP_AND_SYNC = 0, 1, 2

SEEDS = {
    # Bitmaps: 0 the first screen bitmap, 1 the buffer's screen, 2 the host's.
    "life-565": new_record() + alloc_buffer(16, 8, 1, 1, extra=2) + init_bitmap(10, 6) + describe(2, 3)
    + clear(2, 0x1234) + copy(1, 2, small(1), small(0), small(5), small(4), small(3), small(2), True)
    + copy(1, 2, small(0), small(0), small(0), small(0), INT_MIN, small(0), False, entire=True)
    + lock(2) + clear(2, 7) + unlock(2) + drawing(BEGIN, FLIP_AND_SYNC, END, FLIP_AND_SYNC) + screen_color(1, 0x10407F)
    + [DEALLOC] + alloc_buffer(12, 4, 2, 2, extra=1) + [DONE_RECORD],
    "palette-8bit": new_record() + palette(2, [0x7F, 0x7F00, 0x7F0000]) + alloc_buffer(9, 5, 0, 4)
    + init_bitmap(3, 3) + [SET_PALETTE, 2, 0] + screen_color(2, 0x7E0001) + [DONE_PALETTE, 0]
    + add_ref(2) + [DONE_BITMAP, 2, DONE_BITMAP, 2, DONE_BITMAP, 1] + [DEALLOC, DONE_RECORD],
    "callbacks": new_record() + [SET_CALLBACKS, 1 | 2 | 8 | 32 | 64, *u32(77)] + alloc_buffer(4, 4, 2, 2)
    + [SET_CALLBACKS, 1 | 2 | 16, *u32(78)] + [DEALLOC] + alloc_buffer(4, 4, 2, 2) + init_bitmap(2, 2)
    + [SET_CALLBACKS, 2 | 8, *u32(79)] + [DEALLOC] + alloc_buffer(6, 3, 4, 0) + [DONE_RECORD],
    # Bitmaps: 0 and 1 the records' first screen bitmaps, 2 and 3 their buffers' screens, 4 record 1's.
    "two-records": new_record(0) + new_record(R1) + alloc_buffer(8, 8, 2, 2) + alloc_buffer(8, 8, 5, 2, r=R1)
    + init_bitmap(5, 5, r=R1) + describe(4, 1) + clear(4, 0xFFFFFFFF) + clear(2, 0x00FF00)
    + copy(2, 4, small(-2), small(-3), small(0), small(0), small(1), small(1), True)
    + [DONE_RECORD | R1, DONE_RECORD],
    # Refused palette counts, null colours, a description without memory, a locked bitmap.
    "bad-input": new_record() + palette(0, []) + [INIT_PALETTE, 6, 1, INIT_PALETTE, 7, 1, INIT_PALETTE, 1, 0, *u32(9)]
    + alloc_buffer(5, 5, 3, 3, sub=MINUS_ONE) + [ALLOC_BUFFER, 0, 0, *size(3), *size(3), 1, 1, 0, 0, *u32(3)]
    + lock(1) + clear(1, 1) + copy(1, 1, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MIN, INT_MIN, False)
    + unlock(1) + [DONE_BITMAP, 1] + [INIT_BITMAP, 1, 0, *INT_MIN, 0, *INT_MAX] + drawing(BEGIN, BEGIN, FLIP_AND_SYNC)
    + [DONE_RECORD] + new_record() + palette(1, [5]) + [0] * 64,
    "coords-24bit": new_record() + alloc_buffer(7, 5, 3, 2, extra=1) + init_bitmap(7, 5) + describe(2, 0, 0x10)
    + clear(2, 0x00ABCDEF)
    + copy(1, 2, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MIN, INT_MIN, False)
    + copy(1, 2, small(-3), small(-1), MINUS_ONE, small(3), small(-3), INT_MAX, True)
    + copy(1, 2, small(2), small(2), INT_MAX, INT_MAX, small(1), small(-1), True)
    + copy(2, 1, small(0), small(0), small(0), small(0), small(-6), small(4), True, entire=True)
    + [DEALLOC] + alloc_buffer(30, 2, 6, 5) + [DONE_RECORD],
}


def main():
    out = os.path.join(HERE, "corpus")
    os.makedirs(out, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(bytes(b & 0xFF for b in data))


if __name__ == "__main__":
    main()

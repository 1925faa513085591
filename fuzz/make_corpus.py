#!/usr/bin/env python3
"""Writes the seed inputs of fuzz/corpus: short host sessions in the byte
encoding fuzz_driver.cpp decodes (one opcode byte, then its arguments).

Also writes fuzz/regressions: the findings, replayed before every fuzz run.

Run from anywhere: python3 fuzz/make_corpus.py
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# Indices into kOps; add 0x80 (R1) to address the second record. The first
# step on a record that does not exist makes it instead (see new_record).
(DONE_RECORD, INIT_PALETTE, INIT_BITMAP, REFS, WRITE, LOCK_OR_CLEAR, COPY, ALLOC_BUFFER, DEALLOC, SET_CALLBACKS,
 DRAWING) = range(11)
R1 = 0x80
# The first byte of an input seeds the host's pixels: even seeds give runs of zero bytes.
ZERO_RUNS, NO_ZEROS = 0x54, 0x55


def u32(v):
    return list(struct.pack("<I", v & 0xFFFFFFFF))


def small(v):
    """An Int in -64..63."""
    return [0, (v * 2) & 0xFF]


INT_MIN, INT_MAX, MINUS_ONE = [5, 0], [6, 0], small(-1)


def size(v):
    """A Size: below 40, or 256 to 511 (rows of over 1 KiB)."""
    return [2, v] if v < 40 else [1, v - 256]


def new_record(r=0, debug=True):
    return [r, *u32(0x1234 + r), 1 if debug else 0]


def place(extra=0, where="start", bottom_up=False, at=0):
    """Rows `extra` bytes apart beyond their pixels, at the arena's start, flush
    with its end, or `at` bytes into it; bottom-up: bits at the last row."""
    how = {"start": 1, "end": 0, "at": 2}[where] | (4 if bottom_up else 0)
    return [extra, how] + ([at & 0xFF, at >> 8] if where == "at" else [])


def alloc_buffer(w, h, depth_sel, mask_sel, r=0, sub=None, **where):
    """depth_sel picks 8, 16, 32, 24, 16, 32, 12, 0, 40, 7 bits; mask_sel 0-7 picks
    5-5-5, 5-6-5, 8-8-8, 8-8-8 reversed, none, 4-4-4 and two odd ones."""
    sub_bytes = [0] if sub is None else [1, *sub]
    return [ALLOC_BUFFER | r, 0x10, *sub_bytes, *size(w), *size(h), depth_sel, mask_sel, 7, 1, *place(**where)]


def init_bitmap(w, h, r=0, screen_sized=False):
    return [INIT_BITMAP | r, 0 if screen_sized else 1, *size(w), *size(h)]


def layout(index, w, h, r=0, **where):
    """The host lays bitmap `index` (of all live bitmaps, in creation order) over the arena."""
    return [WRITE | r, index, 5, 0, *size(w), *size(h), *place(**where)]


def alias(index, other, shift):
    """Bitmap `index` over `other`'s memory, shifted by 0, +pixel, -pixel, +row, -row, row+pixel."""
    return [WRITE, index, 7, shift, other]


def set_palette(index, palette_index, r=0):
    return [WRITE | r, index, 8, 0, palette_index]


def depth(index, depth_sel):
    return [WRITE, index, 3, depth_sel]


def bits_at(index, at):
    return [WRITE, index, 4, 0, at & 0xFF, at >> 8]


# What OpRefs counts: the record, a bitmap or a palette; what it does: raise, lower directly, or
# give back through DoneBitmap or DonePalette (the record: lower).
RECORD, BITMAP, PALETTE = range(3)
RAISE, LOWER, GIVE_BACK = range(3)


def refs(what, act, index=0, r=0):
    return [REFS | r, what + 3 * act] + ([index] if what != RECORD else [])


def give_back(index, r=0):
    """DoneBitmap on bitmap `index` if the host holds it or it is the record's screen (refused)."""
    return refs(BITMAP, GIVE_BACK, index, r)


def width(index, w):
    return [WRITE, index, 0, 0, *size(w)]


def lock(index):
    return [LOCK_OR_CLEAR, index, 0]


def unlock(index):
    return [LOCK_OR_CLEAR, index, 1]


def clear(index, pixel, r=0):
    return [LOCK_OR_CLEAR | r, index, 2, *u32(pixel)]


def copy(dst, src, sx, sy, w, h, dx, dy, transparent, entire=False, r=0):
    return [COPY | r, dst, 1, src, int(entire), int(transparent), *sx, *sy, *w, *h, *dx, *dy]


def palette(count, r=0):
    """count 0 to 254, or 256."""
    return [INIT_PALETTE | r, 255 if count == 256 else count]


def drawing(*steps):
    return sum(([DRAWING, s] for s in steps), [])


def reenter(count, r=0):
    """The debug function goes on, and calls a step of its own at each of the next `count` calls
    (messages and callbacks); those steps follow in the input."""
    return [DRAWING | r, 3, 1 | count << 1]


BEGIN, END, FLIP_AND_SYNC = 0, 1, 2

SEEDS = {
    # Bitmaps: 0 the placeholder, 1 the buffer's screen, 2 the host's.
    "life-565": [NO_ZEROS] + new_record() + alloc_buffer(16, 8, 1, 1, extra=2) + init_bitmap(10, 6)
    + layout(2, 10, 6, extra=3, where="at", at=2000)
    + clear(2, 0x1234) + copy(1, 2, small(1), small(0), small(5), small(4), small(3), small(2), True)
    + copy(1, 2, small(0), small(0), small(0), small(0), INT_MIN, small(0), False, entire=True)
    + lock(2) + clear(2, 7) + unlock(2) + drawing(BEGIN, FLIP_AND_SYNC, END, FLIP_AND_SYNC)
    + [DEALLOC] + alloc_buffer(12, 4, 2, 2, extra=1, where="end") + [DONE_RECORD],
    # A palette on two bitmaps, given back by the host, then by the bitmaps; the screen is refused.
    "palettes": [ZERO_RUNS] + new_record() + palette(3) + alloc_buffer(9, 5, 0, 4) + init_bitmap(3, 3)
    + set_palette(2, 0) + set_palette(1, 0) + refs(PALETTE, GIVE_BACK, 0) + refs(BITMAP, RAISE, 2)
    + give_back(2) + give_back(2) + give_back(1) + [DEALLOC, DONE_RECORD],
    "callbacks": [NO_ZEROS] + new_record() + [SET_CALLBACKS, 1 | 2 | 8 | 32 | 64, *u32(77)] + alloc_buffer(4, 4, 2, 2)
    + [SET_CALLBACKS, 1 | 2 | 16, *u32(78)] + [DEALLOC] + alloc_buffer(4, 4, 2, 2) + init_bitmap(2, 2)
    + [SET_CALLBACKS, 2 | 8, *u32(79)] + [DEALLOC] + alloc_buffer(6, 3, 4, 0) + [DONE_RECORD],
    # Record 0's palette on record 1's bitmaps of an 8-bit screen; record 0 goes, record 1 goes on.
    # Bitmaps: 0 and 1 the placeholders, 2 record 1's screen, 3 record 1's; after record 0's Done
    # 0 record 1's placeholder, 1 its screen, 2 its bitmap.
    "two-records": [ZERO_RUNS] + new_record(0) + new_record(R1) + palette(16)
    + alloc_buffer(8, 8, 0, 4, r=R1, where="end", bottom_up=True) + init_bitmap(5, 5, r=R1)
    + layout(3, 5, 5, extra=1) + set_palette(3, 0) + set_palette(2, 0) + refs(PALETTE, RAISE, 0)
    + refs(PALETTE, GIVE_BACK, 0) + [DONE_RECORD] + clear(2, 0xFFFFFFFF, r=R1) + clear(1, 0x00FF00, r=R1)
    + copy(1, 2, small(-2), small(-3), small(0), small(0), small(1), small(1), True, r=R1)
    + refs(PALETTE, GIVE_BACK, 0, r=R1) + [DONE_RECORD | R1],
    # A second description while allocated, a locked screen, a copy onto itself, sizes at the ends.
    "bad-input": [NO_ZEROS] + new_record() + palette(0) + palette(256)
    + alloc_buffer(5, 5, 3, 3, sub=MINUS_ONE) + [ALLOC_BUFFER, 0, 0, *size(3), *size(3), 1, 1, 0, 0, *u32(3)]
    + lock(1) + clear(1, 1) + copy(1, 1, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MIN, INT_MIN, False)
    + unlock(1) + give_back(1) + [INIT_BITMAP, 1, 0, *INT_MIN, 0, *INT_MAX] + drawing(BEGIN, BEGIN, FLIP_AND_SYNC)
    + [DONE_RECORD] + new_record() + palette(1) + [0] * 64,
    "coords-24bit": [ZERO_RUNS] + new_record() + alloc_buffer(7, 5, 3, 2, extra=1) + init_bitmap(7, 5)
    + layout(2, 7, 5, where="end") + clear(2, 0x00ABCDEF)
    + copy(1, 2, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MIN, INT_MIN, False)
    + copy(1, 2, small(-3), small(-1), MINUS_ONE, small(3), small(-3), INT_MAX, True)
    + copy(1, 2, small(2), small(2), INT_MAX, INT_MAX, small(1), small(-1), True)
    + copy(2, 1, small(0), small(0), small(0), small(0), small(-6), small(4), True, entire=True)
    + [DEALLOC] + alloc_buffer(30, 2, 6, 5) + [DONE_RECORD],
    # A bottom-up screen scrolled through a second bitmap over the same rows, a pixel and a row each
    # way, keyed and opaque, with rows of over 1 KiB; then 5-byte pixels, and a bitmap whose rows
    # would run past the arena. Bitmaps: 0, 1 the screen, 2.
    "scroll-bottom-up": [ZERO_RUNS] + new_record()
    + alloc_buffer(300, 4, 2, 2, extra=4, where="at", at=700, bottom_up=True) + init_bitmap(1, 1) + alias(2, 1, 1) + clear(1, 0x01020304) + width(1, 299) + lock(2) + unlock(2)
    + copy(1, 2, small(0), small(0), small(0), small(0), small(0), small(0), True, entire=True)
    + alias(2, 1, 4) + copy(1, 2, small(0), small(0), small(0), small(0), small(1), small(-1), False, entire=True)
    + alias(2, 1, 2) + copy(2, 1, small(0), small(1), small(0), small(0), small(0), small(0), True)
    + depth(2, 8) + depth(1, 8) + copy(1, 2, small(0), small(0), small(3), small(2), small(1), small(1), False)
    + bits_at(2, 0x1F20) + clear(2, 5) + [DONE_RECORD],
    # The host keeps a screen bitmap and the record past Dealloc and Done, and gives back what it
    # kept through another record. Bitmaps: 0 placeholder, 1 first screen, 2 the later screens.
    "kept-screens": [NO_ZEROS] + new_record() + alloc_buffer(8, 8, 2, 2) + refs(BITMAP, RAISE, 1) + refs(RECORD, RAISE)
    + [DEALLOC] + alloc_buffer(6, 6, 1, 1, where="end") + layout(1, 4, 4, where="at", at=300) + clear(1, 9)
    + [DONE_RECORD] + alloc_buffer(6, 6, 5, 2, where="end", bottom_up=True) + clear(2, 0x33) + refs(BITMAP, RAISE, 0)
    + [DONE_RECORD] + new_record(R1) + give_back(0, r=R1) + [DONE_RECORD | R1],
    # The debug function makes bitmaps, clears and drops callbacks in the middle of AllocBuffer
    # (at its first five messages), Dealloc and Done. Bitmaps: 0 placeholder, 1 and 2 made before the
    # screen, 3 the screen, 4 made while readying.
    "reentrant": [ZERO_RUNS] + new_record() + [SET_CALLBACKS, 1 | 2 | 32 | 64, *u32(5)] + reenter(5)
    + alloc_buffer(10, 10, 2, 2) + init_bitmap(4, 4) + init_bitmap(3, 3) + init_bitmap(2, 2)
    + drawing(FLIP_AND_SYNC) + clear(3, 0x44)
    + reenter(3) + [DEALLOC] + clear(3, 1) + [SET_CALLBACKS, 4, 0, 0, 0, 0] + give_back(1)
    + reenter(1) + [DONE_RECORD] + init_bitmap(5, 5),
}

# Findings, each run before the bounded fuzz run of the fuzz preset.
REGRESSIONS = {
    # SetCallbacks from the debug function while unreadying, at "Deallocating surfaces" and at
    # "Deallocating all bitmaps", once took the host's surfaces up again on a driver no longer ready.
    "callbacks-set-while-unreadying": [NO_ZEROS] + new_record() + [SET_CALLBACKS, 1 | 2 | 32 | 64, *u32(5)]
    + alloc_buffer(4, 4, 2, 2) + reenter(2) + [DEALLOC] + drawing(FLIP_AND_SYNC) + [SET_CALLBACKS, 4, 0, 0, 0, 0]
    + alloc_buffer(4, 4, 2, 2) + reenter(2) + [DEALLOC] + drawing(FLIP_AND_SYNC) + [SET_CALLBACKS, 4, 0, 0, 0, 0],
    # A Done that found the screen kept by a refused unreadying, on a record whose count the host
    # raised, once left screenInfo describing the old buffer.
    "done-after-refused-unreadying": [NO_ZEROS] + new_record() + [SET_CALLBACKS, 1 | 2 | 32, *u32(5)]
    + alloc_buffer(4, 4, 2, 2) + refs(RECORD, RAISE) + [DONE_RECORD, INIT_BITMAP, 0, *size(0), *size(0)],
}


def main():
    for folder, inputs, suffix in (("corpus", SEEDS, ""), ("regressions", REGRESSIONS, ".input")):
        os.makedirs(os.path.join(HERE, folder), exist_ok=True)
        for name, data in inputs.items():
            with open(os.path.join(HERE, folder, name + suffix), "wb") as f:
                f.write(bytes(b & 0xFF for b in data))


if __name__ == "__main__":
    main()

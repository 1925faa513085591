// Building blocks shared by the vector kernel files: scalar steps for short
// rows and row ends, the repeated-pixel pattern a fill stores from, and row
// loops written once over a vector type. Nothing here is specific to an
// instruction set: x86_ops.h adds the x86 vector types, portable.cpp its own.
//
// Every file that includes this header is compiled with its own instruction
// set flags, so everything here has internal linkage: each kernel file gets
// its own copy, built for its own level, and no copy compiled for a wider
// level can ever be picked by the linker for a narrower one. For the same
// reason these files call no inline function of the standard library.
//
// Rules every loop here keeps:
// - only the bytes of a row's n pixels are read or written, never the pitch
//   padding beyond them;
// - a wide loop may start or end with a vector that overlaps its neighbour;
//   for the fill and the opaque copy that rewrites bytes with the same values,
//   and the keyed copy is idempotent (a second pass over a pixel it already
//   handled writes what is there), so overlapping is harmless while source and
//   destination are distinct memory;
// - the keyed copy of the levels without masked stores writes whole vectors
//   (or words) in which a transparent pixel receives the destination's own old
//   value (blend with the destination), and writes nothing where all of them
//   are transparent (in a row's body: where the four vectors tested together
//   are). The bytes rewritten that way all lie inside the row's n pixels and
//   keep their values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "pixels.h"

namespace vantu {
namespace {

// ---- Scalar steps -----------------------------------------------------------------------------

// The position of the lowest set bit of `bits`, which must not be 0.
inline uint32_t LowestSetBit(uint32_t bits) {
#if defined(__GNUC__)
    return static_cast<uint32_t>(__builtin_ctz(bits));
#else
    uint32_t at = 0;
    for (; (bits & 1u) == 0; bits >>= 1)
        ++at;
    return at;
#endif
}

// Keyed copy of `n` pixels one at a time.
template <int P>
inline void KeyedPixels(uint8_t *dst, const uint8_t *src, size_t n) {
    for (size_t i = 0; i < n; ++i, dst += P, src += P) {
        uint32_t value = 0;
        std::memcpy(&value, src, P);
        if (value != 0)
            std::memcpy(dst, src, P);
    }
}

// The word of type U whose P-byte lanes each hold the lane's low bits all set
// and its top bit clear (0x7F7F..., 0x7FFF7FFF..., 0x7FFFFFFF...).
template <int P, class U>
constexpr U LaneLowBits() {
    U word = 0;
    for (size_t at = 0; at < sizeof(U); at += P)
        word |= static_cast<U>(((U{1} << (8 * P - 1)) - 1) << (8 * at));
    return word;
}

// Keyed result of one word of 1-, 2- or 4-byte pixels (sizeof(U) a multiple
// of P) in general-purpose registers, over the destination word `d`; false
// when every pixel of the word is transparent (nothing to store).
template <int P, class U>
inline bool KeyedWord(U s, U &d) {
    constexpr U low = LaneLowBits<P, U>();
    // A lane's top bit ends up set where the whole lane is 0.
    const U clear = ~(((s & low) + low) | s) & ~low;
    if (clear == static_cast<U>(~low))
        return false;
    const U keep = clear | (clear - (clear >> (8 * P - 1)));
    d = (s & ~keep) | (d & keep);
    return true;
}

// Keyed copy of the two words of type U at the ends of a row of `bytes`
// bytes (from one to two words), both worked out before either is stored.
template <int P, class U>
inline void KeyedWordPair(uint8_t *dst, const uint8_t *src, size_t bytes) {
    U s0, s1, d0, d1;
    std::memcpy(&s0, src, sizeof s0);
    std::memcpy(&s1, src + bytes - sizeof s1, sizeof s1);
    std::memcpy(&d0, dst, sizeof d0);
    std::memcpy(&d1, dst + bytes - sizeof d1, sizeof d1);
    const bool store0 = KeyedWord<P>(s0, d0), store1 = KeyedWord<P>(s1, d1);
    if (store0)
        std::memcpy(dst, &d0, sizeof d0);
    if (store1)
        std::memcpy(dst + bytes - sizeof d1, &d1, sizeof d1);
}

// Keyed copy of rows of fewer than 16 bytes of 1-, 2- or 4-byte pixels; the
// row loop is chosen once for all rows.
// Keyed copy of a row of exactly one word of type U.
template <int P, class U>
inline void KeyedOneWord(uint8_t *dst, const uint8_t *src) {
    U s, d;
    std::memcpy(&s, src, sizeof s);
    std::memcpy(&d, dst, sizeof d);
    if (KeyedWord<P>(s, d))
        std::memcpy(dst, &d, sizeof d);
}

template <int P>
inline void KeyedShortRows(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch, size_t bytes,
                           int32_t rows) {
    // Rows of one word (8x8 sprites of 1-byte pixels, say) need it once, not
    // as two words that coincide.
    if (bytes == 8) {
        for (int32_t y = 0; y < rows; ++y)
            KeyedOneWord<P, uint64_t>(dst + y * dstPitch, src + y * srcPitch);
    } else if (bytes == 4) {
        for (int32_t y = 0; y < rows; ++y)
            KeyedOneWord<P, uint32_t>(dst + y * dstPitch, src + y * srcPitch);
    } else if (bytes >= 8) {
        for (int32_t y = 0; y < rows; ++y)
            KeyedWordPair<P, uint64_t>(dst + y * dstPitch, src + y * srcPitch, bytes);
    } else if (bytes >= 4) {
        for (int32_t y = 0; y < rows; ++y)
            KeyedWordPair<P, uint32_t>(dst + y * dstPitch, src + y * srcPitch, bytes);
    } else {
        for (int32_t y = 0; y < rows; ++y)
            KeyedPixels<P>(dst + y * dstPitch, src + y * srcPitch, bytes / P);
    }
}

// Copy of fewer than 16 bytes in at most two (possibly overlapping) moves.
inline void CopyShort(uint8_t *dst, const uint8_t *src, size_t bytes) {
    if (bytes >= 8) {
        uint64_t head, tail;
        std::memcpy(&head, src, 8);
        std::memcpy(&tail, src + bytes - 8, 8);
        std::memcpy(dst, &head, 8);
        std::memcpy(dst + bytes - 8, &tail, 8);
    } else if (bytes >= 4) {
        uint32_t head, tail;
        std::memcpy(&head, src, 4);
        std::memcpy(&tail, src + bytes - 4, 4);
        std::memcpy(dst, &head, 4);
        std::memcpy(dst + bytes - 4, &tail, 4);
    } else if (bytes >= 2) {
        uint16_t head, tail;
        std::memcpy(&head, src, 2);
        std::memcpy(&tail, src + bytes - 2, 2);
        std::memcpy(dst, &head, 2);
        std::memcpy(dst + bytes - 2, &tail, 2);
    } else if (bytes == 1) {
        *dst = *src;
    }
}

// Fill of fewer than 16 bytes from a pattern that starts at the row's first
// pixel: byte i of the row gets pattern byte i.
inline void FillShort(uint8_t *dst, const uint8_t *pattern, size_t bytes) {
    size_t at = 0;
    if (bytes & 8) {
        std::memcpy(dst, pattern, 8);
        at = 8;
    }
    if (bytes & 4) {
        std::memcpy(dst + at, pattern + at, 4);
        at += 4;
    }
    if (bytes & 2) {
        std::memcpy(dst + at, pattern + at, 2);
        at += 2;
    }
    if (bytes & 1)
        dst[at] = pattern[at];
}

// Rows narrower than one vector, for the levels whose widest vector is 16
// bytes (their vector types derive from this); wider levels route such rows
// to 16-byte steps first.
struct NarrowRows16 {
    template <int P>
    static void FillShortRow(uint8_t *row, size_t bytes, const uint8_t *pattern) {
        FillShort(row, pattern, bytes);
    }
    static void CopyShortRow(uint8_t *dst, const uint8_t *src, size_t bytes) { CopyShort(dst, src, bytes); }
    template <int P>
    static void KeyedNarrowRows(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch,
                                size_t bytes, int32_t rows) {
        KeyedShortRows<P>(dst, dstPitch, src, srcPitch, bytes, rows);
    }
};

// ---- Row order ------------------------------------------------------------------------------------

// Rows of bottom-up surfaces (negative pitches) are walked from the last one,
// so in the order they lie in memory, which the hardware prefetchers follow
// best: a row that starts below the one before is a new stream for them, and
// the 128-bit levels lost up to a fifth of their speed to that. Only where
// the order is free: no two rows of a surface share a byte, and the source's
// rows share none with the destination's (the caller walks rows of a
// surface scrolled over itself in the order the overlap needs).
inline void RowsUpwards(uint8_t *&dst, ptrdiff_t &dstPitch, size_t bytes, int32_t rows) {
    if (rows > 1 && dstPitch < 0 && static_cast<size_t>(-dstPitch) >= bytes) {
        dst += (rows - 1) * dstPitch;
        dstPitch = -dstPitch;
    }
}

// Rows of `dstBytes` bytes in the destination, of `srcBytes` in the source.
inline void RowsUpwards(uint8_t *&dst, ptrdiff_t &dstPitch, size_t dstBytes, const uint8_t *&src, ptrdiff_t &srcPitch,
                        size_t srcBytes, int32_t rows) {
    if (rows < 2 || dstPitch >= 0 || srcPitch >= 0 || static_cast<size_t>(-dstPitch) < dstBytes ||
        static_cast<size_t>(-srcPitch) < srcBytes)
        return;
    uint8_t *const dstLast = dst + (rows - 1) * dstPitch;
    const uint8_t *const srcLast = src + (rows - 1) * srcPitch;
    const auto dstLo = reinterpret_cast<uintptr_t>(dstLast), dstHi = reinterpret_cast<uintptr_t>(dst) + dstBytes;
    const auto srcLo = reinterpret_cast<uintptr_t>(srcLast), srcHi = reinterpret_cast<uintptr_t>(src) + srcBytes;
    if (dstHi > srcLo && srcHi > dstLo)
        return;
    dst = dstLast;
    dstPitch = -dstPitch;
    src = srcLast;
    srcPitch = -srcPitch;
}

inline void RowsUpwards(uint8_t *&dst, ptrdiff_t &dstPitch, const uint8_t *&src, ptrdiff_t &srcPitch, size_t bytes,
                        int32_t rows) {
    RowsUpwards(dst, dstPitch, bytes, src, srcPitch, bytes, rows);
}

// ---- Fill pattern ---------------------------------------------------------------------------------

// Room for three vectors of `width` bytes read at any phase below 4.
constexpr size_t PatternSize(size_t width) { return 3 * width + 16; }

// `size` bytes repeating the P-byte pixel (low bytes of `pixel`, machine byte
// order). Byte i of the pattern belongs at byte i of a row, and at byte j of a
// row the pattern continues from offset j % P.
template <int P>
inline void BuildPattern(uint8_t *pattern, size_t size, uint32_t pixel) {
    if constexpr (P == 3) {
        // 48 bytes hold a whole number of 3-byte pixels; the rest repeats them.
        for (size_t i = 0; i < 48; i += 3)
            std::memcpy(pattern + i, &pixel, 3);
        for (size_t at = 48; at < size; at += 48)
            std::memcpy(pattern + at, pattern, size - at < 48 ? size - at : 48);
    } else {
        uint32_t word = pixel;
        if constexpr (P == 1)
            word = (pixel & 0xFFu) * 0x01010101u;
        else if constexpr (P == 2)
            word = (pixel & 0xFFFFu) * 0x00010001u;
        for (size_t i = 0; i + 4 <= size; i += 4)
            std::memcpy(pattern + i, &word, 4);
    }
}

// ---- Row loops over a vector type -------------------------------------------------------------------
//
// A vector type V supplies: kWidth (bytes), LoadU, StoreU, StoreA (aligned),
// and for the keyed copy Transparent<P> (a mask of the transparent pixels:
// their lanes all ones, or a mask register), All (whether every pixel of a
// mask is transparent), Merge(s, d, mask) (s with the masked lanes taken
// from d) and Keyed3Row (3-byte pixels). FillShortRow, CopyShortRow and KeyedNarrowRows handle rows
// narrower than one vector.

// One row of `bytes` bytes (a whole number of P-byte pixels, at least one
// vector): an unaligned head store, aligned stores of three vectors at a time,
// then a final unaligned store that ends exactly at the row's end.
template <class V, int P>
inline void FillRowWide(uint8_t *row, size_t bytes, const uint8_t *pattern) {
    constexpr size_t W = V::kWidth;
    V::StoreU(row, V::LoadU(pattern));
    size_t at = W - (reinterpret_cast<uintptr_t>(row) & (W - 1));
    const uint8_t *phase = pattern + at % P;
    const auto v0 = V::LoadU(phase);
    const auto v1 = V::LoadU(phase + W);
    const auto v2 = V::LoadU(phase + 2 * W);
    for (; at + 3 * W <= bytes; at += 3 * W) {
        V::StoreA(row + at, v0);
        V::StoreA(row + at + W, v1);
        V::StoreA(row + at + 2 * W, v2);
    }
    if (at + W <= bytes) {
        V::StoreA(row + at, v0);
        at += W;
        if (at + W <= bytes) {
            V::StoreA(row + at, v1);
            at += W;
        }
    }
    if (at < bytes)
        V::StoreU(row + bytes - W, V::LoadU(pattern + (bytes - W) % P));
}

template <class V, int P>
void FillRect(uint8_t *dst, ptrdiff_t pitch, int32_t n, int32_t rows, uint32_t pixel) {
    uint8_t pattern[PatternSize(V::kWidth)];
    BuildPattern<P>(pattern, sizeof pattern, pixel);
    const size_t bytes = static_cast<size_t>(n) * P;
    RowsUpwards(dst, pitch, bytes, rows);
    for (int32_t y = 0; y < rows; ++y) {
        uint8_t *row = dst + y * pitch;
        if (bytes >= V::kWidth)
            FillRowWide<V, P>(row, bytes, pattern);
        else
            V::template FillShortRow<P>(row, bytes, pattern);
    }
}

// Opaque copy of one row of at least one vector.
template <class V>
inline void CopyRowWide(uint8_t *dst, const uint8_t *src, size_t bytes) {
    constexpr size_t W = V::kWidth;
    size_t at = 0;
    for (; at + 2 * W <= bytes; at += 2 * W) {
        const auto a = V::LoadU(src + at);
        const auto b = V::LoadU(src + at + W);
        V::StoreU(dst + at, a);
        V::StoreU(dst + at + W, b);
    }
    if (at + W <= bytes) {
        V::StoreU(dst + at, V::LoadU(src + at));
        at += W;
    }
    if (at < bytes)
        V::StoreU(dst + bytes - W, V::LoadU(src + bytes - W));
}

// Rows at least this long go to the C library's copy, which is as fast as a
// copy gets there; shorter ones are cheaper inline than a call.
inline constexpr size_t kLibraryCopyBytes = 1024;

template <class V>
void CopyRect(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch, int32_t n, int32_t rows) {
    const auto bytes = static_cast<size_t>(n);
    RowsUpwards(dst, dstPitch, src, srcPitch, bytes, rows);
    for (int32_t y = 0; y < rows; ++y) {
        uint8_t *d = dst + y * dstPitch;
        const uint8_t *s = src + y * srcPitch;
        if (bytes >= kLibraryCopyBytes)
            std::memcpy(d, s, bytes);
        else if (bytes >= V::kWidth)
            CopyRowWide<V>(d, s, bytes);
        else
            V::CopyShortRow(d, s, bytes);
    }
}

// Keyed copy of one loaded vector `s` of 1-, 2- or 4-byte pixels whose
// transparent lanes are `clear` (all ones there, and `s` all zeros there):
// not written when every pixel is transparent, otherwise the destination's
// own values fill the transparent lanes. A wholly opaque vector is stored the
// same way, destination read included: telling it apart takes a branch that
// mispredicts where opaque and mixed vectors alternate, which costs more
// than the read, even from memory beyond the caches.
template <class V, class Vec, class Mask>
inline void KeyedStore(uint8_t *dst, Vec s, Mask clear) {
    if (!V::All(clear))
        V::StoreU(dst, V::Merge(s, V::LoadU(dst), clear));
}

template <class V, int P>
inline void KeyedVector(uint8_t *dst, const uint8_t *src) {
    const auto s = V::LoadU(src);
    KeyedStore<V>(dst, s, V::template Transparent<P>(s));
}

// The keyed result of the vector at `src` over the destination as it is now,
// for StoreResult to store later (or not, when every pixel is transparent).
template <class V>
struct KeyedResult {
    decltype(V::LoadU(nullptr)) value;
    bool store;
};

template <class V, int P>
inline KeyedResult<V> KeyedLoad(const uint8_t *dst, const uint8_t *src) {
    const auto s = V::LoadU(src);
    const auto clear = V::template Transparent<P>(s);
    if (V::All(clear))
        return {s, false};
    return {V::Merge(s, V::LoadU(dst), clear), true};
}

template <class V>
inline void StoreResult(uint8_t *dst, const KeyedResult<V> &r) {
    if (r.store)
        V::StoreU(dst, r.value);
}

// Where vectors of a row overlap, both are worked out from the destination
// before either is stored: a vector that read the destination just after an
// overlapping store would wait for that store (a store that covers only part
// of a load cannot forward to it), and the overlapped pixels get the same
// values from either.

// A row of more than one and at most two vectors: one at each end.
template <class V, int P>
inline void KeyedRowPair(uint8_t *dst, const uint8_t *src, size_t bytes) {
    constexpr size_t W = V::kWidth;
    const KeyedResult<V> first = KeyedLoad<V, P>(dst, src);
    const KeyedResult<V> last = KeyedLoad<V, P>(dst + bytes - W, src + bytes - W);
    StoreResult<V>(dst, first);
    StoreResult<V>(dst + bytes - W, last);
}

// Vectors from `at` to `end` (a whole number of them), four at a time while
// there are four, so that four loads are in flight.
template <class V, int P>
inline void KeyedBody(uint8_t *dst, const uint8_t *src, size_t at, size_t end) {
    constexpr size_t W = V::kWidth;
    for (; at + 4 * W <= end; at += 4 * W) {
        const auto s0 = V::LoadU(src + at), s1 = V::LoadU(src + at + W);
        const auto s2 = V::LoadU(src + at + 2 * W), s3 = V::LoadU(src + at + 3 * W);
        const auto c0 = V::template Transparent<P>(s0), c1 = V::template Transparent<P>(s1);
        const auto c2 = V::template Transparent<P>(s2), c3 = V::template Transparent<P>(s3);
        // One test for the four: a wholly transparent run is skipped, and
        // the other vectors are all stored, a wholly transparent one among
        // them with the destination's own bytes. A test per vector cost a
        // third of the work in the 128-bit levels.
        if (V::All(V::And(V::And(c0, c1), V::And(c2, c3))))
            continue;
        V::StoreU(dst + at, V::Merge(s0, V::LoadU(dst + at), c0));
        V::StoreU(dst + at + W, V::Merge(s1, V::LoadU(dst + at + W), c1));
        V::StoreU(dst + at + 2 * W, V::Merge(s2, V::LoadU(dst + at + 2 * W), c2));
        V::StoreU(dst + at + 3 * W, V::Merge(s3, V::LoadU(dst + at + 3 * W), c3));
    }
    for (; at < end; at += W)
        KeyedVector<V, P>(dst + at, src + at);
}

// A row of more than two vectors: the body from its start, and a tail vector
// that ends at the row's end, stored after the body it overlaps.
template <class V, int P>
inline void KeyedRowMedium(uint8_t *dst, const uint8_t *src, size_t bytes) {
    constexpr size_t W = V::kWidth;
    const size_t end = bytes / W * W;
    if (end == bytes) {
        KeyedBody<V, P>(dst, src, 0, end);
        return;
    }
    const KeyedResult<V> tail = KeyedLoad<V, P>(dst + bytes - W, src + bytes - W);
    KeyedBody<V, P>(dst, src, 0, end);
    StoreResult<V>(dst + bytes - W, tail);
}

// Rows at least this long start their body where the destination is aligned
// to a vector of 32 bytes or more; in shorter ones a few split stores cost
// less than the extra vector, and so they do in rows of 16-byte vectors, of
// which only one in four crosses a cache line.
inline constexpr size_t kAlignKeyedBytes = 256;

// A long row: where the destination's pixels are aligned to their size (which
// lets a vector start on a pixel at any vector boundary), the body starts at
// the first vector boundary, after a head vector at the row's start, stored
// after the body it overlaps.
template <class V, int P>
inline void KeyedRowLong(uint8_t *dst, const uint8_t *src, size_t bytes) {
    constexpr size_t W = V::kWidth;
    const auto misalign = static_cast<size_t>(reinterpret_cast<uintptr_t>(dst) & (W - 1));
    if (misalign == 0 || misalign % P != 0) {
        KeyedRowMedium<V, P>(dst, src, bytes);
        return;
    }
    const size_t start = W - misalign;
    const size_t end = start + (bytes - start) / W * W;
    const KeyedResult<V> head = KeyedLoad<V, P>(dst, src);
    KeyedResult<V> tail{};
    if (end < bytes)
        tail = KeyedLoad<V, P>(dst + bytes - W, src + bytes - W);
    KeyedBody<V, P>(dst, src, start, end);
    StoreResult<V>(dst, head);
    if (end < bytes)
        StoreResult<V>(dst + bytes - W, tail);
}

// Keyed copy of rows of 1-, 2- or 4-byte pixels, those narrower than one
// vector through V::KeyedNarrowRows; the row loop is chosen once for all rows.
template <class V, int P>
inline void KeyedRows(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch, size_t bytes,
                      int32_t rows) {
    constexpr size_t W = V::kWidth;
    if (bytes < W) {
        V::template KeyedNarrowRows<P>(dst, dstPitch, src, srcPitch, bytes, rows);
    } else if (bytes == W) {
        for (int32_t y = 0; y < rows; ++y)
            KeyedVector<V, P>(dst + y * dstPitch, src + y * srcPitch);
    } else if (bytes <= 2 * W) {
        for (int32_t y = 0; y < rows; ++y)
            KeyedRowPair<V, P>(dst + y * dstPitch, src + y * srcPitch, bytes);
    } else if (W < 32 || bytes < kAlignKeyedBytes) {
        for (int32_t y = 0; y < rows; ++y)
            KeyedRowMedium<V, P>(dst + y * dstPitch, src + y * srcPitch, bytes);
    } else {
        for (int32_t y = 0; y < rows; ++y)
            KeyedRowLong<V, P>(dst + y * dstPitch, src + y * srcPitch, bytes);
    }
}

template <class V, int P>
void CopyKeyedRect(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch, int32_t n,
                   int32_t rows) {
    const size_t bytes = static_cast<size_t>(n) * P;
    RowsUpwards(dst, dstPitch, src, srcPitch, bytes, rows);
    if constexpr (P == 3) {
        for (int32_t y = 0; y < rows; ++y)
            V::Keyed3Row(dst + y * dstPitch, src + y * srcPitch, bytes);
    } else {
        KeyedRows<V, P>(dst, dstPitch, src, srcPitch, bytes, rows);
    }
}

// ---- Palette expansion ----------------------------------------------------------------------------
//
// One table load per pixel is the bound without a byte permutation of 256
// entries (AVX-512 VBMI has one). Four lookups and then their four stores
// measured fastest of the plain ways; combining pixel pairs into 8-byte
// stores (shifts and ORs) took half as long again, and gathers were slower
// than either on the CPU measured. x86_ops.h builds 16-byte vectors instead.

inline void ExpandRow(uint8_t *dst, const uint8_t *src, size_t n, const uint32_t *lut) {
    size_t x = 0;
    for (; x + 4 <= n; x += 4) {
        const uint32_t a = lut[src[x]], b = lut[src[x + 1]], c = lut[src[x + 2]], d = lut[src[x + 3]];
        std::memcpy(dst + 4 * x, &a, 4);
        std::memcpy(dst + 4 * x + 4, &b, 4);
        std::memcpy(dst + 4 * x + 8, &c, 4);
        std::memcpy(dst + 4 * x + 12, &d, 4);
    }
    for (; x < n; ++x)
        std::memcpy(dst + 4 * x, &lut[src[x]], 4);
}

// Palette expansion over rows; Row(dst, src, n, lut) expands one.
template <void (*Row)(uint8_t *, const uint8_t *, size_t, const uint32_t *)>
void ExpandRect(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch, int32_t n, int32_t rows,
                const uint32_t *lut) {
    const auto count = static_cast<size_t>(n);
    RowsUpwards(dst, dstPitch, 4 * count, src, srcPitch, count, rows);
    for (int32_t y = 0; y < rows; ++y)
        Row(dst + y * dstPitch, src + y * srcPitch, count, lut);
}

// ---- Palette search -------------------------------------------------------------------------------
//
// Every entry's distance at once, kWidth / 4 entries to a vector. Bytes are
// biased by 0x80, which turns signed order into unsigned order and keeps
// differences, so a saturating subtraction both ways gives |a - b| per byte.
// Each lane's key is distance << 8 | index: the smallest key is the nearest
// entry, the lowest index among equals. Entry 0 gets the largest key. Needs,
// besides the loads: Set1, Xor, And, Or, AbsDiffU8, Add32, Srli32, Slli32, Min32.

template <class V>
uint32_t NearestEntry(const uint32_t *entries, uint32_t colour) {
    constexpr size_t kLanes = V::kWidth / 4;
    static constexpr uint32_t kIndex[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    static constexpr uint32_t kNotEntry0[16] = {0x7FFFFFFFu};
    const auto bias = V::Set1(0x80808080u);
    const auto c = V::Set1(colour ^ 0x80808080u);
    const auto rgb = V::Set1(0x00FFFFFFu);
    const auto low = V::Set1(0xFFu);
    const auto step = V::Set1(static_cast<uint32_t>(kLanes));
    auto index = V::LoadU(reinterpret_cast<const uint8_t *>(kIndex));
    const auto notEntry0 = V::LoadU(reinterpret_cast<const uint8_t *>(kNotEntry0));
    auto best = V::Set1(0x7FFFFFFFu);
    for (size_t i = 0; i < 256; i += kLanes) {
        const auto e = V::Xor(V::LoadU(reinterpret_cast<const uint8_t *>(entries + i)), bias);
        const auto d = V::And(V::AbsDiffU8(e, c), rgb);
        const auto dist =
            V::Add32(V::Add32(V::And(d, low), V::And(V::template Srli32<8>(d), low)), V::template Srli32<16>(d));
        auto key = V::Or(V::template Slli32<8>(dist), index);
        if (i == 0)
            key = V::Or(key, notEntry0); // entry 0: 0x7FFFFFFF, above every real key
        best = V::Min32(best, key);
        index = V::Add32(index, step);
    }
    uint32_t lanes[kLanes];
    V::StoreU(reinterpret_cast<uint8_t *>(lanes), best);
    uint32_t least = lanes[0];
    for (size_t i = 1; i < kLanes; ++i)
        least = lanes[i] < least ? lanes[i] : least;
    return least & 0xFFu;
}

// The table of a level whose kernels are the loops above over vector type V.
template <class V>
constexpr PixelKernels MakeKernels(const char *name, const char *variant,
                                   NearestEntryFn nearestEntry = NearestEntry<V>,
                                   ExpandRectFn expandPalette = ExpandRect<ExpandRow>) {
    return PixelKernels{
        name,
        variant,
        {nullptr, FillRect<V, 1>, FillRect<V, 2>, FillRect<V, 3>, FillRect<V, 4>},
        CopyRect<V>,
        {nullptr, CopyKeyedRect<V, 1>, CopyKeyedRect<V, 2>, CopyKeyedRect<V, 3>, CopyKeyedRect<V, 4>},
        nearestEntry,
        expandPalette,
    };
}

} // namespace
} // namespace vantu

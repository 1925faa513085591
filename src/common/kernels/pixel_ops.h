// Building blocks shared by the SIMD kernel files: scalar per-pixel steps for
// row tails, the repeated-pixel pattern a fill stores from, and row loops
// written once over a vector type.
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
// - a wide loop may end with a vector that overlaps the previous one; for the
//   fill and the opaque copy that rewrites bytes with the same values, and the
//   keyed copy is idempotent (a second pass over a pixel it already handled
//   writes what is there), so overlapping is harmless while source and
//   destination are distinct memory;
// - the keyed copy of the 128- and 256-bit levels writes whole vectors in
//   which a transparent pixel receives the destination's own old value (blend
//   with the destination). The bytes rewritten that way all lie inside the
//   row's n pixels and keep their values; the levels with mask registers
//   write only the opaque pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include <immintrin.h>

namespace vantu {
namespace {

// ---- Scalar steps -----------------------------------------------------------------------------

// Keyed copy of `n` pixels one at a time: the tail of every wide loop.
template <int P>
inline void KeyedPixels(uint8_t *dst, const uint8_t *src, size_t n) {
    for (size_t i = 0; i < n; ++i, dst += P, src += P) {
        uint32_t value = 0;
        std::memcpy(&value, src, P);
        if (value != 0)
            std::memcpy(dst, src, P);
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
// and for the blending keyed copy ZeroMask<P> (lanes of transparent pixels all
// ones), MaskBits (one bit per byte), kAllBits and Blend(src, dst, mask).
// FillShortRow, CopyShortRow and KeyedShortRow handle rows narrower than one
// vector.

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
void CopyRect(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch, int32_t n,
              int32_t rows) {
    const auto bytes = static_cast<size_t>(n);
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

// Keyed copy of one vector of 1-, 2- or 4-byte pixels, blending transparent
// lanes with the destination's own value. A vector that is all transparent is
// not written; one without transparent pixels is stored without reading the
// destination.
template <class V, int P>
inline void KeyedVector(uint8_t *dst, const uint8_t *src) {
    const auto s = V::LoadU(src);
    const auto clear = V::template ZeroMask<P>(s);
    const uint32_t bits = V::MaskBits(clear);
    if (bits == 0)
        V::StoreU(dst, s);
    else if (bits != V::kAllBits)
        V::StoreU(dst, V::Blend(s, V::LoadU(dst), clear));
}

template <class V, int P>
inline void KeyedRowWide(uint8_t *dst, const uint8_t *src, size_t bytes) {
    constexpr size_t W = V::kWidth;
    size_t at = 0;
    for (; at + W <= bytes; at += W)
        KeyedVector<V, P>(dst + at, src + at);
    // W is a multiple of P, so the last vector starts on a pixel.
    if (at < bytes)
        KeyedVector<V, P>(dst + bytes - W, src + bytes - W);
}

// Keyed copy of 3-byte pixels, four at a time in 16-byte vectors: the vector
// at byte 12k holds pixels 4k to 4k+3 and the first 4 bytes of the next
// pixels, which keep the destination's value (and are rewritten in the next
// step). Needs 16 readable bytes, so the last pixels of a row go singly.
inline void Keyed3Row128(uint8_t *dst, const uint8_t *src, size_t bytes) {
    // Bytes 0, 3, 6 and 9: the first byte of each of the four pixels.
    const __m128i firstBytes = _mm_setr_epi8(-1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, 0, 0, 0, 0);
    // Bytes 12 to 15 belong to the next step.
    const __m128i spill = _mm_setr_epi32(0, 0, 0, -1);
    const __m128i zero = _mm_setzero_si128();
    size_t at = 0;
    for (; at + 16 <= bytes; at += 12) {
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + at));
        const __m128i z = _mm_cmpeq_epi8(s, zero);
        // All ones at a pixel's first byte when its three bytes are 0 ...
        __m128i keep = _mm_and_si128(_mm_and_si128(z, _mm_srli_si128(z, 1)), _mm_srli_si128(z, 2));
        keep = _mm_and_si128(keep, firstBytes);
        // ... spread over the pixel's three bytes.
        keep = _mm_or_si128(_mm_or_si128(keep, _mm_slli_si128(keep, 1)), _mm_slli_si128(keep, 2));
        keep = _mm_or_si128(keep, spill);
        if (_mm_movemask_epi8(keep) == 0xFFFF)
            continue;
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i *>(dst + at));
        const __m128i r = _mm_or_si128(_mm_andnot_si128(keep, s), _mm_and_si128(keep, d));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + at), r);
    }
    KeyedPixels<3>(dst + at, src + at, (bytes - at) / 3);
}

template <class V, int P>
void CopyKeyedRect(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch, int32_t n,
                   int32_t rows) {
    const size_t bytes = static_cast<size_t>(n) * P;
    for (int32_t y = 0; y < rows; ++y) {
        uint8_t *d = dst + y * dstPitch;
        const uint8_t *s = src + y * srcPitch;
        if constexpr (P == 3)
            Keyed3Row128(d, s, bytes);
        else if (bytes >= V::kWidth)
            KeyedRowWide<V, P>(d, s, bytes);
        else
            V::template KeyedShortRow<P>(d, s, bytes);
    }
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
        const auto dist = V::Add32(V::Add32(V::And(d, low), V::And(V::template Srli32<8>(d), low)),
                                   V::template Srli32<16>(d));
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

// ---- 128-bit vectors (SSE2 instructions only) ----------------------------------------------------

struct Vec128 {
    static constexpr size_t kWidth = 16;
    static constexpr uint32_t kAllBits = 0xFFFFu;

    static __m128i LoadU(const uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }
    static void StoreU(uint8_t *p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v); }
    static void StoreA(uint8_t *p, __m128i v) { _mm_store_si128(reinterpret_cast<__m128i *>(p), v); }

    template <int P>
    static __m128i ZeroMask(__m128i v) {
        const __m128i zero = _mm_setzero_si128();
        if constexpr (P == 1)
            return _mm_cmpeq_epi8(v, zero);
        else if constexpr (P == 2)
            return _mm_cmpeq_epi16(v, zero);
        else
            return _mm_cmpeq_epi32(v, zero);
    }
    static uint32_t MaskBits(__m128i mask) { return static_cast<uint32_t>(_mm_movemask_epi8(mask)); }
    static __m128i Blend(__m128i src, __m128i dst, __m128i keep) {
        return _mm_or_si128(_mm_andnot_si128(keep, src), _mm_and_si128(keep, dst));
    }

    static __m128i Set1(uint32_t x) { return _mm_set1_epi32(static_cast<int>(x)); }
    static __m128i Xor(__m128i a, __m128i b) { return _mm_xor_si128(a, b); }
    static __m128i And(__m128i a, __m128i b) { return _mm_and_si128(a, b); }
    static __m128i Or(__m128i a, __m128i b) { return _mm_or_si128(a, b); }
    static __m128i AbsDiffU8(__m128i a, __m128i b) { return _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a)); }
    static __m128i Add32(__m128i a, __m128i b) { return _mm_add_epi32(a, b); }
    template <int N>
    static __m128i Srli32(__m128i v) { return _mm_srli_epi32(v, N); }
    template <int N>
    static __m128i Slli32(__m128i v) { return _mm_slli_epi32(v, N); }
    static __m128i Min32(__m128i a, __m128i b) { return Blend(a, b, _mm_cmpgt_epi32(a, b)); }

    template <int P>
    static void FillShortRow(uint8_t *row, size_t bytes, const uint8_t *pattern) {
        FillShort(row, pattern, bytes);
    }
    static void CopyShortRow(uint8_t *dst, const uint8_t *src, size_t bytes) { CopyShort(dst, src, bytes); }
    template <int P>
    static void KeyedShortRow(uint8_t *dst, const uint8_t *src, size_t bytes) {
        KeyedPixels<P>(dst, src, bytes / P);
    }
};

// The table of a level whose kernels are the loops above over vector type V.
template <class V>
constexpr PixelKernels MakeKernels(const char *name) {
    return PixelKernels{
        name,
        {nullptr, FillRect<V, 1>, FillRect<V, 2>, FillRect<V, 3>, FillRect<V, 4>},
        CopyRect<V>,
        {nullptr, CopyKeyedRect<V, 1>, CopyKeyedRect<V, 2>, CopyKeyedRect<V, 3>, CopyKeyedRect<V, 4>},
        NearestEntry<V>,
    };
}

} // namespace
} // namespace vantu

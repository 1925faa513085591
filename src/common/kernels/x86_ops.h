// The x86 pieces the SSE2, AVX2 and AVX-512 kernel files share: the 128-bit
// vector type (SSE2 instructions only) and the keyed copy of 3-byte pixels in
// 128-bit steps. Internal linkage, as everything in pixel_ops.h.
#pragma once

#include <immintrin.h>

#include "pixel_ops.h"

namespace vantu {
namespace {

// Keyed copy of 3-byte pixels, four at a time in 16-byte vectors: the vector
// at byte 12k holds pixels 4k to 4k+3 and 4 bytes of the next pixels, which
// keep the destination's value (and are rewritten in the next step). Four
// such steps make a group of 48 bytes, all worked out from the destination
// before any is stored (a step reading the destination just after the
// previous step's overlapping store would wait for that store), the last one
// stored without its 4 spilled bytes, so that the next group's reads overlap
// no store. Needs 16 readable bytes per step; the last pixels go singly.
inline __m128i Keep3(__m128i s) {
    // Bytes 0, 3, 6 and 9: the first byte of each of the four pixels.
    const __m128i firstBytes = _mm_setr_epi8(-1, 0, 0, -1, 0, 0, -1, 0, 0, -1, 0, 0, 0, 0, 0, 0);
    // Bytes 12 to 15 belong to the next step.
    const __m128i spill = _mm_setr_epi32(0, 0, 0, -1);
    const __m128i z = _mm_cmpeq_epi8(s, _mm_setzero_si128());
    // All ones at a pixel's first byte when its three bytes are 0 ...
    __m128i keep = _mm_and_si128(_mm_and_si128(z, _mm_srli_si128(z, 1)), _mm_srli_si128(z, 2));
    keep = _mm_and_si128(keep, firstBytes);
    // ... spread over the pixel's three bytes.
    keep = _mm_or_si128(_mm_or_si128(keep, _mm_slli_si128(keep, 1)), _mm_slli_si128(keep, 2));
    return _mm_or_si128(keep, spill);
}

// The step at `at`: whether to store it, and the vector to store.
inline bool Keyed3Step(const uint8_t *dst, const uint8_t *src, __m128i &out) {
    const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src));
    const __m128i keep = Keep3(s);
    if (_mm_movemask_epi8(keep) == 0xFFFF)
        return false;
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i *>(dst));
    out = _mm_or_si128(_mm_andnot_si128(keep, s), _mm_and_si128(keep, d));
    return true;
}

inline void Keyed3Row128(uint8_t *dst, const uint8_t *src, size_t bytes) {
    size_t at = 0;
    for (; at + 52 <= bytes; at += 48) {
        __m128i r[4];
        bool store[4];
        for (int k = 0; k < 4; ++k)
            store[k] = Keyed3Step(dst + at + 12 * k, src + at + 12 * k, r[k]);
        for (int k = 0; k < 3; ++k)
            if (store[k])
                _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + at + 12 * k), r[k]);
        if (store[3]) {
            _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + at + 36), r[3]);
            const int last = _mm_cvtsi128_si32(_mm_srli_si128(r[3], 8));
            std::memcpy(dst + at + 44, &last, 4);
        }
    }
    for (; at + 16 <= bytes; at += 12) {
        __m128i r;
        if (Keyed3Step(dst + at, src + at, r))
            _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + at), r);
    }
    KeyedPixels<3>(dst + at, src + at, (bytes - at) / 3);
}

struct Vec128 {
    static constexpr size_t kWidth = 16;

    static __m128i LoadU(const uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }
    static void StoreU(uint8_t *p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v); }
    static void StoreA(uint8_t *p, __m128i v) { _mm_store_si128(reinterpret_cast<__m128i *>(p), v); }

    template <int P>
    static __m128i Transparent(__m128i v) {
        const __m128i zero = _mm_setzero_si128();
        if constexpr (P == 1)
            return _mm_cmpeq_epi8(v, zero);
        else if constexpr (P == 2)
            return _mm_cmpeq_epi16(v, zero);
        else
            return _mm_cmpeq_epi32(v, zero);
    }
    static bool All(__m128i mask) { return _mm_movemask_epi8(mask) == 0xFFFF; }

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
    static __m128i Min32(__m128i a, __m128i b) {
        const __m128i greater = _mm_cmpgt_epi32(a, b);
        return _mm_or_si128(_mm_andnot_si128(greater, a), _mm_and_si128(greater, b));
    }

    template <int P>
    static void FillShortRow(uint8_t *row, size_t bytes, const uint8_t *pattern) {
        FillShort(row, pattern, bytes);
    }
    static void CopyShortRow(uint8_t *dst, const uint8_t *src, size_t bytes) { CopyShort(dst, src, bytes); }
    template <int P>
    static void KeyedNarrowRows(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch, size_t bytes,
                                int32_t rows) {
        KeyedShortRows<P>(dst, dstPitch, src, srcPitch, bytes, rows);
    }
    static void Keyed3Row(uint8_t *dst, const uint8_t *src, size_t bytes) { Keyed3Row128(dst, src, bytes); }
};

} // namespace
} // namespace vantu

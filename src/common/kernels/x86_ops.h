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
// keep the destination's value. These steps take a row's last pixels after
// the groups of 48 bytes below; the very last ones, fewer than 16 bytes, go
// singly.
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

// For each 8-bit value, the 8 bytes whose byte i is all ones where bit i is set.
struct ByteMasks {
    uint64_t of[256];
};
constexpr ByteMasks MakeByteMasks() {
    ByteMasks t{};
    for (uint32_t bits = 0; bits < 256; ++bits)
        for (uint32_t i = 0; i < 8; ++i)
            if ((bits >> i) & 1u)
                t.of[bits] |= uint64_t{0xFF} << (8 * i);
    return t;
}
constexpr ByteMasks kByteMasks = MakeByteMasks();

// Byte i of the result all ones where bit i of `bits` (16 of them) is set.
inline __m128i BytesOfBits(uint32_t bits) {
    const __m128i low = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(&kByteMasks.of[bits & 0xFFu]));
    const __m128i high = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(&kByteMasks.of[bits >> 8]));
    return _mm_unpacklo_epi64(low, high);
}

// 48 bytes, sixteen 3-byte pixels in three vectors that share no byte with
// the next group: which pixels are transparent is worked out on the bits of
// the zero bytes (a pixel's first bit and the two after it all set), and the
// bits of the transparent pixels' bytes become a byte mask per vector. A
// transparent pixel's bytes are 0 in the source, so the destination's fill
// in by OR.
inline void Keyed3Group48(uint8_t *dst, const uint8_t *src) {
    constexpr uint64_t kFirstBits = 0x249249249249u; // bits 0, 3, ..., 45
    constexpr uint64_t kAll = (uint64_t{1} << 48) - 1;
    const __m128i zero = _mm_setzero_si128();
    __m128i s[3];
    uint64_t zeros = 0;
    for (int k = 0; k < 3; ++k) {
        s[k] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + 16 * k));
        zeros |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(s[k], zero))))
                 << (16 * k);
    }
    if (zeros == 0) { // wholly opaque: no destination to read
        for (int k = 0; k < 3; ++k)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 16 * k), s[k]);
        return;
    }
    const uint64_t first = zeros & (zeros >> 1) & (zeros >> 2) & kFirstBits;
    const uint64_t keep = first | (first << 1) | (first << 2);
    if (keep == kAll)
        return;
    for (int k = 0; k < 3; ++k) {
        const auto bits = static_cast<uint32_t>(keep >> (16 * k)) & 0xFFFFu;
        if (bits == 0xFFFFu)
            continue;
        uint8_t *d = dst + 16 * k;
        const __m128i old = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(d)), BytesOfBits(bits));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(d), _mm_or_si128(s[k], old));
    }
}

inline void Keyed3Row128(uint8_t *dst, const uint8_t *src, size_t bytes) {
    size_t at = 0;
    for (; at + 48 <= bytes; at += 48)
        Keyed3Group48(dst + at, src + at);
    // Stored without the 4 spilled bytes, so that no step reads bytes that
    // the step before is still storing (it would wait for that store).
    for (; at + 16 <= bytes; at += 12) {
        __m128i r;
        if (Keyed3Step(dst + at, src + at, r)) {
            _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + at), r);
            const int last = _mm_cvtsi128_si32(_mm_srli_si128(r, 8));
            std::memcpy(dst + at + 8, &last, 4);
        }
    }
    KeyedPixels<3>(dst + at, src + at, (bytes - at) / 3);
}

// Palette expansion, sixteen pixels a step: four lookups make each 16-byte
// vector, which one store writes (faster here than four 4-byte stores).
inline void ExpandRow128(uint8_t *dst, const uint8_t *src, size_t n, const uint32_t *lut) {
    size_t x = 0;
    for (; x + 16 <= n; x += 16)
        for (size_t k = 0; k < 16; k += 4) {
            const uint8_t *i = src + x + k;
            const __m128i v = _mm_setr_epi32(static_cast<int>(lut[i[0]]), static_cast<int>(lut[i[1]]),
                                             static_cast<int>(lut[i[2]]), static_cast<int>(lut[i[3]]));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + 4 * (x + k)), v);
        }
    ExpandRow(dst + 4 * x, src + x, n - x, lut);
}

struct Vec128 : NarrowRows16 {
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
    static __m128i Merge(__m128i s, __m128i d, __m128i clear) { return _mm_or_si128(s, _mm_and_si128(d, clear)); }

    static __m128i Set1(uint32_t x) { return _mm_set1_epi32(static_cast<int>(x)); }
    static __m128i Xor(__m128i a, __m128i b) { return _mm_xor_si128(a, b); }
    static __m128i And(__m128i a, __m128i b) { return _mm_and_si128(a, b); }
    static __m128i Or(__m128i a, __m128i b) { return _mm_or_si128(a, b); }
    static __m128i AbsDiffU8(__m128i a, __m128i b) { return _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a)); }
    static __m128i Add32(__m128i a, __m128i b) { return _mm_add_epi32(a, b); }
    template <int N>
    static __m128i Srli32(__m128i v) {
        return _mm_srli_epi32(v, N);
    }
    template <int N>
    static __m128i Slli32(__m128i v) {
        return _mm_slli_epi32(v, N);
    }
    static __m128i Min32(__m128i a, __m128i b) {
        const __m128i greater = _mm_cmpgt_epi32(a, b);
        return _mm_or_si128(_mm_andnot_si128(greater, a), _mm_and_si128(greater, b));
    }

    static void Keyed3Row(uint8_t *dst, const uint8_t *src, size_t bytes) { Keyed3Row128(dst, src, bytes); }
};

#if defined(__AVX2__)
// ---- 256-bit pieces, for the AVX2 level and the AVX-512 level's narrower rows ----

// Keyed copy of 3-byte pixels, eight at a time: the 32 bytes at 24k hold
// pixels 8k to 8k+7 and 8 bytes of the next step, which keep the
// destination's value. Each pixel is first spread to a 32-bit lane of its
// own (byte 3 zero) to be compared with 0 whole, then one byte per pixel is
// spread back over the pixel's three bytes. Both are byte shuffles within
// 128-bit halves, after a word permutation that gives each half what it
// needs. Whether to store, and what, as for Keyed3Step.
inline bool Keyed3Step256(const uint8_t *dst, const uint8_t *src, __m256i &out) {
    const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(src));
    // Words 0-3 in the low half, 3-6 in the high one: pixels 0-3 and 4-7 at
    // the same bytes of each half.
    const __m256i halves = _mm256_permutevar8x32_epi32(s, _mm256_setr_epi32(0, 1, 2, 3, 3, 4, 5, 6));
    const __m256i pixels =
        _mm256_shuffle_epi8(halves, _mm256_setr_epi8(0, 1, 2, -128, 3, 4, 5, -128, 6, 7, 8, -128, 9, 10, 11, -128, //
                                                     0, 1, 2, -128, 3, 4, 5, -128, 6, 7, 8, -128, 9, 10, 11, -128));
    const __m256i clear = _mm256_cmpeq_epi32(pixels, _mm256_setzero_si256());
    // A byte per pixel, pixels 0-3 then 4-7, at the start of both halves ...
    const __m256i bytes = _mm256_shuffle_epi8(clear, _mm256_setr_epi8(0, 4, 8, 12, -128, -128, -128, -128, -128, -128,
                                                                      -128, -128, -128, -128, -128, -128, //
                                                                      0, 4, 8, 12, -128, -128, -128, -128, -128, -128,
                                                                      -128, -128, -128, -128, -128, -128));
    const __m256i flags = _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 0, 4, 0, 4, 0, 4));
    // ... spread over the pixels' bytes; bytes 24 to 31 belong to the next step.
    const __m256i keep =
        _mm256_or_si256(_mm256_shuffle_epi8(flags, _mm256_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5, //
                                                                    5, 5, 6, 6, 6, 7, 7, 7, -128, -128, -128, -128,
                                                                    -128, -128, -128, -128)),
                        _mm256_setr_epi32(0, 0, 0, 0, 0, 0, -1, -1));
    if (_mm256_movemask_epi8(keep) == -1)
        return false;
    out = _mm256_blendv_epi8(s, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(dst)), keep);
    return true;
}

// The last 24 bytes of a step: its pixels without the next step's bytes.
inline void Store24(uint8_t *dst, __m256i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst), _mm256_castsi256_si128(v));
    _mm_storel_epi64(reinterpret_cast<__m128i *>(dst + 16), _mm256_extracti128_si256(v, 1));
}

// Four steps make a group of 96 bytes, all worked out from the destination
// before any is stored, the last stored without its spilled bytes; steps
// after the groups are stored without them too. So no read of the
// destination overlaps an earlier store that has not completed. The last
// pixels, fewer than 32 bytes, take the 128-bit steps.
inline void Keyed3Row256(uint8_t *dst, const uint8_t *src, size_t bytes) {
    size_t at = 0;
    for (; at + 104 <= bytes; at += 96) {
        __m256i r[4];
        bool store[4];
        for (int k = 0; k < 4; ++k)
            store[k] = Keyed3Step256(dst + at + 24 * k, src + at + 24 * k, r[k]);
        for (int k = 0; k < 3; ++k)
            if (store[k])
                _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + at + 24 * k), r[k]);
        if (store[3])
            Store24(dst + at + 72, r[3]);
    }
    for (; at + 32 <= bytes; at += 24) {
        __m256i r;
        if (Keyed3Step256(dst + at, src + at, r))
            Store24(dst + at, r);
    }
    Keyed3Row128(dst + at, src + at, bytes - at);
}

struct Vec256 {
    static constexpr size_t kWidth = 32;

    static __m256i LoadU(const uint8_t *p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)); }
    static void StoreU(uint8_t *p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v); }
    static void StoreA(uint8_t *p, __m256i v) { _mm256_store_si256(reinterpret_cast<__m256i *>(p), v); }

    template <int P>
    static __m256i Transparent(__m256i v) {
        const __m256i zero = _mm256_setzero_si256();
        if constexpr (P == 1)
            return _mm256_cmpeq_epi8(v, zero);
        else if constexpr (P == 2)
            return _mm256_cmpeq_epi16(v, zero);
        else
            return _mm256_cmpeq_epi32(v, zero);
    }
    static bool All(__m256i mask) { return _mm256_movemask_epi8(mask) == -1; }
    static __m256i Merge(__m256i s, __m256i d, __m256i clear) {
        return _mm256_or_si256(s, _mm256_and_si256(d, clear));
    }

    static __m256i Set1(uint32_t x) { return _mm256_set1_epi32(static_cast<int>(x)); }
    static __m256i Xor(__m256i a, __m256i b) { return _mm256_xor_si256(a, b); }
    static __m256i And(__m256i a, __m256i b) { return _mm256_and_si256(a, b); }
    static __m256i Or(__m256i a, __m256i b) { return _mm256_or_si256(a, b); }
    static __m256i AbsDiffU8(__m256i a, __m256i b) {
        return _mm256_or_si256(_mm256_subs_epu8(a, b), _mm256_subs_epu8(b, a));
    }
    static __m256i Add32(__m256i a, __m256i b) { return _mm256_add_epi32(a, b); }
    template <int N>
    static __m256i Srli32(__m256i v) {
        return _mm256_srli_epi32(v, N);
    }
    template <int N>
    static __m256i Slli32(__m256i v) {
        return _mm256_slli_epi32(v, N);
    }
    static __m256i Min32(__m256i a, __m256i b) { return _mm256_min_epi32(a, b); }

    template <int P>
    static void FillShortRow(uint8_t *row, size_t bytes, const uint8_t *pattern) {
        if (bytes >= Vec128::kWidth)
            FillRowWide<Vec128, P>(row, bytes, pattern);
        else
            FillShort(row, pattern, bytes);
    }
    static void CopyShortRow(uint8_t *dst, const uint8_t *src, size_t bytes) {
        if (bytes >= Vec128::kWidth)
            CopyRowWide<Vec128>(dst, src, bytes);
        else
            CopyShort(dst, src, bytes);
    }
    template <int P>
    static void KeyedNarrowRows(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch,
                                size_t bytes, int32_t rows) {
        if (bytes >= Vec128::kWidth)
            KeyedRows<Vec128, P>(dst, dstPitch, src, srcPitch, bytes, rows);
        else
            KeyedShortRows<P>(dst, dstPitch, src, srcPitch, bytes, rows);
    }
    static void Keyed3Row(uint8_t *dst, const uint8_t *src, size_t bytes) { Keyed3Row256(dst, src, bytes); }
};
#endif // __AVX2__

} // namespace
} // namespace vantu

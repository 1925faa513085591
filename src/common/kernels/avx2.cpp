// The 256-bit kernels (AVX2). Rows narrower than 32 bytes take the 128-bit
// loops, still encoded as AVX instructions by this file's flags.
#include "levels.h"
#include "x86_ops.h"

namespace vantu {
namespace {

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

constexpr PixelKernels kAvx2 = MakeKernels<Vec256>("avx2");

} // namespace

const PixelKernels &Avx2Kernels() { return kAvx2; }

} // namespace vantu

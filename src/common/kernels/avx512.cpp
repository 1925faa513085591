// The 512-bit kernels (AVX-512 F, BW and VL). Mask registers let every row
// end write exactly the bytes it owns: no tail loops. The keyed copy comes in
// two variants that write the same bytes in different ways:
// - "masked": every vector stored under the mask of its opaque pixels, no
//   destination read; where a masked store costs what a plain one does
//   (Intel), nothing is cheaper;
// - "merged": where masked stores measured slower (AMD family 26), rows of
//   up to 64 bytes, and rectangles larger than the L2 cache, take the AVX2
//   level's way (256-bit vectors merged with the destination they read,
//   rows under 16 bytes as words in general-purpose registers); the rest
//   stays masked.
// tuning.h says which CPU takes which; the palette expansion takes the VBMI
// byte permutation wherever the CPU has it (avx512vbmi.cpp).
#include "levels.h"
#include "x86_ops.h"

namespace vantu {
namespace {

// The low `n` bits set, for n below 64.
inline __mmask64 LowBytes(size_t n) { return static_cast<__mmask64>((uint64_t{1} << n) - 1); }

struct Vec512 {
    static constexpr size_t kWidth = 64;

    static __m512i LoadU(const uint8_t *p) { return _mm512_loadu_si512(p); }
    static void StoreU(uint8_t *p, __m512i v) { _mm512_storeu_si512(p, v); }
    static void StoreA(uint8_t *p, __m512i v) { _mm512_store_si512(p, v); }

    static __m512i Set1(uint32_t x) { return _mm512_set1_epi32(static_cast<int>(x)); }
    static __m512i Xor(__m512i a, __m512i b) { return _mm512_xor_si512(a, b); }
    static __m512i And(__m512i a, __m512i b) { return _mm512_and_si512(a, b); }
    static __m512i Or(__m512i a, __m512i b) { return _mm512_or_si512(a, b); }
    static __m512i AbsDiffU8(__m512i a, __m512i b) {
        return _mm512_or_si512(_mm512_subs_epu8(a, b), _mm512_subs_epu8(b, a));
    }
    static __m512i Add32(__m512i a, __m512i b) { return _mm512_add_epi32(a, b); }
    // Shifts and min in their zero-masking forms: the plain ones start from an
    // undefined vector, which some compilers then warn about.
    template <int N>
    static __m512i Srli32(__m512i v) {
        return _mm512_maskz_srli_epi32(0xFFFF, v, N);
    }
    template <int N>
    static __m512i Slli32(__m512i v) {
        return _mm512_maskz_slli_epi32(0xFFFF, v, N);
    }
    static __m512i Min32(__m512i a, __m512i b) { return _mm512_maskz_min_epi32(0xFFFF, a, b); }

    template <int P>
    static void FillShortRow(uint8_t *row, size_t bytes, const uint8_t *pattern) {
        _mm512_mask_storeu_epi8(row, LowBytes(bytes), _mm512_loadu_si512(pattern));
    }
    static void CopyShortRow(uint8_t *dst, const uint8_t *src, size_t bytes) {
        const __mmask64 live = LowBytes(bytes);
        _mm512_mask_storeu_epi8(dst, live, _mm512_maskz_loadu_epi8(live, src));
    }
};

// ---- The keyed copy ----------------------------------------------------------------

// Store the non-zero P-byte lanes of `s`; lanes loaded as zero past a row's
// end are never stored. With kSkip, nothing at all where every lane is
// transparent: a store under an empty mask still takes a store's place and
// fetches the destination's line, which in long rows (whose transparent
// parts come in runs the branch predicts) costs more than the test. In short
// rows that branch mispredicts at every edge of a sprite, and costs more.
template <int P, bool kSkip>
inline void StoreOpaque(uint8_t *dst, __m512i s) {
    if constexpr (P == 1) {
        const __mmask64 opaque = _mm512_test_epi8_mask(s, s);
        if (!kSkip || opaque != 0)
            _mm512_mask_storeu_epi8(dst, opaque, s);
    } else if constexpr (P == 2) {
        const __mmask32 opaque = _mm512_test_epi16_mask(s, s);
        if (!kSkip || opaque != 0)
            _mm512_mask_storeu_epi16(dst, opaque, s);
    } else {
        const __mmask16 opaque = _mm512_test_epi32_mask(s, s);
        if (!kSkip || opaque != 0)
            _mm512_mask_storeu_epi32(dst, opaque, s);
    }
}

// Rows this long skip wholly transparent vectors.
inline constexpr size_t kSkipTransparentBytes = 1024;

// Rows of 256 bytes or more whose destination is aligned to its pixel size
// start with a masked head up to the first 64-byte boundary, so that no
// store of the body is split over two cache lines.
template <int P, bool kSkip>
inline void KeyedRow(uint8_t *dst, const uint8_t *src, size_t bytes) {
    size_t at = 0;
    const auto misalign = static_cast<size_t>(reinterpret_cast<uintptr_t>(dst) & 63);
    if (bytes >= 256 && misalign != 0 && misalign % P == 0) {
        at = 64 - misalign;
        StoreOpaque<P, kSkip>(dst, _mm512_maskz_loadu_epi8(LowBytes(at), src));
    }
    for (; at + 64 <= bytes; at += 64)
        StoreOpaque<P, kSkip>(dst + at, _mm512_loadu_si512(src + at));
    if (at < bytes)
        StoreOpaque<P, kSkip>(dst + at, _mm512_maskz_loadu_epi8(LowBytes(bytes - at), src + at));
}

// 3-byte pixels, 21 to a step of 63 bytes. A byte mask of the zero bytes
// gives, at each pixel's first byte, whether all three are zero; the store
// mask is the complement spread over the pixel.
inline void Keyed3StepMasked(uint8_t *dst, const uint8_t *src, uint64_t live) {
    constexpr uint64_t kFirstBytes = 0x1249249249249249u; // bits 0, 3, ..., 60
    const __m512i s = _mm512_maskz_loadu_epi8(static_cast<__mmask64>(live), src);
    const uint64_t zero = _mm512_testn_epi8_mask(s, s);
    const uint64_t clear = zero & (zero >> 1) & (zero >> 2) & kFirstBytes;
    const uint64_t transparent = clear | (clear << 1) | (clear << 2);
    _mm512_mask_storeu_epi8(dst, static_cast<__mmask64>(~transparent & live), s);
}

inline void Keyed3RowMasked(uint8_t *dst, const uint8_t *src, size_t bytes) {
    constexpr uint64_t kStep = (uint64_t{1} << 63) - 1;
    size_t at = 0;
    for (; at + 63 <= bytes; at += 63)
        Keyed3StepMasked(dst + at, src + at, kStep);
    if (at < bytes)
        Keyed3StepMasked(dst + at, src + at, LowBytes(bytes - at));
}

template <int P>
void CopyKeyedMasked(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch, int32_t n,
                     int32_t rows) {
    const size_t bytes = static_cast<size_t>(n) * P;
    RowsUpwards(dst, dstPitch, src, srcPitch, bytes, rows);
    for (int32_t y = 0; y < rows; ++y) {
        if constexpr (P == 3)
            Keyed3RowMasked(dst + y * dstPitch, src + y * srcPitch, bytes);
        else if (bytes >= kSkipTransparentBytes)
            KeyedRow<P, true>(dst + y * dstPitch, src + y * srcPitch, bytes);
        else
            KeyedRow<P, false>(dst + y * dstPitch, src + y * srcPitch, bytes);
    }
}

// Rectangles of this many bytes or more outgrow the L2 cache (1 MiB a core on
// the AMD measured, 2 MiB on the Intel Xeon); there the
// merged variant's 256-bit vectors, which read the destination, measured
// faster than masked stores, which do not.
inline constexpr size_t kMergedRectBytes = size_t{2} << 20;

template <int P>
void CopyKeyedMerged(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch, int32_t n,
                     int32_t rows) {
    const size_t bytes = static_cast<size_t>(n) * P;
    if (bytes <= 64 || bytes * static_cast<size_t>(rows) >= kMergedRectBytes) {
        CopyKeyedRect<Vec256, P>(dst, dstPitch, src, srcPitch, n, rows);
        return;
    }
    CopyKeyedMasked<P>(dst, dstPitch, src, srcPitch, n, rows);
}

// ---- The tables ----------------------------------------------------------------------------------

constexpr PixelKernels Table(const char *variant, CopyRectFn keyed1, CopyRectFn keyed2, CopyRectFn keyed4,
                             ExpandRectFn expand) {
    return {"avx512",
            variant,
            {nullptr, FillRect<Vec512, 1>, FillRect<Vec512, 2>, FillRect<Vec512, 3>, FillRect<Vec512, 4>},
            CopyRect<Vec512>,
            {nullptr, keyed1, keyed2, CopyKeyedMasked<3>, keyed4},
            NearestEntry<Vec512>,
            expand};
}

constexpr PixelKernels kMaskedVbmi =
    Table("masked", CopyKeyedMasked<1>, CopyKeyedMasked<2>, CopyKeyedMasked<4>, ExpandPaletteVbmi);
constexpr PixelKernels kMasked =
    Table("masked", CopyKeyedMasked<1>, CopyKeyedMasked<2>, CopyKeyedMasked<4>, ExpandRect<ExpandRow128>);
constexpr PixelKernels kMergedVbmi =
    Table("merged", CopyKeyedMerged<1>, CopyKeyedMerged<2>, CopyKeyedMerged<4>, ExpandPaletteVbmi);
constexpr PixelKernels kMerged =
    Table("merged", CopyKeyedMerged<1>, CopyKeyedMerged<2>, CopyKeyedMerged<4>, ExpandRect<ExpandRow128>);

// The VBMI expansion first: a CPU that has it takes it.
constexpr LevelVariant kVariants[] = {
    {&kMaskedVbmi, kCpuAvx512Vbmi}, {&kMasked, 0}, {&kMergedVbmi, kCpuAvx512Vbmi}, {&kMerged, 0}};
} // namespace

VariantList Avx512Variants() { return {kVariants, sizeof kVariants / sizeof kVariants[0]}; }

} // namespace vantu

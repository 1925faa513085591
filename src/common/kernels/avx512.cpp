// The 512-bit kernels (AVX-512 F, BW and VL), in two variants that differ in
// how they store, not in what they write:
// - "masked": mask registers let every row end, and the keyed copy, write
//   exactly the bytes they own: no tail loops and no blending with the
//   destination. Where a masked store costs what a plain one does, nothing
//   is cheaper.
// - "whole": only whole-vector stores, as the AVX2 level makes them (a keyed
//   vector merged with the destination it read, rows under 64 bytes in
//   256- and 128-bit steps); masks stay in registers. For CPUs whose masked
//   stores to memory cost several times a plain store.
// tuning.h says which CPU takes which; the palette expansion takes the VBMI
// byte permutation wherever the CPU has it (avx512vbmi.cpp).
#include "levels.h"
#include "x86_ops.h"

namespace vantu {
namespace {

// The low `n` bits set, for n below 64.
inline __mmask64 LowBytes(size_t n) { return static_cast<__mmask64>((uint64_t{1} << n) - 1); }

template <bool kMaskedStores>
struct Vec512 {
    static constexpr size_t kWidth = 64;

    static __m512i LoadU(const uint8_t *p) { return _mm512_loadu_si512(p); }
    static void StoreU(uint8_t *p, __m512i v) { _mm512_storeu_si512(p, v); }
    static void StoreA(uint8_t *p, __m512i v) { _mm512_store_si512(p, v); }

    // The keyed copy of the whole-store variant: transparent pixels as a mask
    // register, one bit per pixel (its type tells the pixel size).
    template <int P>
    static auto Transparent(__m512i v) {
        if constexpr (P == 1)
            return _mm512_testn_epi8_mask(v, v);
        else if constexpr (P == 2)
            return _mm512_testn_epi16_mask(v, v);
        else
            return _mm512_testn_epi32_mask(v, v);
    }
    static bool All(__mmask64 m) { return m == ~__mmask64{0}; }
    static bool All(__mmask32 m) { return m == ~__mmask32{0}; }
    static bool All(__mmask16 m) { return m == static_cast<__mmask16>(0xFFFF); }
    static __m512i Merge(__m512i s, __m512i d, __mmask64 clear) { return _mm512_mask_mov_epi8(s, clear, d); }
    static __m512i Merge(__m512i s, __m512i d, __mmask32 clear) { return _mm512_mask_mov_epi16(s, clear, d); }
    static __m512i Merge(__m512i s, __m512i d, __mmask16 clear) { return _mm512_mask_mov_epi32(s, clear, d); }

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
        if constexpr (kMaskedStores)
            _mm512_mask_storeu_epi8(row, LowBytes(bytes), _mm512_loadu_si512(pattern));
        else if (bytes >= Vec256::kWidth)
            FillRowWide<Vec256, P>(row, bytes, pattern);
        else
            Vec256::FillShortRow<P>(row, bytes, pattern);
    }
    static void CopyShortRow(uint8_t *dst, const uint8_t *src, size_t bytes) {
        if constexpr (kMaskedStores) {
            const __mmask64 live = LowBytes(bytes);
            _mm512_mask_storeu_epi8(dst, live, _mm512_maskz_loadu_epi8(live, src));
        } else if (bytes >= Vec256::kWidth) {
            CopyRowWide<Vec256>(dst, src, bytes);
        } else {
            Vec256::CopyShortRow(dst, src, bytes);
        }
    }
    template <int P>
    static void KeyedNarrowRows(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch,
                                size_t bytes, int32_t rows) {
        if (bytes >= Vec256::kWidth)
            KeyedRows<Vec256, P>(dst, dstPitch, src, srcPitch, bytes, rows);
        else
            Vec256::KeyedNarrowRows<P>(dst, dstPitch, src, srcPitch, bytes, rows);
    }
    static void Keyed3Row(uint8_t *dst, const uint8_t *src, size_t bytes) { Keyed3Row256(dst, src, bytes); }
};

// ---- The masked variant's keyed copy ----------------------------------------------------------------

// Store the non-zero P-byte lanes of `s`; lanes loaded as zero past a row's
// end are never stored.
template <int P>
inline void StoreOpaque(uint8_t *dst, __m512i s) {
    if constexpr (P == 1)
        _mm512_mask_storeu_epi8(dst, _mm512_test_epi8_mask(s, s), s);
    else if constexpr (P == 2)
        _mm512_mask_storeu_epi16(dst, _mm512_test_epi16_mask(s, s), s);
    else
        _mm512_mask_storeu_epi32(dst, _mm512_test_epi32_mask(s, s), s);
}

template <int P>
inline void KeyedRow(uint8_t *dst, const uint8_t *src, size_t bytes) {
    size_t at = 0;
    for (; at + 64 <= bytes; at += 64)
        StoreOpaque<P>(dst + at, _mm512_loadu_si512(src + at));
    if (at < bytes)
        StoreOpaque<P>(dst + at, _mm512_maskz_loadu_epi8(LowBytes(bytes - at), src + at));
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
        else
            KeyedRow<P>(dst + y * dstPitch, src + y * srcPitch, bytes);
    }
}

// ---- The tables ----------------------------------------------------------------------------------

using Masked = Vec512<true>;
using Whole = Vec512<false>;

constexpr PixelKernels MaskedTable(const char *variant, ExpandRectFn expand) {
    return {"avx512",
            variant,
            {nullptr, FillRect<Masked, 1>, FillRect<Masked, 2>, FillRect<Masked, 3>, FillRect<Masked, 4>},
            CopyRect<Masked>,
            {nullptr, CopyKeyedMasked<1>, CopyKeyedMasked<2>, CopyKeyedMasked<3>, CopyKeyedMasked<4>},
            NearestEntry<Masked>,
            expand};
}

constexpr PixelKernels kMaskedVbmi = MaskedTable("masked", ExpandPaletteVbmi);
constexpr PixelKernels kMasked = MaskedTable("masked", ExpandRect);
constexpr PixelKernels kWholeVbmi = MakeKernels<Whole>("avx512", "whole", NearestEntry<Whole>, ExpandPaletteVbmi);
constexpr PixelKernels kWhole = MakeKernels<Whole>("avx512", "whole", NearestEntry<Whole>, ExpandRect);

// The VBMI expansion first: a CPU that has it takes it.
constexpr LevelVariant kVariants[] = {
    {&kMaskedVbmi, kCpuAvx512Vbmi}, {&kMasked, 0}, {&kWholeVbmi, kCpuAvx512Vbmi}, {&kWhole, 0}};

} // namespace

VariantList Avx512Variants() { return {kVariants, sizeof kVariants / sizeof kVariants[0]}; }

} // namespace vantu

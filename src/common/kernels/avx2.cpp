// The 256-bit kernels (AVX2). Rows narrower than 32 bytes take the 128-bit
// loops, still encoded as AVX instructions by this file's flags.
#include "levels.h"
#include "x86_ops.h"

namespace vantu {
namespace {

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
    static __m256i Srli32(__m256i v) { return _mm256_srli_epi32(v, N); }
    template <int N>
    static __m256i Slli32(__m256i v) { return _mm256_slli_epi32(v, N); }
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
    static void KeyedNarrowRows(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch, size_t bytes,
                                int32_t rows) {
        if (bytes >= Vec128::kWidth)
            KeyedRows<Vec128, P>(dst, dstPitch, src, srcPitch, bytes, rows);
        else
            KeyedShortRows<P>(dst, dstPitch, src, srcPitch, bytes, rows);
    }
    static void Keyed3Row(uint8_t *dst, const uint8_t *src, size_t bytes) { Keyed3Row128(dst, src, bytes); }
};

constexpr PixelKernels kAvx2 = MakeKernels<Vec256>("avx2");

} // namespace

const PixelKernels &Avx2Kernels() { return kAvx2; }

} // namespace vantu

// The 128-bit kernels: SSE2 only, so they also serve 32-bit x86 builds.
#include "levels.h"
#include "x86_ops.h"

namespace vantu {
namespace {

// The palette search in 16-bit lanes, eight entries to a vector: SSE2 has a
// 16-bit minimum but no 32-bit one. Bytes are biased by 0x80 as in
// NearestEntry<V>; a sum of absolute differences over the colour bytes of one
// entry of each 64-bit half (the other entry and byte 3 masked to 0 on both
// sides) is that entry's distance, at most 765. A lane's key is distance << 5
// | the step that produced it (32 steps), so its least key is its nearest
// entry and the earliest among equals; across lanes, the least key and then
// the lowest lane holding it give the lowest index.
uint32_t NearestEntrySse2(const uint32_t *entries, uint32_t colour) {
    const __m128i bias = _mm_set1_epi32(static_cast<int>(0x80808080u));
    const __m128i even = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
    const __m128i odd = _mm_slli_epi64(even, 32);
    const __m128i c = _mm_set1_epi32(static_cast<int>(colour ^ 0x80808080u));
    const __m128i cEven = _mm_and_si128(c, even), cOdd = _mm_and_si128(c, odd);
    const __m128i one = _mm_set1_epi16(1);
    __m128i step = _mm_setzero_si128();
    __m128i least = _mm_set1_epi16(0x7FFF);
    for (size_t i = 0; i < 256; i += 8) {
        // 64-bit lanes: the distances of entries i, i+2, i+4, i+6 (even) and
        // of i+1, i+3, i+5, i+7 (odd), then packed to 16-bit lanes in order.
        __m128i sad[2][2];
        for (int half = 0; half < 2; ++half) {
            const __m128i e =
                _mm_xor_si128(Vec128::LoadU(reinterpret_cast<const uint8_t *>(entries + i + 4 * half)), bias);
            sad[0][half] = _mm_sad_epu8(_mm_and_si128(e, even), cEven);
            sad[1][half] = _mm_sad_epu8(_mm_and_si128(e, odd), cOdd);
        }
        const __m128i evenKeys = _mm_slli_epi32(_mm_packs_epi32(sad[0][0], sad[0][1]), 5);
        const __m128i oddKeys = _mm_slli_epi32(_mm_packs_epi32(sad[1][0], sad[1][1]), 16 + 5);
        __m128i key = _mm_or_si128(_mm_or_si128(evenKeys, oddKeys), step);
        if (i == 0)
            key = _mm_or_si128(key, _mm_setr_epi16(0x7FFF, 0, 0, 0, 0, 0, 0, 0)); // entry 0: never chosen
        least = _mm_min_epi16(least, key);
        step = _mm_add_epi16(step, one);
    }
    __m128i all = _mm_min_epi16(least, _mm_shuffle_epi32(least, 0x4E));
    all = _mm_min_epi16(all, _mm_shuffle_epi32(all, 0xB1));
    all = _mm_min_epi16(all, _mm_shufflelo_epi16(all, 0xB1));
    const auto key = static_cast<uint32_t>(_mm_cvtsi128_si32(all));
    all = _mm_shuffle_epi32(_mm_shufflelo_epi16(all, 0), 0);
    const auto lanes = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi16(least, all)));
    return (key & 31u) * 8 + LowestSetBit(lanes) / 2;
}

constexpr PixelKernels kSse2 = MakeKernels<Vec128>("sse2", "", NearestEntrySse2, ExpandRect<ExpandRow128>);

} // namespace

const PixelKernels &Sse2Kernels() { return kSse2; }

} // namespace vantu

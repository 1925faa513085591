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

} // namespace
} // namespace vantu

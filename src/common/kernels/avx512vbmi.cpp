// The palette expansion by byte permutations (AVX-512 VBMI), for the
// AVX-512 level on CPUs that have VBMI. The 256-entry table is split into
// four planes of 256 bytes, byte b of every entry in plane b, held in
// sixteen registers; a two-table byte permutation looks up 128 entries by an
// index's low 7 bits, and its top bit picks which half. 64 pixels take 12
// permutations and 8 unpacks, and no load per pixel.
#include "levels.h"
#include "x86_ops.h"

namespace vantu {
namespace {

struct Planes {
    __m512i t[4][4]; // plane b, entries 64g to 64g+63
};

// Plane b of entries 64g to 64g+63 from their four vectors: bytes 4j+b.
inline __m512i PlaneOf(const __m512i *e, int b) {
    // Byte j of the index: (4j + b) mod 128, so that j < 32 reads the first
    // pair of vectors and j >= 32 the second.
    alignas(64) static constexpr struct Indices {
        uint8_t of[4][64];
    } kIndex = [] {
        Indices x{};
        for (int plane = 0; plane < 4; ++plane)
            for (int j = 0; j < 64; ++j)
                x.of[plane][j] = static_cast<uint8_t>((4 * j + plane) & 127);
        return x;
    }();
    const __m512i index = _mm512_load_si512(kIndex.of[b]);
    const __m512i low = _mm512_permutex2var_epi8(e[0], index, e[1]);
    const __m512i high = _mm512_permutex2var_epi8(e[2], index, e[3]);
    return _mm512_mask_mov_epi8(low, static_cast<__mmask64>(0xFFFFFFFF00000000u), high);
}

inline Planes MakePlanes(const uint32_t *lut) {
    Planes p;
    for (int g = 0; g < 4; ++g) {
        const __m512i e[4] = {_mm512_loadu_si512(lut + 64 * g), _mm512_loadu_si512(lut + 64 * g + 16),
                              _mm512_loadu_si512(lut + 64 * g + 32), _mm512_loadu_si512(lut + 64 * g + 48)};
        for (int b = 0; b < 4; ++b)
            p.t[b][g] = PlaneOf(e, b);
    }
    return p;
}

// The unpacks below interleave within 128-bit lanes: output vector r, lane L
// takes bytes 4r to 4r+3 of lane L of the plane results. Indices are first
// put in the order that makes that pixels 16r + 4L to 16r + 4L + 3.
inline __m512i PixelOrder() {
    alignas(64) static constexpr struct Order {
        uint8_t of[64];
    } kOrder = [] {
        Order o{};
        for (int lane = 0; lane < 4; ++lane)
            for (int r = 0; r < 4; ++r)
                for (int j = 0; j < 4; ++j)
                    o.of[16 * lane + 4 * r + j] = static_cast<uint8_t>(16 * r + 4 * lane + j);
        return o;
    }();
    return _mm512_load_si512(kOrder.of);
}

// The 64 pixels of the indices `x` (in pixel order) as four vectors of 16.
inline void Expand64(const Planes &p, __m512i order, __m512i x, __m512i out[4]) {
    // The zero-masking form: the plain one starts from an undefined vector.
    x = _mm512_maskz_permutexvar_epi8(~__mmask64{0}, order, x);
    const __mmask64 upper = _mm512_movepi8_mask(x); // indices 128 to 255
    __m512i plane[4];
    for (int b = 0; b < 4; ++b) {
        const __m512i low = _mm512_permutex2var_epi8(p.t[b][0], x, p.t[b][1]);
        const __m512i high = _mm512_permutex2var_epi8(p.t[b][2], x, p.t[b][3]);
        plane[b] = _mm512_mask_mov_epi8(low, upper, high);
    }
    const __m512i b01lo = _mm512_unpacklo_epi8(plane[0], plane[1]), b01hi = _mm512_unpackhi_epi8(plane[0], plane[1]);
    const __m512i b23lo = _mm512_unpacklo_epi8(plane[2], plane[3]), b23hi = _mm512_unpackhi_epi8(plane[2], plane[3]);
    out[0] = _mm512_unpacklo_epi16(b01lo, b23lo);
    out[1] = _mm512_unpackhi_epi16(b01lo, b23lo);
    out[2] = _mm512_unpacklo_epi16(b01hi, b23hi);
    out[3] = _mm512_unpackhi_epi16(b01hi, b23hi);
}

inline void ExpandStep(const Planes &p, __m512i order, uint8_t *dst, const uint8_t *src) {
    __m512i out[4];
    Expand64(p, order, _mm512_loadu_si512(src), out);
    for (int k = 0; k < 4; ++k)
        _mm512_storeu_si512(dst + 64 * k, out[k]);
}

// A row of fewer than 64 pixels: masked loads and stores.
inline void ExpandShort(const Planes &p, __m512i order, uint8_t *dst, const uint8_t *src, size_t n) {
    __m512i out[4];
    Expand64(p, order, _mm512_maskz_loadu_epi8(static_cast<__mmask64>((uint64_t{1} << n) - 1), src), out);
    for (size_t k = 0; 16 * k < n; ++k) {
        const size_t left = n - 16 * k;
        const auto live = static_cast<__mmask16>(left >= 16 ? 0xFFFFu : (1u << left) - 1);
        _mm512_mask_storeu_epi32(dst + 64 * k, live, out[k]);
    }
}

} // namespace

void ExpandPaletteVbmi(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch, int32_t n,
                       int32_t rows, const uint32_t *lut) {
    const Planes planes = MakePlanes(lut);
    const __m512i order = PixelOrder();
    const auto count = static_cast<size_t>(n);
    RowsUpwards(dst, dstPitch, 4 * count, src, srcPitch, count, rows);
    for (int32_t y = 0; y < rows; ++y) {
        uint8_t *d = dst + y * dstPitch;
        const uint8_t *s = src + y * srcPitch;
        if (count < 64) {
            ExpandShort(planes, order, d, s, count);
            continue;
        }
        size_t x = 0;
        for (; x + 64 <= count; x += 64)
            ExpandStep(planes, order, d + 4 * x, s + x);
        if (x < count) // the last 64 pixels again, ending at the row's end
            ExpandStep(planes, order, d + 4 * (count - 64), s + count - 64);
    }
}

} // namespace vantu

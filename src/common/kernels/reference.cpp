// The reference kernels: plain loops, one pixel (or palette entry) at a time,
// that every faster level must match byte for byte. Pixels are read and
// written with memcpy so that no unaligned pointer is ever dereferenced.
#include <array>
#include <bit>
#include <cstring>

#include "pixels.h"

namespace vantu {
namespace {

// The low 8*P bits of `pixel` laid out as a P-byte value in the machine's byte order.
template <int P>
constexpr std::array<uint8_t, P> PixelBytes(uint32_t pixel) {
    std::array<uint8_t, P> bytes{};
    for (int i = 0; i < P; ++i) {
        const int shift = std::endian::native == std::endian::little ? 8 * i : 8 * (P - 1 - i);
        bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(pixel >> shift);
    }
    return bytes;
}

template <int P>
void FillRect(uint8_t *dst, ptrdiff_t pitch, int32_t n, int32_t rows, uint32_t pixel) {
    const std::array<uint8_t, P> value = PixelBytes<P>(pixel);
    for (int32_t y = 0; y < rows; ++y) {
        uint8_t *row = dst + y * pitch;
        for (int32_t x = 0; x < n; ++x)
            std::memcpy(row + static_cast<ptrdiff_t>(x) * P, value.data(), P);
    }
}

void CopyRect(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch, int32_t n, int32_t rows) {
    for (int32_t y = 0; y < rows; ++y)
        std::memcpy(dst + y * dstPitch, src + y * srcPitch, static_cast<size_t>(n));
}

template <int P>
void CopyRectKeyed(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch, int32_t n,
                   int32_t rows) {
    static constexpr std::array<uint8_t, P> kTransparent{};
    for (int32_t y = 0; y < rows; ++y) {
        uint8_t *dstRow = dst + y * dstPitch;
        const uint8_t *srcRow = src + y * srcPitch;
        for (int32_t x = 0; x < n; ++x) {
            const ptrdiff_t at = static_cast<ptrdiff_t>(x) * P;
            if (std::memcmp(srcRow + at, kTransparent.data(), P) != 0)
                std::memcpy(dstRow + at, srcRow + at, P);
        }
    }
}

uint32_t NearestEntry(const uint32_t *entries, uint32_t colour) {
    const int32_t r = SignedByte(colour, 0), g = SignedByte(colour, 1), b = SignedByte(colour, 2);
    int32_t best = 0x7FFFFFFF;
    uint32_t bestIndex = 0;
    for (uint32_t i = 1; i < 256; ++i) {
        const uint32_t e = entries[i];
        const int32_t dr = r - SignedByte(e, 0), dg = g - SignedByte(e, 1), db = b - SignedByte(e, 2);
        const int32_t d = (dr < 0 ? -dr : dr) + (dg < 0 ? -dg : dg) + (db < 0 ? -db : db);
        if (d < best) {
            best = d;
            bestIndex = i;
            if (d == 0)
                break;
        }
    }
    return bestIndex;
}

constexpr PixelKernels kReference = {
    "reference",
    "",
    {nullptr, FillRect<1>, FillRect<2>, FillRect<3>, FillRect<4>},
    CopyRect,
    {nullptr, CopyRectKeyed<1>, CopyRectKeyed<2>, CopyRectKeyed<3>, CopyRectKeyed<4>},
    NearestEntry,
    ExpandPaletteRows,
};

} // namespace

void ExpandPaletteRows(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch, int32_t n,
                       int32_t rows, const uint32_t *lut) {
    for (int32_t y = 0; y < rows; ++y) {
        uint8_t *dstRow = dst + y * dstPitch;
        const uint8_t *srcRow = src + y * srcPitch;
        for (int32_t x = 0; x < n; ++x)
            std::memcpy(dstRow + static_cast<ptrdiff_t>(x) * 4, &lut[srcRow[x]], 4);
    }
}

const PixelKernels &ReferenceKernels() { return kReference; }

} // namespace vantu

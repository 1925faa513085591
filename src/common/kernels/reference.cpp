// The reference pixel kernels: plain loops, one pixel at a time, that every
// faster level must match byte for byte. Pixels are read and written with
// memcpy so that no unaligned pointer is ever dereferenced.
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

void CopyRect(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch, int32_t n,
              int32_t rows) {
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

constexpr PixelKernels kReference = {
    "reference",
    {nullptr, FillRect<1>, FillRect<2>, FillRect<3>, FillRect<4>},
    CopyRect,
    {nullptr, CopyRectKeyed<1>, CopyRectKeyed<2>, CopyRectKeyed<3>, CopyRectKeyed<4>},
};

} // namespace

const PixelKernels &ReferenceKernels() { return kReference; }

} // namespace vantu

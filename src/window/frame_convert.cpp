#include "frame_convert.h"

#include <array>
#include <cstring>

namespace vantu::window {
namespace {

// A colour word's component as it shows in an 8-bit channel.
constexpr uint32_t Shown(uint32_t component) { return (component & 0x7Fu) << 1; }

// A field of `bits` bits (5 or 6) widened to the 7-bit component it stands for.
constexpr uint32_t Widened(uint32_t field, int bits) { return (field << (7 - bits)) | (field >> (2 * bits - 7)); }

// A 5-6-5 pixel shows as kHigh[pixel >> 8] | kLow[pixel & 0xFF]: red and the
// top three bits of green live in the high byte, the rest in the low one, and
// widening green only repeats its top bit, which the high byte holds.
constexpr std::array<uint32_t, 256> HighByteColours() {
    std::array<uint32_t, 256> table{};
    for (uint32_t hi = 0; hi < 256; ++hi) {
        const uint32_t red = Shown(Widened(hi >> 3, 5));
        const uint32_t green = ((hi & 7u) << 5) | (((hi >> 2) & 1u) << 1);
        table[hi] = red << 16 | green << 8;
    }
    return table;
}
constexpr std::array<uint32_t, 256> LowByteColours() {
    std::array<uint32_t, 256> table{};
    for (uint32_t lo = 0; lo < 256; ++lo)
        table[lo] = ((lo >> 5) << 2) << 8 | Shown(Widened(lo & 31u, 5));
    return table;
}
constexpr std::array<uint32_t, 256> kHigh = HighByteColours();
constexpr std::array<uint32_t, 256> kLow = LowByteColours();

constexpr uint32_t Shown565(uint32_t pixel) { return kHigh[pixel >> 8] | kLow[pixel & 0xFFu]; }
static_assert(Shown565(0xFFFF) == 0xFEFEFE, "white shows as at every other depth");
static_assert(Shown565(0xF800) == 0xFE0000 && Shown565(0x07E0) == 0x00FE00 && Shown565(0x001F) == 0x0000FE);
// Components whose low bits repeat their top ones come back whole: red and
// blue 0x42 (5-bit 16), green 0x41 (6-bit 32).
static_assert(Shown565(0x8410) == ((0x42u << 1) << 16 | (0x41u << 1) << 8 | (0x42u << 1)));

} // namespace

void PaletteColours(const SCommonPalette *palette, uint32_t colours[256]) {
    for (uint32_t i = 0; i < 256; ++i) {
        if (palette == nullptr) {
            colours[i] = i << 16 | i << 8 | i;
            continue;
        }
        const uint32_t word = palette->entries[i];
        colours[i] = Shown(word) << 16 | Shown(word >> 8) << 8 | Shown(word >> 16);
    }
}

void Convert565Rows(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch, int32_t width,
                    int32_t rows) {
    for (int32_t y = 0; y < rows; ++y) {
        const uint8_t *in = src + y * srcPitch;
        uint8_t *out = dst + y * dstPitch;
        for (int32_t x = 0; x < width; ++x) {
            uint16_t pixel;
            std::memcpy(&pixel, in + 2 * x, 2);
            const uint32_t shown = Shown565(pixel);
            std::memcpy(out + 4 * x, &shown, 4);
        }
    }
}

void Convert24Rows(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch, int32_t width,
                   int32_t rows) {
    for (int32_t y = 0; y < rows; ++y) {
        const uint8_t *in = src + y * srcPitch;
        uint8_t *out = dst + y * dstPitch;
        for (int32_t x = 0; x < width; ++x, in += 3) {
            const uint32_t shown = uint32_t{in[0]} | uint32_t{in[1]} << 8 | uint32_t{in[2]} << 16;
            std::memcpy(out + 4 * x, &shown, 4);
        }
    }
}

} // namespace vantu::window

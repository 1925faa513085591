#include "formats.h"

#include <bit>

namespace {

// Reads one pixel of 1 to 4 bytes; multi-byte pixels are little-endian, as on
// every target the demo is built for.
uint32_t ReadPixel(const uint8_t *p, uint32_t bytes) {
    uint32_t value = 0;
    for (uint32_t i = 0; i < bytes; ++i)
        value |= static_cast<uint32_t>(p[i]) << (8 * i);
    return value;
}

// Scales the field that `mask` selects to 0..255.
uint8_t Field(uint32_t pixel, uint32_t mask) {
    if (mask == 0)
        return 0;
    const int shift = std::countr_zero(mask);
    const uint32_t maximum = mask >> shift;
    return static_cast<uint8_t>(((pixel & mask) >> shift) * 255u / maximum);
}

} // namespace

const ScreenFormat *FindScreenFormat(std::string_view name) {
    for (const ScreenFormat &format : kScreenFormats)
        if (format.name == name)
            return &format;
    return nullptr;
}

RgbImage ToRgb(const ScreenFormat &format, const uint8_t *bits, uint32_t pitch, int width, int height,
               const uint32_t *palette) {
    RgbImage image;
    image.width = width;
    image.height = height;
    image.rgb.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 3u);
    const uint32_t bytes = format.bitsPerPixel / 8;
    uint8_t *out = image.rgb.data();
    for (int y = 0; y < height; ++y) {
        const uint8_t *row = bits + static_cast<size_t>(y) * pitch;
        for (int x = 0; x < width; ++x, out += 3) {
            const uint32_t pixel = ReadPixel(row + static_cast<size_t>(x) * bytes, bytes);
            if (format.palettized) {
                const uint32_t colour = palette[pixel & 0xFFu];
                out[0] = ChannelFromComponent(colour);
                out[1] = ChannelFromComponent(colour >> 8);
                out[2] = ChannelFromComponent(colour >> 16);
            } else {
                out[0] = Field(pixel, format.redMask);
                out[1] = Field(pixel, format.greenMask);
                out[2] = Field(pixel, format.blueMask);
            }
        }
    }
    return image;
}

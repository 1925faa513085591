// The screen formats the demo draws in, and the conversion of a finished
// buffer into 8-bit RGB for the images.
#ifndef VANTU_DEMO_FORMATS_H
#define VANTU_DEMO_FORMATS_H

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

struct ScreenFormat {
    std::string_view name; // as given to --formats and used in file names
    uint32_t bitsPerPixel;
    uint32_t redMask, greenMask, blueMask; // all 0 for the palettized format
    bool palettized;
};

inline constexpr std::array<ScreenFormat, 6> kScreenFormats = {{
    {"8", 8, 0, 0, 0, true},
    {"555", 16, 0x7C00, 0x03E0, 0x001F, false},
    {"565", 16, 0xF800, 0x07E0, 0x001F, false},
    {"888", 32, 0xFF0000, 0xFF00, 0xFF, false},
    {"24", 24, 0xFF0000, 0xFF00, 0xFF, false},
    {"444", 16, 0xF00, 0xF0, 0xF, false},
}};

// The format named `name`, or null.
const ScreenFormat *FindScreenFormat(std::string_view name);

struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb; // width * height * 3, rows top to bottom
};

// A colour word's component (0..127) as an 8-bit channel.
constexpr uint8_t ChannelFromComponent(uint32_t component) {
    return static_cast<uint8_t>((component & 0x7Fu) * 255u / 127u);
}

// Converts `height` rows of `width` pixels at `bits` (rows `pitch` bytes apart)
// in `format` to RGB. `palette` (256 colour words) is read for the palettized format.
RgbImage ToRgb(const ScreenFormat &format, const uint8_t *bits, uint32_t pitch, int width, int height,
               const uint32_t *palette);

#endif

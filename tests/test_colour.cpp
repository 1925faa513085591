// Colour words to pixel values: fixed layouts, mask-driven conversion, the
// palette search, and the choice made at readying.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "common.h"

namespace {

// A record over a screen of this format, its conversion chosen over `before`.
SCommonRec ScreenOf(uint32_t bpp, uint32_t r, uint32_t g, uint32_t b, SColourShift before = {}) {
    SCommonRec rec{};
    rec.colourShift = before, rec.screenInfo = SBitmapInfo{0, 0, 0, 0, bpp, r, g, b, 0, nullptr};
    return CommonChooseScreenColor(&rec), rec;
}
bool Same(const SColourShift &a, const SColourShift &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct Layout {
    GetScreenColorFunc fixed;
    uint32_t r, g, b;
};
const Layout kLayouts[] = {{CommonGetScreenColor555, 0x7C00, 0x3E0, 0x1F},
                           {CommonGetScreenColor565, 0xF800, 0x7E0, 0x1F},
                           {CommonGetScreenColor888, 0xFF0000, 0xFF00, 0x00FF}};

// The fixed layouts' worked values are compile-time checks beside them; here
// the generic conversion with their masks must agree with them for every word.
TEST(Colour, FixedLayoutsEqualGenericForEveryColourWord) {
    const uint32_t stride = sizeof(void *) == 4 ? 7 : 1; // an odd-stride sample under 32-bit emulation
    for (const auto &layout : kLayouts) {                // 24 bits per pixel always takes the generic path
        SCommonRec rec = ScreenOf(24, layout.r, layout.g, layout.b);
        uint32_t mismatches = 0;
        for (uint32_t top : {0x00u, 0x01u, 0x80u, 0xFFu})
            for (uint32_t low = 0; low < 0x1000000u; low += stride) {
                const uint32_t c = top << 24 | low;
                mismatches += layout.fixed(nullptr, nullptr, c) != CommonGetScreenColorRGB(&rec, nullptr, c);
            }
        EXPECT_EQ(mismatches, 0u) << std::hex << layout.r;
    }
}

// The last two rows have split masks: the byte is read signed (0xFF is -1),
// the right shift is arithmetic.
TEST(Colour, GenericWithOtherMasks) {
    const struct {
        uint32_t r, g, b, colour, pixel;
    } rows[] = {{0x0F00, 0x00F0, 0x000F, 0x7F7F7F, 0x0FFF},
                {0x0F00, 0x00F0, 0x000F, 0x00007F, 0x0F00},
                {0x0F00, 0x00F0, 0x000F, 0x404040, 0x0888},
                {0x0F00, 0x00F0, 0x000F, 0x030000, 1},
                {0, 0, 0, 0, 0},
                {0xFF000000, 0xFF0000, 0xFF00, 0x00007F, 0xFE000000},
                {0xFF000000, 0xFF0000, 0xFF00, 0x7F7F7F, 0xFEFEFE00},
                {0x3FF00000, 0xFFC00, 0x3FF, 0x7F7F7F, 0x3F8FE3F8},
                {0, 0, 0, 0x7F7F7F, 1},
                {0, 0, 0, 0x01000000, 1},
                {0x101, 0, 0, 0x0000FF, 0x101},
                {0x02000001, 0, 0, 0x0000FF, 0xFE000001}};
    for (const auto &row : rows) {
        SCommonRec rec = ScreenOf(16, row.r, row.g, row.b);
        EXPECT_EQ(rec.GetScreenColor(&rec, nullptr, row.colour), row.pixel) << std::hex << row.r << " " << row.colour;
    }
}

TEST(Colour, MaskAnalysis) {
    const struct {
        uint32_t mask, norm;
        int32_t shift;
    } rows[] = {{0x7C00, 0x7C, 8},      {0x03E0, 0x7C, 3},    {0x001F, 0x7C, -2},     {0xF800, 0x7C, 9},
                {0x07E0, 0x7E, 4},      {0xFF0000, 0x7F, 17}, {0xFF00, 0x7F, 9},      {0x00FF, 0x7F, 1},
                {0x0F00, 0x78, 5},      {0x000F, 0x78, -3},   {0xFF000000, 0x7F, 25}, {0x80000000, 0x40, 25},
                {0x3FF00000, 0x7F, 23}, {0x0003, 0x60, -5},   {0x0001, 0x40, -6},     {0, 0, 0}};
    for (const auto &row : rows)
        EXPECT_TRUE(Same(ScreenOf(24, row.mask, row.mask, row.mask).colourShift,
                         {row.norm, row.norm, row.norm, row.shift, row.shift, row.shift}))
            << std::hex << row.mask;
}

// Only depth and red decide (the odd green and blue masks do not); the fixed
// conversions leave colourShift as it was, and a reset clears it.
TEST(Colour, SelectionTouchesColourShiftOnlyForTheGenericConversion) {
    const GetScreenColorFunc rgb = CommonGetScreenColorRGB;
    const struct {
        uint32_t bpp, red;
        GetScreenColorFunc want;
    } rows[] = {{8, 0x7C00, CommonGetScreenColor8},
                {16, 0x7C00, CommonGetScreenColor555},
                {16, 0xF800, CommonGetScreenColor565},
                {16, 0xFF0000, rgb},
                {32, 0xFF0000, CommonGetScreenColor888},
                {32, 0xF800, rgb},
                {24, 0xFF0000, rgb},
                {15, 0x7C00, rgb},
                {0, 0, rgb}};
    const SColourShift stale{1, 2, 3, 4, 5, 6};
    for (const auto &row : rows) {
        SCommonRec rec = ScreenOf(row.bpp, row.red, 0x3, 0x3000, stale);
        EXPECT_EQ(rec.GetScreenColor, row.want) << row.bpp << " " << std::hex << row.red;
        const SColourShift &got = rec.colourShift;
        const SColourShift want =
            row.want == rgb ? SColourShift{got.redMask, 0x60, 0x60, got.redShift, -5, 7} : stale;
        EXPECT_TRUE(Same(got, want)) << row.bpp;
        CommonResetScreenColor(&rec);
        EXPECT_EQ(rec.GetScreenColor, CommonGetScreenColorFail);
        EXPECT_TRUE(Same(rec.colourShift, {}));
    }
}

TEST(Colour, PaletteSearch) { // ties go to the lowest index; entry 0 takes part
    SCommonPalette pal{};
    std::fill_n(pal.entries, 256, 0x606060u);
    pal.entries[0] = 0, pal.entries[1] = 0x407F, pal.entries[2] = 0x7F40, pal.entries[7] = pal.entries[9] = 0x302010;
    SCommonBitmap bmp{};
    EXPECT_EQ(CommonGetScreenColor8(nullptr, &bmp, 0x7F7F7F), 0u) << "no palette";
    bmp.palette = &pal;
    const struct {
        uint32_t colour, index;
    } rows[] = {{0x004040, 1}, {0x302010, 7}, {0x7F7F7F, 3}, {0x01000000, 7}, {0, 0}};
    for (const auto &row : rows)
        EXPECT_EQ(CommonGetScreenColor8(nullptr, &bmp, row.colour), row.index) << std::hex << row.colour;
    // Bytes are signed: red 0xFF is -1, next to 0 rather than to 0x7F.
    pal.entries[4] = 0x00007F, pal.entries[5] = 0x000000;
    EXPECT_EQ(CommonGetScreenColor8(nullptr, &bmp, 0x0000FF), 5u);
}

} // namespace

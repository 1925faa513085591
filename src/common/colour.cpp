// Screen colour conversion: colour words (7-bit red, green, blue in bytes 0-2)
// to pixel values of the current screen, and the choice of conversion made
// when the driver becomes ready.
//
// Every conversion keeps one rule: colour word 0 gives pixel 0 (the
// transparent key of the keyed copy) and any other colour word gives a
// non-zero pixel, 1 where the converted fields would all be 0.
#include <cstdint>

#include "common.h"
#include "pixels.h"

namespace {

// A non-zero colour word must not become the transparent pixel.
constexpr uint32_t NonZero(uint32_t pixel) { return pixel != 0 ? pixel : 1u; }

// 5-5-5: the top five bits of each component.
constexpr uint32_t To555(uint32_t colour) {
    if (colour == 0)
        return 0;
    return NonZero(((colour >> 2) & 0x1Fu) << 10 | ((colour >> 10) & 0x1Fu) << 5 | ((colour >> 18) & 0x1Fu));
}

// 5-6-5: green keeps six bits.
constexpr uint32_t To565(uint32_t colour) {
    if (colour == 0)
        return 0;
    return NonZero(((colour >> 2) & 0x1Fu) << 11 | ((colour >> 9) & 0x3Fu) << 5 | ((colour >> 18) & 0x1Fu));
}

// 8-8-8: each 7-bit component at the top of its byte, so white is 0xFEFEFE.
constexpr uint32_t To888(uint32_t colour) {
    if (colour == 0)
        return 0;
    return NonZero((colour & 0x7Fu) << 17 | (colour & 0x7F00u) << 1 | ((colour >> 15) & 0xFEu));
}

static_assert(To555(0x7F7F7F) == 0x7FFF && To555(0x404040) == 0x4210 && To555(0x030000) == 1);
static_assert(To565(0x00007F) == 0xF800 && To565(0x007F00) == 0x07E0 && To565(0x404040) == 0x8410);
static_assert(To888(0x7F7F7F) == 0xFEFEFE && To888(0x030000) == 6 && To888(0x01000000) == 1);
static_assert(To888(0x0000FF) == 0xFE0000);

struct MaskShift {
    uint32_t mask;
    int32_t shift;
};

// Normalise one screen mask: its top bit moved to bit 6, cut to 7 bits, and
// how far it moved. A walk over the bits rather than a formula, so that masks
// that are not one contiguous run still give a defined, repeatable result.
constexpr MaskShift AnalyseMask(uint32_t m) {
    int32_t s = 0;
    if (m == 0)
        return {0, 0};
    while ((m & 1u) == 0) {
        m >>= 1;
        ++s;
    }
    while ((m & 0x80u) != 0) {
        m >>= 1;
        ++s;
    }
    while ((m & 0x40u) == 0) {
        m <<= 1;
        --s;
    }
    return {m, s};
}

static_assert(AnalyseMask(0x7C00).mask == 0x7C && AnalyseMask(0x7C00).shift == 8);
static_assert(AnalyseMask(0x001F).mask == 0x7C && AnalyseMask(0x001F).shift == -2);
static_assert(AnalyseMask(0x07E0).mask == 0x7E && AnalyseMask(0x07E0).shift == 4);
static_assert(AnalyseMask(0x80000000u).mask == 0x40 && AnalyseMask(0x80000000u).shift == 25);
static_assert(AnalyseMask(0x0001).mask == 0x40 && AnalyseMask(0x0001).shift == -6);
static_assert(AnalyseMask(0xFFFFFFFFu).mask == 0x7F && AnalyseMask(0xFFFFFFFFu).shift == 25);

// One component of the generic conversion. The record is the host's to
// write, so shifts outside 0..31 either way are given a defined result.
constexpr uint32_t Place(int32_t component, uint32_t mask, int32_t shift) {
    const uint32_t v = static_cast<uint32_t>(component) & mask;
    if (shift > 0)
        return shift < 32 ? v << shift : 0u;
    if (shift < 0)
        return static_cast<uint32_t>(static_cast<int32_t>(v) >> (shift > -32 ? -shift : 31));
    return v;
}

constexpr uint32_t ToRGB(const SColourShift &cs, uint32_t colour) {
    if (colour == 0)
        return 0;
    using vantu::SignedByte;
    return NonZero(Place(SignedByte(colour, 0), cs.redMask, cs.redShift) |
                   Place(SignedByte(colour, 1), cs.greenMask, cs.greenShift) |
                   Place(SignedByte(colour, 2), cs.blueMask, cs.blueShift));
}

constexpr SColourShift kStandard565{0x7C, 0x7E, 0x7C, 9, 4, -2};
static_assert(ToRGB(kStandard565, 0x7F7F7F) == To565(0x7F7F7F));
static_assert(ToRGB(SColourShift{}, 0x01000000) == 1);

} // namespace

extern "C" {

uint32_t VANTU_CALL CommonGetScreenColor8(SCommonRec *, SCommonBitmap *bitmap, uint32_t colour) {
    if (colour == 0 || bitmap == nullptr || bitmap->palette == nullptr)
        return 0;
    const uint32_t *entries = bitmap->palette->entries;
    // Entry 0 is never chosen, so a non-zero colour word never becomes the
    // transparent pixel; ties go to the lowest index.
    return vantu::ActiveKernels().nearestEntry(entries, colour);
}

uint32_t VANTU_CALL CommonGetScreenColor555(SCommonRec *, SCommonBitmap *, uint32_t colour) { return To555(colour); }

uint32_t VANTU_CALL CommonGetScreenColor565(SCommonRec *, SCommonBitmap *, uint32_t colour) { return To565(colour); }

uint32_t VANTU_CALL CommonGetScreenColor888(SCommonRec *, SCommonBitmap *, uint32_t colour) { return To888(colour); }

uint32_t VANTU_CALL CommonGetScreenColorRGB(SCommonRec *record, SCommonBitmap *, uint32_t colour) {
    if (record == nullptr)
        return 0;
    return ToRGB(record->colourShift, colour);
}

uint32_t VANTU_CALL CommonGetScreenColorFail(SCommonRec *, SCommonBitmap *, uint32_t) { return 0; }

void CommonChooseScreenColor(SCommonRec *record) {
    if (record == nullptr)
        return;
    const SBitmapInfo &screen = record->screenInfo;
    // Only the depth and the red mask decide; the fixed layouts trust them.
    GetScreenColorFunc chosen = CommonGetScreenColorRGB;
    if (screen.bitsPerPixel == 8)
        chosen = CommonGetScreenColor8;
    else if (screen.bitsPerPixel == 16 && screen.redMask == 0x7C00)
        chosen = CommonGetScreenColor555;
    else if (screen.bitsPerPixel == 16 && screen.redMask == 0xF800)
        chosen = CommonGetScreenColor565;
    else if (screen.bitsPerPixel == 32 && screen.redMask == 0xFF0000)
        chosen = CommonGetScreenColor888;
    record->GetScreenColor = chosen;
    if (chosen != CommonGetScreenColorRGB)
        return;
    const MaskShift red = AnalyseMask(screen.redMask);
    const MaskShift green = AnalyseMask(screen.greenMask);
    const MaskShift blue = AnalyseMask(screen.blueMask);
    record->colourShift = SColourShift{red.mask, green.mask, blue.mask, red.shift, green.shift, blue.shift};
}

void CommonResetScreenColor(SCommonRec *record) {
    if (record == nullptr)
        return;
    record->GetScreenColor = CommonGetScreenColorFail;
    record->colourShift = SColourShift{};
}

} // extern "C"

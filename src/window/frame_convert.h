// What a screen pixel shows, for backends that present 32-bit 0x00RRGGBB
// pixels: the rules every depth follows, and the row conversions to them.
//
// A colour word's 7-bit component c shows as c << 1, as the 8-8-8 conversion
// makes it, so that white is 0xFEFEFE at every depth. 8-bit pixels show the
// palette entry they index (no palette: index i as grey i); 5-6-5 fields are
// widened to the 7-bit component they stand for by repeating their top bits,
// then shown as above; 24- and 32-bit pixels show their bytes as they are.
#pragma once

#include <cstddef>
#include <cstdint>

#include <vantu/driver.h>

namespace vantu::window {

// The 256 colours an 8-bit screen shows through `palette` (null: greys).
void PaletteColours(const SCommonPalette *palette, uint32_t colours[256]);

// Rows of 5-6-5 pixels, and of 3-byte pixels (blue byte first), to 0x00RRGGBB.
void Convert565Rows(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch, int32_t width,
                    int32_t rows);
void Convert24Rows(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch, int32_t width,
                   int32_t rows);

} // namespace vantu::window

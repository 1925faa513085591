// The nearest palette entry to a colour word: the search of an 8-bit screen's
// colour conversion, one version per SIMD level.
#pragma once

#include <cstdint>

#include "pixels.h"

namespace vantu {

// The index (1 to 255) of the entry of `entries` (256 colour words) nearest to
// `colour`: the distance is the sum of the absolute differences of bytes 0, 1
// and 2 read as signed 8-bit values; among equally near entries the lowest
// index wins; entry 0 is never chosen. The caller answers the colour word 0
// and a missing palette itself.
using PaletteSearchFn = uint32_t (*)(const uint32_t *entries, uint32_t colour);

// The search of `level`, or null when this build or this CPU lacks it.
PaletteSearchFn PaletteSearchForLevel(KernelLevel level);

// The search at the level the pixel kernels use (ActiveKernels).
uint32_t PaletteSearch(const uint32_t *entries, uint32_t colour);

// Each level's own, defined in its kernel file.
uint32_t PaletteSearchSse2(const uint32_t *entries, uint32_t colour);
uint32_t PaletteSearchAvx2(const uint32_t *entries, uint32_t colour);
uint32_t PaletteSearchAvx512(const uint32_t *entries, uint32_t colour);

} // namespace vantu

// The kernel tables of each SIMD level. Each lives in its own source file,
// compiled with that level's instruction-set flags; nothing here may be
// called unless the CPU has been found to support the level.
#pragma once

#include "pixels.h"

namespace vantu {

// A variant of a level, and the CpuFeature bits it needs beyond the level's own.
struct LevelVariant {
    const PixelKernels *kernels;
    uint32_t needs;
};
struct VariantList {
    const LevelVariant *items;
    int count;
};

const PixelKernels &PortableKernels();
const PixelKernels &Sse2Kernels();
const PixelKernels &Avx2Kernels();
VariantList Avx512Variants();

// The palette expansion by byte permutations (AVX-512 VBMI): its own file,
// built with that flag, so that no other kernel uses VBMI instructions.
void ExpandPaletteVbmi(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch, int32_t n,
                       int32_t rows, const uint32_t *lut);

} // namespace vantu

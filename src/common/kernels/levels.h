// The kernel tables of each SIMD level. Each lives in its own source file,
// compiled with that level's instruction-set flags; nothing here may be
// called unless the CPU has been found to support the level.
#pragma once

#include "pixels.h"

namespace vantu {

const PixelKernels &PortableKernels();
const PixelKernels &Sse2Kernels();
const PixelKernels &Avx2Kernels();
const PixelKernels &Avx512Kernels();

} // namespace vantu

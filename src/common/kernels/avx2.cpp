// The 256-bit kernels (AVX2). Rows narrower than 32 bytes take the 128-bit
// loops, still encoded as AVX instructions by this file's flags.
#include "levels.h"
#include "x86_ops.h"

namespace vantu {
namespace {

constexpr PixelKernels kAvx2 = MakeKernels<Vec256>("avx2", "", NearestEntry<Vec256>, ExpandRect<ExpandRow128>);

} // namespace

const PixelKernels &Avx2Kernels() { return kAvx2; }

} // namespace vantu

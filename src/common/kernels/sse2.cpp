// The 128-bit kernels: SSE2 only, so they also serve 32-bit x86 builds.
#include "levels.h"
#include "x86_ops.h"

namespace vantu {
namespace {

constexpr PixelKernels kSse2 = MakeKernels<Vec128>("sse2");

} // namespace

const PixelKernels &Sse2Kernels() { return kSse2; }

} // namespace vantu

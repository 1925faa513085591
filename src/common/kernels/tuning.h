// Which variant of a level each CPU takes: the first row that matches the
// CPU's maker, family and model (as CPUID reports them, extended parts
// added) names the variant of its level; a level no row names for the CPU
// takes the first variant it lists. Variants compute the same bytes, so a wrong row
// costs speed, never results: correct a row here when a CPU measures
// otherwise. docs/performance.md has the measurements and the published
// instruction costs these rows were drawn from.
#pragma once

#include <cstdint>

#include "pixels.h"

namespace vantu {

struct TuningRow {
    CpuVendor vendor;
    uint32_t familyFirst, familyLast;
    uint32_t modelFirst, modelLast;
    KernelLevel level;
    const char *variant;
};

inline constexpr TuningRow kTuning[] = {
    // AMD family 25 with AVX-512 (Zen 4) and family 26 (Zen 5, measured):
    // a 512-bit store under a mask costs several plain stores there, and a
    // read of the destination and a merge in registers cost less.
    {CpuVendor::Amd, 0x19, 0x1A, 0x00, 0xFF, KernelLevel::AVX512, "merged"},
    // Intel (family 6, every AVX-512 model): a masked store is one store,
    // as cheap as a plain one, and the masked variant reads no destination.
    {CpuVendor::Intel, 0x06, 0x06, 0x00, 0xFF, KernelLevel::AVX512, "masked"},
};

} // namespace vantu

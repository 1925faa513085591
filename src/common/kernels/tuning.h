// Which variant of a level each CPU takes: the first row that matches the
// CPU's maker, family and model (as CPUID reports them, extended parts
// added) names the variant of its level; a level no row names for the CPU
// takes the first variant it lists. Variants compute the same bytes, so a wrong row
// costs speed, never results: correct a row here when a CPU measures
// otherwise (bench/report.py --levels avx512/masked,avx512/merged,avx2).
// docs/performance.md has the measurements and the published instruction
// costs these rows were drawn from.
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
    // AMD family 26 (Zen 5), measured: the merged variant up to 1.5x faster
    // than the masked one, within 5% elsewhere but in two cases. Family 25
    // with AVX-512 (Zen 4), not measured: it executes 512-bit operations as
    // two 256-bit halves and stores at most 256 bits a cycle, so a 512-bit
    // masked store is never cheaper than the merged rows' 256-bit stores.
    {CpuVendor::Amd, 0x19, 0x1A, 0x00, 0xFF, KernelLevel::AVX512, "merged"},
    // Intel (family 6, every AVX-512 model), not measured here: a 512-bit
    // store under a mask is one store, as cheap as a plain one, in the
    // published tables (Skylake-SP to Sapphire Rapids), and the masked
    // variant reads no destination. The only Intel run we have, on the code
    // before the masked rows were aligned and empty masks skipped, had AVX2
    // ahead on keyed sprites: if a run still shows that, make this "merged".
    {CpuVendor::Intel, 0x06, 0x06, 0x00, 0xFF, KernelLevel::AVX512, "masked"},
};

} // namespace vantu

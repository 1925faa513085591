// The palette search's plain version and the choice of level, which follows
// the pixel kernels' (so VANTU_SIMD caps both).
#include <atomic>

#include "palette_search.h"

#include "levels.h"

namespace vantu {
namespace {

int SignedByte(uint32_t word, int index) { return static_cast<int8_t>(static_cast<uint8_t>(word >> (8 * index))); }

uint32_t PlainSearch(const uint32_t *entries, uint32_t colour) {
    const int r = SignedByte(colour, 0), g = SignedByte(colour, 1), b = SignedByte(colour, 2);
    int best = 0x7FFFFFFF;
    uint32_t bestIndex = 0;
    for (uint32_t i = 1; i < 256; ++i) {
        const uint32_t e = entries[i];
        const int dr = r - SignedByte(e, 0), dg = g - SignedByte(e, 1), db = b - SignedByte(e, 2);
        const int d = (dr < 0 ? -dr : dr) + (dg < 0 ? -dg : dg) + (db < 0 ? -db : db);
        if (d < best) {
            best = d;
            bestIndex = i;
            if (d == 0)
                break;
        }
    }
    return bestIndex;
}

} // namespace

PaletteSearchFn PaletteSearchForLevel(KernelLevel level) {
    if (KernelsForLevel(level) == nullptr)
        return nullptr;
    switch (level) {
    case KernelLevel::Reference:
        return PlainSearch;
#if defined(VANTU_X86_KERNELS)
    case KernelLevel::SSE2:
        return PaletteSearchSse2;
    case KernelLevel::AVX2:
        return PaletteSearchAvx2;
    case KernelLevel::AVX512:
        return PaletteSearchAvx512;
#endif
    default:
        return nullptr;
    }
}

uint32_t PaletteSearch(const uint32_t *entries, uint32_t colour) {
    // The search of the level the pixel kernels run at, chosen on first use
    // and cached in an atomic (a guarded static would pull in a C++ runtime).
    static std::atomic<PaletteSearchFn> cached{nullptr};
    PaletteSearchFn search = cached.load(std::memory_order_acquire);
    if (search == nullptr) {
        search = PlainSearch;
        const PixelKernels *active = &ActiveKernels();
        for (int level = kKernelLevels - 1; level > 0; --level)
            if (KernelsForLevel(static_cast<KernelLevel>(level)) == active)
                if (PaletteSearchFn fn = PaletteSearchForLevel(static_cast<KernelLevel>(level))) {
                    search = fn;
                    break;
                }
        cached.store(search, std::memory_order_release);
    }
    return search(entries, colour);
}

} // namespace vantu

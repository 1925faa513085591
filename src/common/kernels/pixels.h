// Pixel kernels: the inner loops of clear and copy, over rectangles that the
// caller has already clipped, and the 8-bit screen's palette search; one table
// of them per instruction-set level. A rectangle kernel trusts its arguments:
// `n` pixels (or bytes, for the opaque copy) per row, `rows` rows, both at
// least 1, every row inside its surface (the pitch may be negative), and no
// source row sharing a byte with its destination row. Only the n pixels of
// each row are read or written. Where rows of a surface overlap one another,
// or a source row shares bytes with another row's destination (a surface
// scrolled over itself), rows are done in order, row 0 first, which the
// caller relies on; otherwise in any order.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantu {

// Fill `rows` rows of `n` pixels with the low bytes of `pixel`.
using FillRectFn = void (*)(uint8_t *dst, ptrdiff_t pitch, int32_t n, int32_t rows, uint32_t pixel);
// Copy `rows` rows of `n` units (bytes for the opaque copy, pixels for the keyed copy).
using CopyRectFn = void (*)(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch, int32_t n,
                            int32_t rows);

// The index (1 to 255) of the entry of `entries` (256 colour words) nearest
// to `colour`: the distance is the sum of the absolute differences of bytes
// 0, 1 and 2 read as signed 8-bit values; among equally near entries the
// lowest index wins; entry 0 is never chosen. The caller answers the colour
// word 0 and a missing palette itself.
using NearestEntryFn = uint32_t (*)(const uint32_t *entries, uint32_t colour);

// Expand `rows` rows of `n` 1-byte palette indices into `n` 32-bit pixels
// each: dst pixel x = lut[src byte x] (256 entries). Source and destination
// share no byte.
using ExpandRectFn = void (*)(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch, int32_t n,
                              int32_t rows, const uint32_t *lut);

// One level's kernels, indexed by pixel size in bytes (1 to 4; index 0 unused).
// The keyed copy leaves a destination pixel alone where the source pixel is 0.
// A level may come in variants that compute the same bytes in different ways
// (masked stores or whole-vector stores, say), chosen per CPU.
struct PixelKernels {
    const char *name;    // the level
    const char *variant; // "" where the level has one way only
    FillRectFn fill[5];
    CopyRectFn copy; // bytes
    CopyRectFn copyKeyed[5];
    NearestEntryFn nearestEntry;
    ExpandRectFn expandPalette;
};

// Byte `n` of a colour word read as a signed 8-bit value.
constexpr int32_t SignedByte(uint32_t word, int n) {
    return static_cast<int8_t>(static_cast<uint8_t>(word >> (8 * n)));
}

// Levels in the order a cap reads them: each level is chosen only when no
// higher one is available and allowed. The portable level (generic compiler
// vectors) is the top one where no x86 level applies; on x86 it sits below
// SSE2, so only a cap at it selects it there.
enum class KernelLevel { Reference = 0, Portable = 1, SSE2 = 2, AVX2 = 3, AVX512 = 4 };
inline constexpr int kKernelLevels = 5;

// The plain, obviously correct loops every other level is checked against.
const PixelKernels &ReferenceKernels();

// The plain loop of the palette expansion, which a level without its own uses.
void ExpandPaletteRows(uint8_t *dst, ptrdiff_t dstPitch, const uint8_t *src, ptrdiff_t srcPitch, int32_t n,
                       int32_t rows, const uint32_t *lut);

// What the kernel choice reads of the CPU, found once: the maker, family and
// model as CPUID reports them (the family and model with their extended
// parts added; 0 where there is no CPUID), the highest level it runs, and the
// features some variants need beyond their level's.
enum class CpuVendor { Other, Intel, Amd };
enum CpuFeature : uint32_t { kCpuAvx512Vbmi = 1u << 0 };
struct CpuFacts {
    CpuVendor vendor;
    uint32_t family;
    uint32_t model;
    uint32_t features; // CpuFeature bits
    KernelLevel level;
};
const CpuFacts &Cpu();

// The kernels of `level` in the variant chosen for this CPU, or null when
// this build or this CPU lacks the level.
const PixelKernels *KernelsForLevel(KernelLevel level);

// Variant `index` (from 0) of `level` among those this CPU can run; null past
// the last one, or when the level is missing. Every variant gives the same bytes.
const PixelKernels *KernelVariant(KernelLevel level, int index);

// The kernels clear, copy and the palette search use: the highest level the
// CPU supports, in its chosen variant, chosen once; the environment variable
// VANTU_SIMD (reference, portable, sse2, avx2, avx512) caps it at that level,
// and "level/variant" (avx512/merged, say) also names the variant.
const PixelKernels &ActiveKernels();

} // namespace vantu

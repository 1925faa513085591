// The portable kernels: 128-bit vectors written with the compiler's generic
// vector types (GCC and Clang), no intrinsics, so that any target the
// compiler vectorizes for gets them: the top level where no x86 level
// applies (ARM64: NEON). On x86 this file is built for SSE2 alone, which is
// what lets it be measured there.
#include "levels.h"
#include "pixel_ops.h"

namespace vantu {
namespace {

typedef uint8_t U8x16 __attribute__((vector_size(16)));
typedef uint16_t U16x8 __attribute__((vector_size(16)));
typedef uint32_t U32x4 __attribute__((vector_size(16)));
typedef int32_t I32x4 __attribute__((vector_size(16)));
typedef uint64_t U64x2 __attribute__((vector_size(16)));

// Lanes of a 4-lane vector rearranged; the indices are constants.
#if defined(__clang__)
#define VANTU_SHUFFLE4(v, a, b, c, d) __builtin_shufflevector((v), (v), a, b, c, d)
#else
#define VANTU_SHUFFLE4(v, a, b, c, d) __builtin_shuffle((v), U32x4{a, b, c, d})
#endif

struct VecPortable : NarrowRows16 {
    using Vec = U8x16;
    static constexpr size_t kWidth = 16;

    static Vec LoadU(const uint8_t *p) {
        Vec v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    static void StoreU(uint8_t *p, Vec v) { std::memcpy(p, &v, sizeof v); }
    static void StoreA(uint8_t *p, Vec v) { std::memcpy(__builtin_assume_aligned(p, 16), &v, sizeof v); }

    template <int P>
    static Vec Transparent(Vec v) {
        if constexpr (P == 1)
            return reinterpret_cast<Vec>(v == 0);
        else if constexpr (P == 2)
            return reinterpret_cast<Vec>(reinterpret_cast<U16x8>(v) == 0);
        else
            return reinterpret_cast<Vec>(reinterpret_cast<U32x4>(v) == 0);
    }
    static bool All(Vec mask) {
        const U64x2 q = reinterpret_cast<U64x2>(mask);
        return (q[0] & q[1]) == ~uint64_t{0};
    }
    static Vec Blend(Vec src, Vec dst, Vec keep) { return (src & ~keep) | (dst & keep); }
    static Vec Merge(Vec s, Vec d, Vec clear) { return s | (d & clear); }

    static Vec Set1(uint32_t x) { return reinterpret_cast<Vec>(U32x4{x, x, x, x}); }
    static Vec Xor(Vec a, Vec b) { return a ^ b; }
    static Vec And(Vec a, Vec b) { return a & b; }
    static Vec Or(Vec a, Vec b) { return a | b; }
    static Vec AbsDiffU8(Vec a, Vec b) {
        const Vec greater = reinterpret_cast<Vec>(a > b);
        return ((a - b) & greater) | ((b - a) & ~greater);
    }
    static Vec Add32(Vec a, Vec b) {
        return reinterpret_cast<Vec>(reinterpret_cast<U32x4>(a) + reinterpret_cast<U32x4>(b));
    }
    template <int N>
    static Vec Srli32(Vec v) {
        return reinterpret_cast<Vec>(reinterpret_cast<U32x4>(v) >> N);
    }
    template <int N>
    static Vec Slli32(Vec v) {
        return reinterpret_cast<Vec>(reinterpret_cast<U32x4>(v) << N);
    }
    static Vec Min32(Vec a, Vec b) {
        return Blend(a, b, reinterpret_cast<Vec>(reinterpret_cast<I32x4>(a) > reinterpret_cast<I32x4>(b)));
    }

    static void Keyed3Row(uint8_t *dst, const uint8_t *src, size_t bytes);
};

// Keyed copy of 3-byte pixels, four at a time: the 16 bytes at 12k hold
// pixels 4k to 4k+3 and 4 bytes of the next step, which keep the
// destination's value (and are rewritten in the next step). Words w0 to w3 of
// the vector; pixel 1, say, is the top byte of w0 and the low two bytes of w1,
// so pixel j is 0 where the bytes of w(j-1) and wj that it covers are. Four
// steps make a group of 48 bytes, all worked out from the destination before
// any is stored (a step reading the destination just after the previous
// step's overlapping store would wait for that store), the last one stored
// without its 4 spilled bytes, so that the next group's reads overlap no
// store. The last pixels, fewer than 16 bytes, go singly.
bool Keyed3Step(const uint8_t *dst, const uint8_t *src, U8x16 &out) {
    const U32x4 own = {0x00FFFFFFu, 0x0000FFFFu, 0x000000FFu, 0};       // bytes of pixel j in wj
    const U32x4 prior = {0, 0xFF000000u, 0xFFFF0000u, 0xFFFFFF00u};     // ... and in w(j-1)
    const U32x4 following = {0xFF000000u, 0xFFFF0000u, 0xFFFFFF00u, 0}; // bytes of pixel j+1 in wj
    const U32x4 spill = {0, 0, 0, 0xFFFFFFFFu};
    const U32x4 w = reinterpret_cast<U32x4>(VecPortable::LoadU(src));
    const U32x4 previous = VANTU_SHUFFLE4(w, 0, 0, 1, 2);
    // Lane j all ones where pixel j is transparent ...
    const U32x4 clear = reinterpret_cast<U32x4>(((w & own) | (previous & prior)) == 0);
    // ... spread over the pixel's bytes: wj holds bytes of pixels j and j+1.
    const U32x4 next = VANTU_SHUFFLE4(clear, 1, 2, 3, 3);
    const U8x16 keep = reinterpret_cast<U8x16>((clear & own) | (next & following) | spill);
    if (VecPortable::All(keep))
        return false;
    out = VecPortable::Blend(reinterpret_cast<U8x16>(w), VecPortable::LoadU(dst), keep);
    return true;
}

// Groups whose 48 bytes are all 0 (wholly transparent) or none 0 (wholly
// opaque) skip the per-pixel work: runs of either are common in sprites.
void VecPortable::Keyed3Row(uint8_t *dst, const uint8_t *src, size_t bytes) {
    size_t at = 0;
    for (; at + 52 <= bytes; at += 48) {
        const U8x16 a = LoadU(src + at), b = LoadU(src + at + 16), c = LoadU(src + at + 32);
        if (All(reinterpret_cast<U8x16>((a | b | c) == 0)))
            continue;
        if (All(reinterpret_cast<U8x16>((a != 0) & (b != 0) & (c != 0)))) {
            StoreU(dst + at, a);
            StoreU(dst + at + 16, b);
            StoreU(dst + at + 32, c);
            continue;
        }
        U8x16 r[4];
        bool store[4];
        for (int k = 0; k < 4; ++k)
            store[k] = Keyed3Step(dst + at + 12 * k, src + at + 12 * k, r[k]);
        for (int k = 0; k < 3; ++k)
            if (store[k])
                StoreU(dst + at + 12 * k, r[k]);
        if (store[3])
            std::memcpy(dst + at + 36, &r[3], 12);
    }
    for (; at + 16 <= bytes; at += 12) {
        U8x16 r;
        if (Keyed3Step(dst + at, src + at, r))
            StoreU(dst + at, r);
    }
    KeyedPixels<3>(dst + at, src + at, (bytes - at) / 3);
}

constexpr PixelKernels kPortable = MakeKernels<VecPortable>("portable", "");

} // namespace

const PixelKernels &PortableKernels() { return kPortable; }

} // namespace vantu

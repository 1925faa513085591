// What several test programs share: replayable seeds, host memory with guard
// bytes that nothing may change, surfaces described top-down or bottom-up in
// it, and the plain model of what a clear or a copy must leave in memory.
#pragma once

#include <vantu/driver.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace vantu::test {

// VANTU_TEST_SEED, or `fallback`; printed so that a failure can be replayed.
inline uint32_t Seed(const char *what, uint32_t fallback) {
    const char *env = std::getenv("VANTU_TEST_SEED");
    const uint32_t seed = env != nullptr ? static_cast<uint32_t>(std::strtoul(env, nullptr, 0)) : fallback;
    std::printf("%s seed %u (set VANTU_TEST_SEED to repeat)\n", what, seed);
    return seed;
}

// Host memory: `size` bytes between two guards of kGuard bytes. Every byte
// starts as kFill; surfaces are described inside it.
struct Arena {
    static constexpr size_t kGuard = 64;
    static constexpr uint8_t kFill = 0xA5;
    std::vector<uint8_t> bytes;
    explicit Arena(size_t size) : bytes(size + 2 * kGuard, kFill) {}
    uint8_t *Data() { return bytes.data() + kGuard; }
    size_t Size() const { return bytes.size() - 2 * kGuard; }
    bool GuardsIntact() const {
        auto fill = [](uint8_t b) { return b == kFill; };
        return std::all_of(bytes.begin(), bytes.begin() + kGuard, fill) &&
               std::all_of(bytes.end() - kGuard, bytes.end(), fill);
    }
};

// Bytes from the first row's first pixel (lowest address) to the last row's
// end, for `height` rows of `rowBytes` bytes `stride` bytes apart.
constexpr size_t Extent(size_t rowBytes, size_t height, size_t stride) {
    return height == 0 ? 0 : (height - 1) * stride + rowBytes;
}

// A surface whose rows are `stride` bytes apart and start `at` bytes into the
// arena: top-down (bits at the first row, pitch = stride), or bottom-up as
// device-independent bitmaps are stored (bits at the last row in memory,
// pitch = (u32)-stride).
inline SBitmapInfo Describe(Arena &arena, size_t at, uint32_t width, uint32_t height, uint32_t bitsPerPixel,
                            uint32_t stride, bool bottomUp) {
    SBitmapInfo info{width, height, stride, 0, bitsPerPixel, 0, 0, 0, 0, arena.Data() + at};
    if (bottomUp && height > 0) {
        info.pitch = 0u - stride;
        info.bits = arena.Data() + at + size_t{height - 1} * stride;
    }
    return info;
}

// The same description over another copy of the arena's memory.
inline SBitmapInfo Rebase(SBitmapInfo info, Arena &from, Arena &to) {
    info.bits = to.Data() + (static_cast<uint8_t *>(info.bits) - from.Data());
    return info;
}

// ---- The model ----------------------------------------------------------------------------------
//
// Written as plainly as the rules allow, and without any of the library's
// code: width and height are signed (0 or less: no pixels), pitch is the
// signed 32-bit row step, pixel (x, y) lies at bits + y * pitch + x * size,
// and a copy reads every source pixel before it writes any (as through a
// temporary), then writes the rows top first, each from the left.

inline uint8_t *ModelPixel(const SBitmapInfo &info, int64_t x, int64_t y) {
    const int64_t offset = y * static_cast<int32_t>(info.pitch) + x * (info.bitsPerPixel / 8);
    return static_cast<uint8_t *>(info.bits) + offset;
}

// 1- to 4-byte pixels take the low bytes of `pixel` (little-endian machines).
inline void ModelClear(const SBitmapInfo &info, uint32_t pixel) {
    const uint32_t p = info.bitsPerPixel / 8;
    if (p < 1 || p > 4 || static_cast<int32_t>(info.width) <= 0) // no rows walked for no pixels
        return;
    for (int64_t y = 0; y < static_cast<int32_t>(info.height); ++y)
        for (int64_t x = 0; x < static_cast<int32_t>(info.width); ++x)
            std::memcpy(ModelPixel(info, x, y), &pixel, p);
}

// Source pixel (sx + u, sy + v) goes to (dx + u, dy + v) for 0 <= u < w and
// 0 <= v < h (0 standing for the source's size) where both lie inside their
// surfaces; a keyed copy skips pixels whose bytes are all 0 and moves none of
// more than 4 bytes.
inline void ModelCopy(const SBitmapInfo &dst, const SBitmapInfo &src, int32_t sx, int32_t sy, int32_t dx, int32_t dy,
                      int32_t w, int32_t h, bool keyed) {
    const uint32_t p = src.bitsPerPixel / 8;
    if (p == 0 || (keyed && p > 4) || p != dst.bitsPerPixel / 8)
        return;
    const int64_t width = w != 0 ? w : static_cast<int32_t>(src.width);
    const int64_t height = h != 0 ? h : static_cast<int32_t>(src.height);
    const int64_t u0 = std::max<int64_t>({0, -int64_t{sx}, -int64_t{dx}});
    const int64_t v0 = std::max<int64_t>({0, -int64_t{sy}, -int64_t{dy}});
    const int64_t u1 = std::min<int64_t>(
        {width, static_cast<int32_t>(src.width) - int64_t{sx}, static_cast<int32_t>(dst.width) - int64_t{dx}});
    const int64_t v1 = std::min<int64_t>(
        {height, static_cast<int32_t>(src.height) - int64_t{sy}, static_cast<int32_t>(dst.height) - int64_t{dy}});
    if (u0 >= u1)
        return;
    std::vector<uint8_t> temporary;
    for (int64_t v = v0; v < v1; ++v)
        for (int64_t u = u0; u < u1; ++u) {
            const uint8_t *from = ModelPixel(src, sx + u, sy + v);
            temporary.insert(temporary.end(), from, from + p);
        }
    const uint8_t *next = temporary.data();
    for (int64_t v = v0; v < v1; ++v)
        for (int64_t u = u0; u < u1; ++u, next += p)
            if (!keyed || std::any_of(next, next + p, [](uint8_t b) { return b != 0; }))
                std::memcpy(ModelPixel(dst, dx + u, dy + v), next, p);
}

} // namespace vantu::test

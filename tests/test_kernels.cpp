// Every SIMD level's kernels against the reference loops, byte for byte: every row
// width from 1 to 300 pixels for every pixel size, odd pitches, misaligned rows,
// random guard bytes before, after and between the rows, which no kernel may change.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <random>
#include <vector>

#include "pixels.h"
#include "tuning.h"
#include "support.h"

namespace {

using vantu::KernelLevel;
const char *Name(KernelLevel l) { return std::array{"reference", "portable", "sse2", "avx2", "avx512"}[size_t(l)]; }

const uint32_t kSeed = vantu::test::Seed("kernel", 0x5eed2024u);

// How the transparent (all-zero) pixels of a keyed copy's source are spread.
enum class Key { Opaque, Clear, Half, PartlyZeroBytes, Runs, kCount };

// A surface of `rows` rows in an arena of random bytes (its guards included),
// starting anywhere, so rows start at any alignment; top-down or bottom-up
// (row 0 last in memory, a negative pitch).
struct Surface {
    vantu::test::Arena arena;
    size_t row0;
    ptrdiff_t pitch;
    uint8_t *Row0() { return arena.Data() + row0; }
};

Surface MakeSurface(std::mt19937 &rng, size_t rowBytes, int32_t rows) {
    const size_t stride = rowBytes + rng() % 40, start = 1 + rng() % 64,
                 last = stride * static_cast<size_t>(rows - 1);
    const bool bottomUp = (rng() & 1) != 0;
    Surface s{vantu::test::Arena(start + last + rowBytes), bottomUp ? start + last : start,
              bottomUp ? -static_cast<ptrdiff_t>(stride) : static_cast<ptrdiff_t>(stride)};
    for (uint8_t &b : s.arena.bytes)
        b = static_cast<uint8_t>(rng());
    return s;
}

// Source pixels for a keyed copy in the given spread.
void ShapeSource(std::mt19937 &rng, Surface &src, int p, int32_t n, int32_t rows, Key key) {
    for (int32_t y = 0; y < rows; ++y) {
        uint8_t *row = src.Row0() + y * src.pitch;
        const int32_t runStart = static_cast<int32_t>(rng() % static_cast<uint32_t>(n)), runLen = n / 2;
        for (int32_t x = 0; x < n; ++x) {
            uint8_t *px = row + x * p;
            bool clear = false;
            switch (key) {
            case Key::Opaque:
            case Key::kCount: break;
            case Key::Clear: clear = true; break;
            case Key::Half: clear = (rng() & 1) != 0; break;
            case Key::PartlyZeroBytes: // some bytes 0, never all of them
                for (int i = 0; i < p; ++i)
                    px[i] = (rng() & 1) ? 0 : px[i];
                break;
            case Key::Runs: clear = x >= runStart && x < runStart + runLen; break;
            }
            if (clear)
                std::memset(px, 0, static_cast<size_t>(p));
            else if (std::all_of(px, px + p, [](uint8_t b) { return b == 0; }))
                px[rng() % static_cast<uint32_t>(p)] = static_cast<uint8_t>(1u << (rng() % 8));
        }
    }
}

class Kernels : public testing::TestWithParam<KernelLevel> {};

// Every variant of a level that this CPU runs, whichever the CPU would choose.
std::vector<const vantu::PixelKernels *> Variants(KernelLevel level) {
    std::vector<const vantu::PixelKernels *> all;
    for (int i = 0; const vantu::PixelKernels *k = vantu::KernelVariant(level, i); ++i)
        all.push_back(k);
    return all;
}

TEST_P(Kernels, MatchReferenceByteForByte) {
    const auto variants = Variants(GetParam());
    if (variants.empty())
        GTEST_SKIP() << "this CPU (or build) lacks the " << Name(GetParam()) << " level: not tested";
    const vantu::PixelKernels &ref = vantu::ReferenceKernels();
    for (const vantu::PixelKernels *fast : variants) {
        std::mt19937 rng(kSeed + static_cast<uint32_t>(GetParam()));
        enum Op { Fill, Copy, Keyed };
        for (int p = 1; p <= 4; ++p)
            for (int32_t n = 1; n <= 300; ++n)
                for (int op = Fill; op <= Keyed; ++op) {
                    const int32_t rows = 1 + static_cast<int32_t>(rng() % 3);
                    const Key key = static_cast<Key>((n + op) % static_cast<int>(Key::kCount));
                    const size_t rowBytes = static_cast<size_t>(n) * static_cast<size_t>(p);
                    Surface src = MakeSurface(rng, rowBytes, rows), dst = MakeSurface(rng, rowBytes, rows);
                    ShapeSource(rng, src, p, n, rows, key);
                    Surface expect = dst;
                    const uint32_t pixel = static_cast<uint32_t>(rng());
                    if (op == Fill) {
                        ref.fill[p](expect.Row0(), expect.pitch, n, rows, pixel);
                        fast->fill[p](dst.Row0(), dst.pitch, n, rows, pixel);
                    } else if (op == Copy) {
                        const auto bytes = static_cast<int32_t>(rowBytes);
                        ref.copy(expect.Row0(), expect.pitch, src.Row0(), src.pitch, bytes, rows);
                        fast->copy(dst.Row0(), dst.pitch, src.Row0(), src.pitch, bytes, rows);
                    } else {
                        ref.copyKeyed[p](expect.Row0(), expect.pitch, src.Row0(), src.pitch, n, rows);
                        fast->copyKeyed[p](dst.Row0(), dst.pitch, src.Row0(), src.pitch, n, rows);
                    }
                    ASSERT_EQ(dst.arena.bytes, expect.arena.bytes)
                        << fast->name << "/" << fast->variant << " op " << op << " pixel size " << p << " n " << n
                        << " rows " << rows << " key " << static_cast<int>(key) << " pitch " << dst.pitch
                        << " row 0 at " << dst.row0 << " seed " << kSeed;
                }
    }
}

// Rectangles past 2 MiB and rows past 1 KiB, where some variants change
// their way of storing (wholly transparent runs skipped, other vector widths).
TEST_P(Kernels, LargeKeyedRectanglesMatchReference) {
    const auto variants = Variants(GetParam());
    if (variants.empty())
        GTEST_SKIP() << "this CPU (or build) lacks the " << Name(GetParam()) << " level: not tested";
    const vantu::PixelKernels &ref = vantu::ReferenceKernels();
    std::mt19937 rng(kSeed ^ 0x1a7eu);
    for (const vantu::PixelKernels *fast : variants)
        for (int p : {1, 2, 4}) {
            const int32_t n = 4099 / p, rows = 530;
            const size_t rowBytes = static_cast<size_t>(n) * static_cast<size_t>(p);
            Surface src = MakeSurface(rng, rowBytes, rows), dst = MakeSurface(rng, rowBytes, rows);
            ShapeSource(rng, src, p, n, rows, p == 2 ? Key::Half : Key::Runs);
            Surface expect = dst;
            ref.copyKeyed[p](expect.Row0(), expect.pitch, src.Row0(), src.pitch, n, rows);
            fast->copyKeyed[p](dst.Row0(), dst.pitch, src.Row0(), src.pitch, n, rows);
            ASSERT_TRUE(dst.arena.bytes == expect.arena.bytes)
                << fast->name << "/" << fast->variant << " pixel size " << p << " pitch " << dst.pitch;
        }
}

// Every index through a random table, rows of every width from 1 to 300,
// either pitch sign, rows at any alignment, guards untouched.
TEST_P(Kernels, PaletteExpansionMatchesReference) {
    const auto variants = Variants(GetParam());
    if (variants.empty())
        GTEST_SKIP() << "this CPU (or build) lacks the " << Name(GetParam()) << " level: not tested";
    for (const vantu::PixelKernels *fast : variants) {
        std::mt19937 rng(kSeed ^ 0xe8u);
        uint32_t lut[256];
        for (uint32_t &e : lut)
            e = static_cast<uint32_t>(rng());
        for (int32_t n = 1; n <= 300; ++n) {
            const int32_t rows = 1 + static_cast<int32_t>(rng() % 3);
            Surface src = MakeSurface(rng, static_cast<size_t>(n), rows);
            Surface dst = MakeSurface(rng, static_cast<size_t>(n) * 4, rows);
            Surface expect = dst;
            vantu::ReferenceKernels().expandPalette(expect.Row0(), expect.pitch, src.Row0(), src.pitch, n, rows, lut);
            fast->expandPalette(dst.Row0(), dst.pitch, src.Row0(), src.pitch, n, rows, lut);
            ASSERT_EQ(dst.arena.bytes, expect.arena.bytes)
                << fast->name << "/" << fast->variant << " n " << n << " rows " << rows << " pitch " << dst.pitch
                << " seed " << kSeed;
        }
    }
}

// Palettes drawn from few values make ties common; colour words and entries
// use all byte values (negative ones included) and junk in byte 3.
TEST_P(Kernels, PaletteSearchMatchesPlainLoop) {
    const auto variants = Variants(GetParam());
    if (variants.empty())
        GTEST_SKIP() << "this CPU (or build) lacks the " << Name(GetParam()) << " level: not tested";
    for (const vantu::PixelKernels *level : variants) {
        const vantu::NearestEntryFn fast = level->nearestEntry, plain = vantu::ReferenceKernels().nearestEntry;
        std::mt19937 rng(kSeed);
        uint32_t entries[256];
        for (int round = 0; round < 200; ++round) {
            const uint32_t spread = round % 2 ? 0xFFFFFFFFu : 0x03030303u;
            for (uint32_t &e : entries)
                e = rng() & spread;
            for (int i = 0; i < 50; ++i) {
                const uint32_t colour = i % 5 ? (rng() & spread) | 1u : entries[rng() % 256];
                ASSERT_EQ(fast(entries, colour), plain(entries, colour))
                    << level->variant << " colour " << std::hex << colour << " round " << std::dec << round
                    << " seed " << kSeed;
            }
        }
    }
}

// Clear and copy run on the level VANTU_SIMD names when this build and CPU
// have it (ctest's capped runs set it), and otherwise on the highest level
// there is: the portable one where no x86 level applies.
TEST(KernelDispatch, ActiveLevelIsTheCapOrTheHighest) {
    const char *cap = std::getenv("VANTU_SIMD");
    const vantu::PixelKernels &kernels = vantu::ActiveKernels();
    const std::string active = kernels.name;
    // A cap that names a variant ("avx512/merged") gets that variant.
    if (const char *slash = cap != nullptr ? std::strchr(cap, '/') : nullptr;
        slash != nullptr && active == std::string(cap, slash)) {
        EXPECT_STREQ(kernels.variant, slash + 1);
        return;
    }
    std::string highest;
    for (int l = 0; l < vantu::kKernelLevels; ++l)
        if (const vantu::PixelKernels *level = vantu::KernelsForLevel(static_cast<KernelLevel>(l))) {
            highest = level->name;
            if (cap != nullptr && highest == cap)
                EXPECT_EQ(active, cap);
        }
    if (cap == nullptr)
        EXPECT_EQ(active, highest);
#if defined(__GNUC__)
    EXPECT_NE(vantu::KernelsForLevel(KernelLevel::Portable), nullptr)
        << "GCC and Clang builds have the portable level";
#endif
}

// A row of the tuning table that names no variant of its level would quietly
// give the level's default: every name must be one the level has.
TEST(KernelDispatch, TuningRowsNameRealVariants) {
    for (const vantu::TuningRow &row : vantu::kTuning) {
        const auto variants = Variants(row.level);
        if (variants.empty())
            continue;
        EXPECT_TRUE(std::any_of(variants.begin(), variants.end(),
                                [&](const vantu::PixelKernels *k) { return std::string(k->variant) == row.variant; }))
            << Name(row.level) << " has no variant " << row.variant;
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, Kernels,
                         testing::Values(KernelLevel::Portable, KernelLevel::SSE2, KernelLevel::AVX2,
                                         KernelLevel::AVX512),
                         [](const auto &info) { return std::string(Name(info.param)); });

} // namespace

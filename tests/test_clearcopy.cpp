// Clear and copy through the record's slots, checked against a per-pixel model;
// guard bytes around every buffer and past every row must survive.
#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <random>
#include <vector>

#include "common.h"
#include "pixels.h"

namespace {

constexpr size_t kGuard = 16;
using Bytes = std::vector<uint8_t>;
struct Surface { SCommonBitmap *b; Bytes mem; };

class ClearCopy : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(rec_ = CommonInit(0), nullptr);
        rec_->GetBitmapInfo = CommonGetBitmapInfo, rec_->ClearBitmap = CommonClearBitmapSW;
        rec_->LockBitmap = CommonLockBitmap, rec_->UnlockBitmap = CommonUnlockBitmap;
        rec_->CopyBitmap = CommonCopyBitmapSW, rec_->CopyEntireBitmap = CommonCopyEntireBitmapSW;
    }
    void TearDown() override { DropAll(), CommonDone(rec_); }
    // An allocated, initialized bitmap over a buffer with guards on both sides.
    Surface &Make(uint32_t w, uint32_t h, uint32_t bpp, uint32_t pad = 3) {
        const uint32_t pitch = w * (bpp / 8) + pad;
        Surface &s = all_.emplace_back(Surface{CommonBitmapInit(nullptr, rec_, 0, int32_t(w), int32_t(h)),
                                               Bytes(2 * kGuard + size_t{h} * pitch, 0xA5)});
        s.b->info.pitch = pitch, s.b->info.bitsPerPixel = bpp, s.b->info.bits = s.mem.data() + kGuard;
        s.b->isAllocated = s.b->isInitialized = 1;
        return s;
    }
    void DropAll() {
        for (Surface &s : all_)
            s.b->isAllocated = 0, CommonDoneBitmap(rec_, s.b);
        all_.clear();
    }
    SCommonRec *rec_ = nullptr;
    std::deque<Surface> all_;
};

uint8_t *At(Bytes &mem, const SBitmapInfo &i, int64_t x, int64_t y) {
    return mem.data() + kGuard + y * i.pitch + x * (i.bitsPerPixel / 8);
}

// Copy, walking the destination: pixel (x, y) takes source pixel
// (sx + x - dx, sy + y - dy) when that lies in the rectangle and in the source.
void ModelCopy(Bytes &dm, const SBitmapInfo &d, Bytes &sm, const SBitmapInfo &s, int64_t sx, int64_t sy,
               int64_t dx, int64_t dy, int64_t w, int64_t h, bool keyed) {
    static const uint8_t zero[8] = {};
    const uint32_t p = s.bitsPerPixel / 8;
    w = w ? w : s.width, h = h ? h : s.height;
    for (int64_t y = 0; y < d.height; ++y)
        for (int64_t x = 0; x < d.width; ++x) {
            const int64_t u = sx + x - dx, v = sy + y - dy;
            if (x >= dx && x - dx < w && y >= dy && y - dy < h && u >= 0 && u < s.width && v >= 0 &&
                v < s.height && !(keyed && (p > 4 || std::memcmp(At(sm, s, u, v), zero, p) == 0)))
                std::memcpy(At(dm, d, x, y), At(sm, s, u, v), p);
        }
}

TEST_F(ClearCopy, RandomizedAgainstModel) {
    const char *env = std::getenv("VANTU_TEST_SEED");
    const uint32_t seed = env ? uint32_t(std::strtoul(env, nullptr, 0)) : 20240611u;
    std::printf("clear/copy seed %u (set VANTU_TEST_SEED to repeat), %s kernels\n", seed, vantu::ActiveKernels().name);
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    bool far = false; // then one coordinate in four lies near an end of the i32 range
    auto coord = [&](int lo, int hi) {
        const int r = far ? pick(0, 7) : 7;
        return r == 0 ? INT32_MAX - pick(0, 20) : r == 1 ? INT32_MIN + pick(0, 20) : pick(lo, hi);
    };
    for (int n = 0; n < 10000; ++n) {
        SCOPED_TRACE(testing::Message() << "seed " << seed << " case " << n);
        const uint32_t bpp = 8u * uint32_t(pick(1, 5)); // 5-byte pixels: only the opaque copy moves them
        const int wide = n % 8 ? 13 : 90; // now and then rows long enough for the vector loops
        Surface &d = Make(pick(0, wide), pick(0, 9), bpp, pick(0, 5));
        Surface &s = Make(pick(0, wide), pick(0, 9), bpp, pick(0, 5));
        for (Bytes *m : {&d.mem, &s.mem})
            for (uint8_t &byte : *m)
                byte = pick(0, 1) ? 0 : uint8_t(pick(0, 255)); // many pixels partly or wholly 0
        Bytes dm = d.mem, sm = s.mem;
        if (pick(0, 3) == 0) {
            // Every pixel takes the low bytes of the value, in machine order.
            const uint32_t pixel = uint32_t(rng()), p = bpp / 8;
            ASSERT_TRUE(rec_->ClearBitmap(rec_, d.b, pixel));
            const auto *low = reinterpret_cast<const uint8_t *>(&pixel);
            low += std::endian::native == std::endian::big ? 4 - p : 0;
            for (uint32_t y = 0; p <= 4 && y < d.b->info.height; ++y)
                for (uint32_t x = 0; x < d.b->info.width; ++x)
                    std::memcpy(At(dm, d.b->info, x, y), low, p);
        } else {
            far = pick(0, 1) != 0;
            const bool keyed = pick(0, 1) != 0, whole = pick(0, 3) == 0;
            const int32_t dx = coord(-6, 8), dy = coord(-5, 7), sx = whole ? 0 : coord(-3, 6);
            const int32_t sy = whole ? 0 : coord(-3, 5), w = whole ? 0 : coord(-1, wide - 1), h = whole ? 0 : coord(-1, 9);
            ASSERT_TRUE(whole ? CommonCopyEntireBitmapDefault(rec_, d.b, s.b, dx, dy, keyed)
                              : rec_->CopyBitmap(rec_, d.b, s.b, sx, sy, dx, dy, w, h, keyed));
            ModelCopy(dm, d.b->info, sm, s.b->info, sx, sy, dx, dy, w, h, keyed);
        }
        ASSERT_EQ(d.mem, dm);
        ASSERT_TRUE(s.mem == sm && !d.b->isLocked && !s.b->isLocked);
        DropAll();
    }
}

// Refusals: which bitmaps end initialized, no lock left behind, no byte written.
TEST_F(ClearCopy, RefusalsUndoTheirLocks) {
    enum { Self, SrcUninit, DstLocked, SrcLocked, DstNoBits, SrcNoBits, Sizes, Clear, ClearLocked, ClearNoBits };
    for (int c = Self; c <= ClearNoBits; ++c) {
        SCOPED_TRACE(c);
        Surface &d = Make(4, 3, 16), &s = c == Self ? d : Make(4, 3, c == Sizes ? 32 : 16);
        std::memset(s.b->info.bits, 0x11, 8);
        d.b->isInitialized = 0;
        s.b->isInitialized = c != SrcUninit;
        if (c == DstLocked || c == SrcLocked || c == ClearLocked)
            ASSERT_NE(rec_->LockBitmap(rec_, c == SrcLocked ? s.b : d.b), nullptr);
        if (c == DstNoBits || c == SrcNoBits || c == ClearNoBits)
            (c == SrcNoBits ? s : d).b->info.bits = nullptr;
        d.b->isAllocated = c != Clear;
        const Bytes before = d.mem;
        EXPECT_FALSE(c >= Clear ? rec_->ClearBitmap(rec_, d.b, 1) : rec_->CopyEntireBitmap(rec_, d.b, s.b, 0, 0, 0));
        EXPECT_EQ(d.mem, before);
        EXPECT_EQ(d.b->isInitialized, c != SrcUninit && c != Clear);
        EXPECT_TRUE(d.b->isLocked == (c == DstLocked || c == ClearLocked) && s.b->isLocked == (c == SrcLocked));
        DropAll();
    }
}

// A declared width past INT32_MAX is a bound only: the copy reads what the destination takes.
TEST_F(ClearCopy, HugeDeclaredWidth) {
    Surface &d = Make(5, 1, 8), &s = Make(8, 1, 8);
    std::memset(s.b->info.bits, 9, 8);
    s.b->info.width = UINT32_MAX;
    EXPECT_TRUE(rec_->CopyBitmap(rec_, d.b, s.b, 2, 0, 0, 0, 0, 1, 0));
    EXPECT_EQ(Bytes(d.mem.begin() + kGuard, d.mem.begin() + kGuard + 6), (Bytes{9, 9, 9, 9, 9, 0xA5}));
}

} // namespace

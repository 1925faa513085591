// Clear and copy through a memory driver record's slots against the plain
// model of support.h: screens and bitmaps top-down and bottom-up, sizes that
// read negative, two bitmaps over the same memory, every pixel size. The
// whole host memory, guards included, must equal the model's after each call.
#include <gtest/gtest.h>

#include <random>

#include "common.h"
#include "pixels.h"
#include "support.h"

namespace {

using namespace vantu::test;

class ClearCopy : public testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(rec = VANTU_DLL_Init(0, nullptr), nullptr); }
    void TearDown() override { EXPECT_TRUE(rec->Done(rec)); }
    // A bitmap of the ready record over `info`'s memory, initialized without a write.
    SCommonBitmap *HostBitmap(const SBitmapInfo &info) {
        SCommonBitmap *b = rec->InitBitmap(rec, static_cast<int32_t>(info.width), static_cast<int32_t>(info.height));
        SBitmapInfo *mine = rec->GetBitmapInfo(rec, b);
        mine->pitch = info.pitch, mine->bits = info.bits;
        rec->LockBitmap(rec, b);
        EXPECT_TRUE(rec->UnlockBitmap(rec, b));
        return b;
    }
    SCommonRec *rec = nullptr;
};

TEST_F(ClearCopy, LayoutsAgainstModel) {
    std::mt19937 rng(Seed("clear/copy", 20261205u));
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto coord = [&](int lo, int hi, bool far) { // now and then near an end of the i32 range
        const int r = far ? pick(0, 7) : 7;
        return r == 0 ? INT32_MAX - pick(0, 20) : r == 1 ? INT32_MIN + pick(0, 20) : pick(lo, hi);
    };
    constexpr uint32_t kDepths[] = {8, 16, 24, 32, 40}; // 5-byte pixels: only the opaque copy moves them
    for (int n = 0; n < 2500; ++n) {
        SCOPED_TRACE(testing::Message() << "case " << n);
        const uint32_t bpp = kDepths[pick(0, 4)], p = bpp / 8;
        // Now and then rows long enough for every vector loop, and for more
        // than one piece of an overlapping row's buffer.
        const int wide = n % 8 ? 12 : n % 16 ? 300 : 1200;
        // The screen at the start of the arena; the bitmap somewhere over it
        // (a third of those as a host scrolling the screen would, with its
        // layout) or after it.
        const bool sBottomUp = pick(0, 1), scroll = pick(0, 2) == 0;
        const uint32_t sw = pick(wide / 2, wide), sh = pick(1, 8), sStride = sw * p + pick(0, 5);
        const uint32_t bw = scroll ? pick(int(sw) / 2, int(sw)) : pick(1, wide), bh = pick(1, 8);
        const int32_t bStride = scroll       ? int32_t(sStride)
                                : pick(0, 3) ? int32_t(bw * p + pick(0, 5))
                                             : pick(0, 3 * wide) + 1;
        const size_t sExtent = Extent(sw * p, sh, sStride), bExtent = Extent(bw * p, bh, size_t(bStride));
        Arena arena(sExtent + bExtent + 64), model(arena.Size());
        for (size_t i = 0; i < arena.Size(); i += p) // many pixels wholly 0, some partly
            for (uint32_t b = 0; b < p && i + b < arena.Size(); ++b)
                arena.Data()[i + b] = pick(0, 2) ? uint8_t(pick(0, 3) ? pick(0, 255) : 0) : 0;
        const size_t bAt = scroll && pick(0, 1)   ? size_t(pick(0, int(sStride)))
                           : scroll || pick(0, 1) ? size_t(pick(0, int(sExtent)))
                                                  : sExtent + size_t(pick(0, 64));
        const SBitmapInfo screenDesc = Describe(arena, 0, sw, sh, bpp, sStride, sBottomUp);
        SBitmapInfo bDesc = Describe(arena, bAt, bw, bh, bpp, uint32_t(bStride), scroll ? sBottomUp : pick(0, 1));
        ASSERT_TRUE(rec->AllocBuffer(rec, 0, 0, &screenDesc));
        SCommonBitmap *const screen = rec->screenBitmap, *const b = HostBitmap(bDesc);
        if (pick(0, 15) == 0) // a size that reads negative: such a bitmap holds no pixels
            (pick(0, 1) ? b->info.width : b->info.height) = 0u - uint32_t(pick(1, 3)), bDesc = b->info;
        model.bytes = arena.bytes;
        for (int op = 0; op < 4; ++op) {
            const bool toScreen = pick(0, 1), far = pick(0, 3) == 0, keyed = pick(0, 1), whole = pick(0, 3) == 0;
            SCommonBitmap *dst = toScreen ? screen : b, *src = toScreen ? b : screen;
            const SBitmapInfo &dInfo = toScreen ? screenDesc : bDesc, &sInfo = toScreen ? bDesc : screenDesc;
            if (pick(0, 3) == 0) {
                const auto pixel = uint32_t(rng());
                ASSERT_TRUE(rec->ClearBitmap(rec, dst, pixel));
                ModelClear(Rebase(dInfo, arena, model), pixel);
            } else {
                const int32_t dx = coord(-6, wide, far), sx = whole ? 0 : coord(-3, wide, far);
                const int32_t sy = whole ? 0 : coord(-3, 6, far), w = whole ? 0 : coord(-1, wide, far);
                const int32_t dy = scroll && pick(0, 1) ? sy : coord(-5, 8, far); // rows onto themselves
                const int32_t h = whole ? 0 : coord(-1, 8, far);
                ASSERT_TRUE(whole ? rec->CopyEntireBitmap(rec, dst, src, dx, dy, keyed)
                                  : rec->CopyBitmap(rec, dst, src, sx, sy, dx, dy, w, h, keyed));
                ModelCopy(Rebase(dInfo, arena, model), Rebase(sInfo, arena, model), sx, sy, dx, dy, w, h, keyed);
            }
            ASSERT_EQ(arena.bytes, model.bytes)
                << "bpp " << bpp << " op " << op << " screen pitch " << int32_t(screenDesc.pitch) << " bitmap pitch "
                << int32_t(bDesc.pitch) << " at " << bAt << ", " << vantu::ActiveKernels().name << " kernels";
            ASSERT_EQ(screen->isLocked + b->isLocked, 0) << "a lock left behind";
        }
        ASSERT_TRUE(rec->DoneBitmap(rec, b));
        ASSERT_TRUE(rec->Dealloc(rec));
    }
}

// CommonClipRect alone: a rectangle clipped to its bounds, the other cut by
// the same amounts; `other` is only adjusted, and held at the i32 ends.
TEST(ClipRect, NamedCases) {
    constexpr int32_t lo = INT32_MIN, hi = INT32_MAX;
    const struct {
        const char *name;
        SCommonRect other, rect;
        int32_t w, h;
        bool accepted;
        SCommonRect other2, rect2; // after the call
    } cases[] = {
        {"inside", {0, 0, 4, 4}, {1, 1, 5, 5}, 8, 8, true, {0, 0, 4, 4}, {1, 1, 5, 5}},
        {"cut on every side", {10, 20, 30, 40}, {-2, -3, 12, 13}, 10, 10, true, {12, 23, 28, 37}, {0, 0, 10, 10}},
        {"starts at the right bound", {0, 0, 1, 1}, {10, 0, 11, 1}, 10, 10, false, {0, 0, 1, 1}, {10, 0, 11, 1}},
        {"starts at the bottom bound", {0, 0, 1, 1}, {0, 10, 1, 11}, 10, 10, false, {0, 0, 1, 1}, {0, 10, 1, 11}},
        {"ends left of 0", {0, 0, 1, 1}, {-2, 0, -1, 1}, 10, 10, false, {0, 0, 1, 1}, {-2, 0, -1, 1}},
        {"ends above 0", {0, 0, 1, 1}, {0, -2, 1, -1}, 10, 10, false, {0, 0, 1, 1}, {0, -2, 1, -1}},
        {"ends at 0: accepted, empty", {0, 0, 4, 2}, {-4, 0, 0, 2}, 8, 8, true, {4, 0, 4, 2}, {0, 0, 0, 2}},
        {"the whole i32 range", {0, 0, hi, hi}, {lo, lo, hi, hi}, 10, 10, true, {hi, hi, 10, 10}, {0, 0, 10, 10}},
        {"bounds that read negative", {0, 0, 4, 4}, {0, 0, 4, 4}, -3, 4, false, {0, 0, 4, 4}, {0, 0, 4, 4}},
    };
    auto fields = [](const SCommonRect &r) { return std::vector<int32_t>{r.left, r.top, r.right, r.bottom}; };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SCommonRect other = c.other, rect = c.rect;
        EXPECT_EQ(CommonClipRect(&other, &rect, c.w, c.h), c.accepted ? 1 : 0);
        EXPECT_EQ(fields(other), fields(c.other2));
        EXPECT_EQ(fields(rect), fields(c.rect2));
    }
}

} // namespace

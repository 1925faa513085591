// Bad input through the slots: null records and objects, palette counts out of
// range, a missing buffer description, extreme coordinates, pixel sizes that
// differ, bitmaps the host holds locked. Each answer is a plain false, null or
// 0 and nothing is written where it should not be. docs/bad-input.md names
// these tests row by row.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

#include "common.h"

namespace {

int g_messages = 0;
void VANTU_CALL Count(SCommonRec *, const char *) { ++g_messages; }

// The screen is the buffer's description; no screen bitmap of its own.
vantu_bool VANTU_CALL DoAllocSurfaces(SCommonRec *r) {
    r->screenInfo = r->bufferInfo;
    return CommonDoAllocSurfaces(r);
}
vantu_bool VANTU_CALL DoDeallocSurfaces(SCommonRec *r) {
    const vantu_bool ok = CommonDoDeallocSurfaces(r);
    r->screenInfo = SBitmapInfo{};
    return ok;
}

constexpr size_t kGuard = 16;
constexpr uint8_t kFill = 0xA5;

// A record with the memory driver's slots, ready on a 32-bit screen, and
// bitmaps over guarded host memory.
class BadInput : public ::testing::Test {
  protected:
    struct Surface {
        SCommonBitmap *b;
        std::vector<uint8_t> mem;
    };

    void SetUp() override {
        g_messages = 0;
        ASSERT_NE(rec = CommonInit(0), nullptr);
        rec->Done = CommonDone, rec->AllocBuffer = CommonAllocBuffer, rec->Dealloc = CommonDealloc;
        rec->DoAlloc = CommonDoAlloc, rec->DoDealloc = CommonDoDealloc;
        rec->DoAllocSurfaces = DoAllocSurfaces, rec->DoDeallocSurfaces = DoDeallocSurfaces;
        rec->AllocScreenBitmap = rec->AllocBitmap = CommonAllocBitmap;
        rec->DeallocScreenBitmap = rec->DeallocBitmap = CommonDeallocBitmap;
        rec->GetBitmapInfo = CommonGetBitmapInfo, rec->LockBitmap = CommonLockBitmap;
        rec->UnlockBitmap = CommonUnlockBitmap, rec->DoneBitmap = CommonDoneBitmap;
        rec->ClearBitmap = CommonClearBitmapSW, rec->CopyBitmap = CommonCopyBitmapSW;
        rec->CopyEntireBitmap = CommonCopyEntireBitmapSW, rec->RestoreLostSurfaces = CommonRestoreLostSurfaces;
        rec->debugMsgFunc = Count;
        SBitmapInfo screen{};
        screen.width = 8, screen.height = 8, screen.bitsPerPixel = 32, screen.redMask = 0xFF0000;
        ASSERT_TRUE(CommonAllocBuffer(rec, 0, 0, &screen));
    }
    void TearDown() override {
        for (Surface &s : surfaces)
            CommonDoneBitmap(rec, s.b);
        EXPECT_TRUE(CommonDone(rec));
    }
    // An allocated bitmap over w x h pixels of host memory, rows padded by 3 bytes.
    Surface &Make(int32_t w, int32_t h) {
        SCommonBitmap *b = CommonInitBitmap(rec, w, h);
        EXPECT_NE(b, nullptr);
        const uint32_t pitch = uint32_t(w) * 4 + 3;
        Surface &s = surfaces.emplace_back(Surface{b, std::vector<uint8_t>(2 * kGuard + size_t(h) * pitch, kFill)});
        b->info.pitch = pitch;
        b->info.bits = s.mem.data() + kGuard;
        return s;
    }
    static bool Untouched(const Surface &s) {
        for (uint8_t v : s.mem)
            if (v != kFill)
                return false;
        return true;
    }

    SCommonRec *rec = nullptr;
    std::deque<Surface> surfaces;
};

// Every operation that reads the record answers a null one with 0, false or null.
TEST_F(BadInput, NullRecordRefused) {
    SCommonBitmap *b = Make(2, 2).b;
    SBitmapInfo info = b->info;
    SCommonCallbacks cb{};
    const std::vector<std::pair<const char *, std::function<uintptr_t()>>> calls = {
        {"Done", [] { return CommonDone(nullptr); }},
        {"AllocWindow", [] { return CommonAllocWindow(nullptr, 0, 0, 0); }},
        {"AllocFullScreen", [] { return CommonAllocFullScreen(nullptr, 0, 0, 0, 8, 8, 32, 0, 0); }},
        {"AllocBuffer", [&] { return CommonAllocBuffer(nullptr, 0, 0, &info); }},
        {"Dealloc", [] { return CommonDealloc(nullptr); }},
        {"SetDebugMsgFunc", [] { return CommonSetDebugMsgFunc(nullptr, Count); }},
        {"SetCallbacks", [&] { return CommonSetCallbacks(nullptr, &cb, &cb); }},
        {"DrawBegin", [] { return uintptr_t(CommonDrawBegin(nullptr)); }},
        {"DrawEnd", [] { return CommonDrawEnd(nullptr); }},
        {"Flip", [] { return CommonFlip(nullptr); }},
        {"FlipToPrimary", [] { return CommonFlipToPrimary(nullptr); }},
        {"Sync", [] { return CommonSync(nullptr); }},
        {"InitPalette", [] { return uintptr_t(CommonInitPalette(nullptr, nullptr, 0)); }},
        {"InitBitmap", [] { return uintptr_t(CommonInitBitmap(nullptr, 1, 1)); }},
        {"InitScreenBitmap", [] { return uintptr_t(CommonInitScreenBitmap(nullptr)); }},
        {"DoneBitmap", [&] { return CommonDoneBitmap(nullptr, b); }},
        {"LockBitmap", [&] { return uintptr_t(CommonLockBitmap(nullptr, b)); }},
        {"ClearBitmap", [&] { return CommonClearBitmapSW(nullptr, b, 1); }},
        {"CopyBitmap", [&] { return CommonCopyBitmapSW(nullptr, b, b, 0, 0, 0, 0, 0, 0, 0); }},
        {"CopyEntireBitmap", [&] { return CommonCopyEntireBitmapSW(nullptr, b, b, 0, 0, 1); }},
        {"GetScreenColorRGB", [] { return uintptr_t(CommonGetScreenColorRGB(nullptr, nullptr, 0x7F)); }},
        {"AllocBitmap hook", [&] { return CommonAllocBitmap(nullptr, b); }},
    };
    for (const auto &[name, call] : calls)
        EXPECT_EQ(call(), 0u) << name;
    EXPECT_EQ(std::memcmp(&b->info, &info, sizeof info), 0);
    EXPECT_FALSE(b->isLocked);
    EXPECT_FALSE(b->isInitialized);
}

// Operations that never read the record work the same without it.
TEST_F(BadInput, NullRecordIgnoredWhereUnused) {
    SCommonBitmap *b = Make(1, 1).b;
    SCommonPalette *p = CommonInitPalette(rec, nullptr, 0);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(CommonSetBitmapPalette(nullptr, b, p));
    EXPECT_EQ(p->header.refCount, 2);
    EXPECT_TRUE(CommonDonePalette(nullptr, p));
    EXPECT_EQ(CommonGetBitmapInfo(nullptr, b), &b->info);
    ASSERT_NE(CommonLockBitmap(rec, b), nullptr);
    EXPECT_TRUE(CommonUnlockBitmap(nullptr, b));
    EXPECT_TRUE(CommonIsBitmapInitialized(nullptr, b));
    EXPECT_EQ(CommonGetScreenColor888(nullptr, nullptr, 0x7F7F7F), 0xFEFEFEu);
    EXPECT_EQ(CommonGetScreenColorFail(nullptr, nullptr, 0x7F), 0u);
}

TEST_F(BadInput, NullBitmapOrPaletteRefused) {
    Surface &s = Make(2, 2);
    SCommonPalette *p = CommonInitPalette(rec, nullptr, 0);
    ASSERT_NE(p, nullptr);
    EXPECT_FALSE(CommonDonePalette(rec, nullptr));
    EXPECT_FALSE(CommonDoneBitmap(rec, nullptr));
    EXPECT_FALSE(CommonSetBitmapPalette(rec, nullptr, p));
    EXPECT_EQ(p->header.refCount, 1);
    EXPECT_EQ(CommonGetBitmapInfo(rec, nullptr), nullptr);
    EXPECT_FALSE(CommonIsBitmapInitialized(rec, nullptr));
    EXPECT_EQ(CommonLockBitmap(rec, nullptr), nullptr);
    EXPECT_FALSE(CommonUnlockBitmap(rec, nullptr));
    EXPECT_FALSE(CommonClearBitmapSW(rec, nullptr, 1));
    EXPECT_FALSE(CommonAllocBitmap(rec, nullptr));
    EXPECT_FALSE(CommonDeallocBitmap(rec, nullptr));
    EXPECT_EQ(CommonGetScreenColor8(rec, nullptr, 0x7F), 0u);
    // A copy with one side missing neither marks nor locks the other side.
    s.b->isInitialized = 0;
    EXPECT_FALSE(CommonCopyBitmapSW(rec, s.b, nullptr, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_FALSE(CommonCopyEntireBitmapSW(rec, nullptr, s.b, 0, 0, 1));
    EXPECT_FALSE(s.b->isInitialized || s.b->isLocked);
    // A null palette is no error: it drops the bitmap's palette.
    ASSERT_TRUE(CommonSetBitmapPalette(rec, s.b, p));
    EXPECT_TRUE(CommonSetBitmapPalette(rec, s.b, nullptr));
    EXPECT_EQ(s.b->palette, nullptr);
    EXPECT_EQ(p->header.refCount, 1);
    EXPECT_TRUE(CommonDonePalette(rec, p));
    EXPECT_TRUE(Untouched(s));
}

TEST_F(BadInput, PaletteCountsOutsideRange) {
    const std::vector<uint32_t> colours(300, 0x010203);
    const struct {
        int32_t count;
        bool nullColours;
        bool made;
    } cases[] = {{-1, false, false},     {INT32_MIN, false, false}, {257, false, false}, {INT32_MAX, false, false},
                 {1, true, false},       {0, true, true},           {0, false, true},    {256, false, true}};
    for (const auto &c : cases) {
        SCommonPalette *p = CommonInitPalette(rec, c.nullColours ? nullptr : colours.data(), c.count);
        EXPECT_EQ(p != nullptr, c.made) << c.count;
        if (p == nullptr) {
            EXPECT_EQ(rec->palettes.first, nullptr) << c.count;
            continue;
        }
        for (int i = 0; i < 256; ++i)
            ASSERT_EQ(p->entries[i], i < c.count ? 0x010203u : 0u) << c.count;
        CommonDonePalette(rec, p);
    }
}

TEST_F(BadInput, AllocBufferWithoutDescription) {
    ASSERT_TRUE(CommonDealloc(rec));
    std::vector<uint8_t> before(reinterpret_cast<uint8_t *>(rec), reinterpret_cast<uint8_t *>(rec + 1));
    g_messages = 0;
    EXPECT_FALSE(CommonAllocBuffer(rec, 1, 0, nullptr));
    EXPECT_EQ(std::memcmp(before.data(), rec, sizeof *rec), 0);
    EXPECT_EQ(g_messages, 0);
}

// Sums such as srcX + width leave the i32 range: clipped, never written out of bounds.
TEST_F(BadInput, OverflowingCoordinates) {
    Surface &src = Make(4, 4), &dst = Make(4, 4);
    std::memset(src.b->info.bits, 7, src.mem.size() - 2 * kGuard);
    src.b->isInitialized = 1;
    const int32_t lo = INT32_MIN, hi = INT32_MAX;
    const struct {
        int32_t sx, sy, dx, dy, w, h;
        int written; // destination pixels written
    } cases[] = {
        {hi, hi, 0, 0, hi, hi, 0},     {0, 0, hi, hi, hi, hi, 0},  {lo, lo, 0, 0, hi, hi, 0},
        {0, 0, lo, lo, hi, hi, 0},     {0, 0, -2, -2, hi, hi, 4},  {-2, -2, 0, 0, hi, hi, 4},
        {0, 0, hi - 1, 0, 4, 4, 0},    {0, 0, 0, 0, lo, lo, 0},    {0, 0, 0, 0, -1, 4, 0},
        {lo + 1, 0, 0, 0, hi, 1, 0},   {1, 1, 0, 0, 0, 0, 9},      {0, 0, 3, 3, 0, 0, 1},
    };
    for (const auto &c : cases) {
        std::fill(dst.mem.begin(), dst.mem.end(), kFill);
        EXPECT_TRUE(CommonCopyBitmapSW(rec, dst.b, src.b, c.sx, c.sy, c.dx, c.dy, c.w, c.h, 0))
            << c.sx << "," << c.sy << " -> " << c.dx << "," << c.dy << " " << c.w << "x" << c.h;
        int written = 0;
        for (uint32_t y = 0; y < 4; ++y)
            for (uint32_t x = 0; x < 4; ++x)
                written += dst.mem[kGuard + y * dst.b->info.pitch + x * 4] == 7;
        EXPECT_EQ(written, c.written) << c.sx << "," << c.sy << " -> " << c.dx << "," << c.dy;
        // Only whole pixels inside the rows change: guards and row padding keep their bytes.
        for (size_t i = 0; i < dst.mem.size(); ++i) {
            const bool inPixel = i >= kGuard && i < dst.mem.size() - kGuard && (i - kGuard) % dst.b->info.pitch < 16;
            if (!inPixel) {
                ASSERT_EQ(dst.mem[i], kFill) << i;
            }
        }
        EXPECT_TRUE(CommonCopyEntireBitmapSW(rec, dst.b, src.b, c.dx, c.dy, 1));
    }
}

// The host rewrote one bitmap's depth: the copy is refused with both locks undone.
TEST_F(BadInput, PixelSizesDiffer) {
    Surface &src = Make(2, 2), &dst = Make(2, 2);
    src.b->isInitialized = 1;
    src.b->info.bitsPerPixel = 16;
    for (const bool keyed : {false, true}) {
        EXPECT_FALSE(CommonCopyBitmapSW(rec, dst.b, src.b, 0, 0, 0, 0, 0, 0, keyed));
        EXPECT_FALSE(CommonCopyEntireBitmapSW(rec, src.b, dst.b, 0, 0, keyed));
    }
    EXPECT_FALSE(src.b->isLocked || dst.b->isLocked);
    EXPECT_TRUE(dst.b->isInitialized);
    EXPECT_TRUE(Untouched(src) && Untouched(dst));
}

// A bitmap the host holds locked can be neither cleared nor copied from or into;
// the other bitmap's lock is undone, and the host's lock stays.
TEST_F(BadInput, BitmapLockedByHost) {
    Surface &a = Make(2, 2), &b = Make(2, 2);
    a.b->isInitialized = b.b->isInitialized = 1;
    ASSERT_NE(CommonLockBitmap(rec, a.b), nullptr);
    EXPECT_EQ(CommonLockBitmap(rec, a.b), nullptr);
    EXPECT_FALSE(CommonClearBitmapSW(rec, a.b, 1));
    EXPECT_FALSE(CommonCopyBitmapSW(rec, a.b, b.b, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_FALSE(CommonCopyBitmapSW(rec, b.b, a.b, 0, 0, 0, 0, 0, 0, 1));
    EXPECT_FALSE(CommonCopyEntireBitmapSW(rec, b.b, b.b, 0, 0, 0));
    EXPECT_TRUE(a.b->isLocked);
    EXPECT_FALSE(b.b->isLocked);
    EXPECT_TRUE(Untouched(a) && Untouched(b));
    // Deallocation keeps the host's lock; the next readying finds it still locked.
    ASSERT_TRUE(CommonDealloc(rec));
    SBitmapInfo screen{};
    screen.width = 8, screen.height = 8, screen.bitsPerPixel = 32;
    ASSERT_TRUE(CommonAllocBuffer(rec, 0, 0, &screen));
    EXPECT_EQ(CommonLockBitmap(rec, a.b), nullptr);
    EXPECT_TRUE(CommonUnlockBitmap(rec, a.b));
}

} // namespace

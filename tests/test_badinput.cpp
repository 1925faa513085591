// Bad input through the common functions, one test per row of the README's
// "Bad input" table: plain false, null or 0 answers, nothing written out of place.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

#include "common.h"

namespace {

int g_messages = 0;
void VANTU_CALL Count(SCommonRec *, const char *) { ++g_messages; }
vantu_bool VANTU_CALL AllocSurfaces(SCommonRec *r) { return r->screenInfo = r->bufferInfo, CommonDoAllocSurfaces(r); }
vantu_bool VANTU_CALL DeallocSurfaces(SCommonRec *r) { return CommonDoDeallocSurfaces(r); }
uintptr_t P(const void *pointer) { return reinterpret_cast<uintptr_t>(pointer); }

// Every result must be 0; a failure names the result's place in the list.
void ExpectZeros(std::initializer_list<uintptr_t> results) {
    for (size_t i = 0; i < results.size(); ++i)
        EXPECT_EQ(results.begin()[i], 0u) << "result #" << i;
}

constexpr size_t kGuard = 16, kPitch = 4 * 4 + 3; // rows of four 32-bit pixels and 3 bytes of padding
constexpr uint8_t kFill = 0xA5;
const SBitmapInfo kScreen = {8, 8, 0, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0, nullptr};
struct Surface {
    SCommonBitmap *b;
    std::vector<uint8_t> mem = std::vector<uint8_t>(2 * kGuard + 4 * kPitch, kFill); // guards before and after
    bool Untouched() const { return std::count(mem.begin(), mem.end(), kFill) == std::ssize(mem); }
};

// A record ready on a 32-bit screen, and two 4x4 bitmaps a, b over guarded host memory.
class BadInput : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(rec = CommonInit(0), nullptr);
        rec->Dealloc = CommonDealloc, rec->DoAlloc = CommonDoAlloc, rec->DoDealloc = CommonDoDealloc;
        rec->DoAllocSurfaces = AllocSurfaces, rec->DoDeallocSurfaces = DeallocSurfaces, rec->debugMsgFunc = Count;
        rec->LockBitmap = CommonLockBitmap, rec->UnlockBitmap = CommonUnlockBitmap, rec->CopyBitmap = CommonCopyBitmapSW;
        ASSERT_TRUE(CommonAllocBuffer(rec, 0, 0, &kScreen));
        for (Surface *s : {&a, &b}) {
            ASSERT_TRUE((s->b = CommonInitBitmap(rec, 4, 4)) != nullptr && s->b->isAllocated);
            s->b->info.pitch = kPitch, s->b->info.bits = s->mem.data() + kGuard;
        }
    }
    void TearDown() override { EXPECT_TRUE(CommonDoneBitmap(rec, a.b) && CommonDoneBitmap(rec, b.b) && CommonDone(rec)); }
    SCommonRec *rec = nullptr;
    Surface a, b;
};

TEST_F(BadInput, NullRecordRefused) {
    SCommonRec *const no = nullptr;
    SCommonBitmap *const x = a.b;
    const SBitmapInfo before = x->info;
    ExpectZeros({CommonDone(no), CommonAllocWindow(no, 0, 0, 0), CommonAllocFullScreen(no, 0, 0, 0, 8, 8, 32, 0, 0),
                 CommonAllocBuffer(no, 0, 0, &kScreen), CommonDealloc(no), CommonSetDebugMsgFunc(no, Count),
                 CommonSetCallbacks(no, nullptr, nullptr), P(CommonDrawBegin(no)), CommonDrawEnd(no), CommonFlip(no),
                 CommonFlipToPrimary(no), CommonSync(no), P(CommonInitPalette(no, nullptr, 0)),
                 P(CommonInitBitmap(no, 1, 1)), P(CommonInitScreenBitmap(no)), CommonDoneBitmap(no, x),
                 P(CommonLockBitmap(no, x)), CommonClearBitmapSW(no, x, 1), CommonCopyBitmapSW(no, x, x, 0, 0, 0, 0, 0, 0, 0),
                 CommonCopyEntireBitmapSW(no, b.b, x, 0, 0, 1), CommonGetScreenColorRGB(no, nullptr, 0x7F),
                 CommonAllocBitmap(no, x)});
    EXPECT_EQ(std::memcmp(&x->info, &before, sizeof before), 0);
    EXPECT_FALSE(x->isLocked || x->isInitialized || b.b->isInitialized);
}

TEST_F(BadInput, NullRecordIgnoredWhereUnused) {
    SCommonPalette *p = CommonInitPalette(rec, nullptr, 0);
    ASSERT_TRUE(p != nullptr && CommonSetBitmapPalette(nullptr, a.b, p) && p->header.refCount == 2);
    EXPECT_TRUE(CommonDonePalette(nullptr, p) && p->header.refCount == 1);
    ASSERT_TRUE(CommonLockBitmap(rec, a.b) != nullptr && CommonGetBitmapInfo(nullptr, a.b) == &a.b->info);
    EXPECT_TRUE(CommonUnlockBitmap(nullptr, a.b) && !a.b->isLocked && CommonIsBitmapInitialized(nullptr, a.b));
    EXPECT_EQ(CommonGetScreenColor888(nullptr, nullptr, 0x7F7F7F), 0xFEFEFEu);
    EXPECT_EQ(CommonGetScreenColorFail(nullptr, nullptr, 0x7F), 0u);
}

TEST_F(BadInput, NullBitmapOrPaletteRefused) {
    SCommonPalette *p = CommonInitPalette(rec, nullptr, 0);
    ASSERT_NE(p, nullptr);
    ExpectZeros({CommonDonePalette(rec, nullptr), CommonDoneBitmap(rec, nullptr), CommonSetBitmapPalette(rec, nullptr, p),
                 P(CommonGetBitmapInfo(rec, nullptr)), CommonIsBitmapInitialized(rec, nullptr),
                 P(CommonLockBitmap(rec, nullptr)), CommonUnlockBitmap(rec, nullptr), CommonClearBitmapSW(rec, nullptr, 1),
                 CommonAllocBitmap(rec, nullptr), CommonDeallocBitmap(rec, nullptr), CommonGetScreenColor8(rec, nullptr, 1),
                 CommonCopyBitmapSW(rec, a.b, nullptr, 0, 0, 0, 0, 0, 0, 0), CommonCopyEntireBitmapSW(rec, nullptr, a.b, 0, 0, 1)});
    EXPECT_FALSE(a.b->isInitialized || a.b->isLocked) << "the other side of a copy is neither marked nor locked";
    // A null palette is no error: it drops the bitmap's palette.
    ASSERT_TRUE(CommonSetBitmapPalette(rec, a.b, p) && p->header.refCount == 2);
    EXPECT_TRUE(CommonSetBitmapPalette(rec, a.b, nullptr) && a.b->palette == nullptr && p->header.refCount == 1);
    EXPECT_TRUE(CommonDonePalette(rec, p) && a.Untouched());
}

TEST_F(BadInput, PaletteCountsOutsideRange) {
    const std::vector<uint32_t> colours(256, 0x010203);
    for (const auto &[count, nullColours] : {std::pair{-1, false}, {INT32_MIN, false}, {257, false},
                                             {INT32_MAX, false}, {1, true}, {0, true}, {256, false}}) {
        SCommonPalette *p = CommonInitPalette(rec, nullColours ? nullptr : colours.data(), count);
        ASSERT_EQ(p != nullptr, count >= 0 && count <= 256 && !(nullColours && count > 0)) << count;
        EXPECT_EQ(rec->palettes.first, p == nullptr ? nullptr : &p->link) << count;
        for (int i = 0; p != nullptr && i < 256; ++i)
            ASSERT_EQ(p->entries[i], i < count ? 0x010203u : 0u) << count;
        CommonDonePalette(rec, p);
    }
}

TEST_F(BadInput, AllocBufferWithoutDescription) {
    ASSERT_TRUE(CommonDealloc(rec));
    const std::vector<uint8_t> before(reinterpret_cast<uint8_t *>(rec), reinterpret_cast<uint8_t *>(rec + 1));
    g_messages = 0;
    EXPECT_FALSE(CommonAllocBuffer(rec, 1, 0, nullptr));
    EXPECT_TRUE(std::memcmp(before.data(), rec, sizeof *rec) == 0 && g_messages == 0);
}

// Sums such as srcX + width leave the i32 range: clipped, and only whole pixels
// inside the rows are written, never guards or row padding.
TEST_F(BadInput, OverflowingCoordinates) {
    std::memset(b.b->info.bits, 7, 4 * kPitch);
    b.b->isInitialized = 1;
    const int32_t lo = INT32_MIN, hi = INT32_MAX, cases[][7] = { // source x, y, destination x, y, w, h; written
        {hi, hi, 0, 0, hi, hi, 0}, {0, 0, hi, hi, hi, hi, 0}, {lo, lo, 0, 0, hi, hi, 0}, {0, 0, lo, lo, hi, hi, 0},
        {0, 0, -2, -2, hi, hi, 4}, {-2, -2, 0, 0, hi, hi, 4}, {0, 0, hi - 1, 0, 4, 4, 0}, {0, 0, 0, 0, lo, lo, 0},
        {0, 0, 0, 0, -1, 4, 0}, {lo + 1, 0, 0, 0, hi, 1, 0}, {1, 1, 0, 0, 0, 0, 9}, {0, 0, 3, 3, 0, 0, 1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::Message() << "case #" << &c - cases);
        std::fill(a.mem.begin(), a.mem.end(), kFill);
        EXPECT_TRUE(CommonCopyBitmapSW(rec, a.b, b.b, c[0], c[1], c[2], c[3], c[4], c[5], 0));
        int written = 0;
        for (size_t i = 0; i < a.mem.size(); ++i)
            if (i >= kGuard && i < a.mem.size() - kGuard && (i - kGuard) % kPitch < 16)
                written += (i - kGuard) % 4 == 0 && a.mem[i] == 7;
            else
                ASSERT_EQ(a.mem[i], kFill) << "byte " << i;
        EXPECT_EQ(written, c[6]);
        EXPECT_TRUE(CommonCopyEntireBitmapSW(rec, a.b, b.b, c[2], c[3], 1));
    }
}

TEST_F(BadInput, PixelSizesDiffer) {
    a.b->isInitialized = b.b->isInitialized = 1;
    b.b->info.bitsPerPixel = 16; // the host rewrote one bitmap's depth
    ExpectZeros({CommonCopyBitmapSW(rec, a.b, b.b, 0, 0, 0, 0, 0, 0, 0), CommonCopyBitmapSW(rec, a.b, b.b, 0, 0, 0, 0, 0, 0, 1),
                 CommonCopyEntireBitmapSW(rec, b.b, a.b, 0, 0, 0), CommonCopyEntireBitmapSW(rec, b.b, a.b, 0, 0, 1)});
    EXPECT_TRUE(!a.b->isLocked && !b.b->isLocked && a.b->isInitialized && b.b->isInitialized);
    EXPECT_TRUE(a.Untouched() && b.Untouched());
}

TEST_F(BadInput, BitmapLockedByHost) {
    a.b->isInitialized = b.b->isInitialized = 1;
    ASSERT_NE(CommonLockBitmap(rec, a.b), nullptr);
    ExpectZeros({P(CommonLockBitmap(rec, a.b)), CommonClearBitmapSW(rec, a.b, 1),
                 CommonCopyBitmapSW(rec, a.b, b.b, 0, 0, 0, 0, 0, 0, 0), CommonCopyBitmapSW(rec, b.b, a.b, 0, 0, 0, 0, 0, 0, 1),
                 CommonCopyEntireBitmapSW(rec, b.b, b.b, 0, 0, 0)});
    EXPECT_TRUE(a.b->isLocked && !b.b->isLocked && a.Untouched() && b.Untouched());
    // Deallocation keeps the host's lock; the next readying finds it still locked.
    ASSERT_TRUE(CommonDealloc(rec) && CommonAllocBuffer(rec, 0, 0, &kScreen));
    EXPECT_EQ(CommonLockBitmap(rec, a.b), nullptr);
    EXPECT_TRUE(CommonUnlockBitmap(rec, a.b));
}

} // namespace

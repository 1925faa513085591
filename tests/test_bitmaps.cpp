// Palettes and bitmaps: reference counting through several holders, the
// screen bitmap's protection, locking, and the surface hooks' state table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common.h"

namespace {

size_t Count(const SCommonList &list, size_t n = 0) {
    for (SCommonLink *l = list.first; l != nullptr; l = l->next, ++n) {
    }
    return n;
}

class Bitmaps : public testing::Test {
  protected:
    void SetUp() override { record = CommonInit(0); }
    void TearDown() override { record->allocated = 0, CommonDone(record); }
    // Allocated and ready over a 32-bit screen of 4x3, as readying leaves it.
    void MakeReady() {
        record->allocated = record->readied = 1;
        record->screenInfo = SBitmapInfo{4, 3, 16, 7, 32, 0xFF0000, 0xFF00, 0xFF, 9, nullptr};
    }
    SCommonRec *record = nullptr;
};

// Holders: bitmaps a and b, c that swaps palettes, and the creator. (A raised
// bitmap count and the screen bitmap's refusal are the host suite's cases.)
TEST_F(Bitmaps, PaletteLivesWhileAnyHolderHoldsIt) {
    SCommonPalette *palette = CommonInitPalette(record, nullptr, 0), *other = CommonInitPalette(record, nullptr, 0);
    SCommonBitmap *a = CommonInitBitmap(record, 2, 2), *b = CommonInitBitmap(record, 2, 2);
    SCommonBitmap *c = CommonInitBitmap(record, 1, 1);
    for (SCommonBitmap *x : {a, b, a}) // a again: not counted twice
        EXPECT_TRUE(CommonSetBitmapPalette(record, x, palette));
    // Replacing releases the old palette; null drops it.
    CommonSetBitmapPalette(record, c, other), CommonSetBitmapPalette(record, c, palette);
    EXPECT_TRUE(CommonSetBitmapPalette(record, c, nullptr));
    EXPECT_EQ(c->palette, nullptr);
    EXPECT_EQ(palette->header.refCount, 3);
    EXPECT_EQ(other->header.refCount, 1);
    // What is no live palette record is stored but never counted or released.
    for (const SCommonHeader h : {SCommonHeader{sizeof(SCommonPalette) - 1, 5, nullptr},
                                  SCommonHeader{sizeof(SCommonPalette), 0, nullptr}, SCommonHeader{0, 1, nullptr}}) {
        SCommonPalette fake{h, {}, {}};
        EXPECT_TRUE(CommonSetBitmapPalette(record, c, &fake));
        EXPECT_EQ(std::exchange(c->palette, nullptr), &fake);
        EXPECT_EQ(fake.header.refCount, h.refCount);
    }
    CommonDonePalette(record, other), CommonDonePalette(record, palette);
    EXPECT_EQ(Count(record->palettes), 1u);
    CommonDoneBitmap(record, a), CommonDoneBitmap(record, c);
    // b holds the last reference; giving it the same palette again keeps it alive.
    EXPECT_TRUE(CommonSetBitmapPalette(record, b, palette));
    EXPECT_EQ(palette->header.refCount, 1);
    EXPECT_TRUE(CommonDoneBitmap(record, b));
    EXPECT_EQ(Count(record->palettes), 0u) << "the last holder freed it";
    EXPECT_EQ(Count(record->bitmaps), 1u) << "only the screen bitmap";
}

// The allocation hook in each state of the driver, for an ordinary bitmap, a
// bitmap that follows the screen, and the screen bitmap itself; creation
// through InitBitmap is refused exactly when the hook fails. Locking needs an
// allocated bitmap, and a lock outlives deallocation.
TEST_F(Bitmaps, AllocationHookStateTable) {
    const struct {
        const char *name;
        uint8_t allocated, readied;
        vantu_bool result;
        bool becomesAllocated;
    } cases[] = {
        {"driver not allocated", 0, 0, 1, false}, {"allocated, not ready", 1, 0, 0, false}, {"ready", 1, 1, 1, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        MakeReady();
        record->allocated = c.allocated, record->readied = c.readied;
        SCommonBitmap *created[] = {CommonInitBitmap(record, 3, 3), CommonInitScreenBitmap(record)};
        EXPECT_EQ(created[0] != nullptr, c.result != 0);
        EXPECT_EQ(created[1] != nullptr, c.result != 0);
        SCommonBitmap *plain = CommonBitmapInit(nullptr, record, 0, 5, 6), *screen = record->screenBitmap;
        SCommonBitmap *follows = CommonBitmapInit(nullptr, record, 1, 5, 6);
        for (SCommonBitmap *b : {plain, follows, screen}) {
            EXPECT_EQ(CommonAllocBitmap(record, b), c.result);
            EXPECT_EQ(b->isAllocated != 0, c.becomesAllocated);
        }
        if (c.becomesAllocated) {
            const SBitmapInfo want{5, 6, 0, 7, 32, 0xFF0000, 0xFF00, 0xFF, 9, nullptr};
            EXPECT_EQ(std::memcmp(&plain->info, &want, offsetof(SBitmapInfo, formatOpaque2) + 4), 0)
                << "its size, the screen's format, no pitch";
            EXPECT_EQ(plain->info.bits, nullptr);
            EXPECT_EQ(follows->info.width, 4u) << "the screen's size";
            EXPECT_EQ(follows->info.height, 3u);
            EXPECT_EQ(plain->isInitialized + follows->isInitialized, 0);
            EXPECT_EQ(screen->isInitialized, 1) << "only the screen bitmap starts initialized";
            EXPECT_EQ(CommonLockBitmap(record, plain), &plain->info); // lock and unlock: the fuzzer's predictions
            record->screenInfo.width = 99;
            EXPECT_TRUE(CommonAllocBitmap(record, follows));
            EXPECT_EQ(follows->info.width, 4u) << "allocated already: unchanged";
            for (SCommonBitmap *b : {plain, follows, screen}) {
                EXPECT_TRUE(CommonDeallocBitmap(record, b));
                EXPECT_EQ(b->isAllocated + b->isInitialized, 0);
                EXPECT_EQ(b->info.bitsPerPixel + b->info.redMask, 0u);
            }
            EXPECT_EQ(plain->info.width, 5u) << "its own size survives";
            EXPECT_EQ(follows->info.width, 0u) << "the screen's does not";
            EXPECT_TRUE(CommonAllocBitmap(record, plain));
            EXPECT_EQ(CommonLockBitmap(record, plain), nullptr) << "the lock outlived the deallocation";
            EXPECT_TRUE(CommonUnlockBitmap(record, plain));
        } else {
            EXPECT_EQ(CommonLockBitmap(record, plain), nullptr);
            EXPECT_FALSE(CommonUnlockBitmap(record, plain));
            EXPECT_TRUE(CommonDeallocBitmap(record, plain)) << "not allocated: still true";
        }
        for (SCommonBitmap *b : {plain, follows, created[0], created[1]})
            CommonDoneBitmap(record, b);
    }
}

TEST_F(Bitmaps, MemoryBackedHooksObtainAndFreePixels) {
    MakeReady();
    SCommonBitmap *bitmap = CommonBitmapInit(nullptr, record, 0, 3, 2);
    ASSERT_TRUE(CommonAllocBitmapMem(record, bitmap));
    EXPECT_EQ(bitmap->info.pitch, 12u);
    const auto *first = static_cast<const uint8_t *>(bitmap->info.bits);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(first, first + 24), std::vector<uint8_t>(24, 0));
    EXPECT_TRUE(CommonAllocBitmapMem(record, bitmap));
    EXPECT_EQ(bitmap->info.bits, first) << "allocated: the block stays";
    EXPECT_TRUE(CommonDeallocBitmapMem(record, bitmap));
    EXPECT_EQ(bitmap->info.bits, nullptr);
    EXPECT_EQ(bitmap->info.pitch, 0u);
    // A size that cannot be represented, or reads negative, fails and leaves no pixels.
    SCommonBitmap *huge = CommonBitmapInit(nullptr, record, 0, INT32_MAX, INT32_MAX);
    SCommonBitmap *negative = CommonBitmapInit(nullptr, record, 0, -3, 2);
    for (SCommonBitmap *b : {huge, negative}) {
        EXPECT_FALSE(CommonAllocBitmapMem(record, b));
        EXPECT_EQ(b->info.bits, nullptr);
    }
    CommonDoneBitmap(record, negative);
    // Done at the last reference of an allocated bitmap frees its pixels
    // through the deallocation hook (the sanitizer build sees a leak otherwise).
    record->DeallocBitmap = CommonDeallocBitmapMem;
    ASSERT_TRUE(CommonAllocBitmapMem(record, bitmap));
    CommonDoneBitmap(record, bitmap), CommonDoneBitmap(record, huge);
}

std::vector<std::string> g_seen;
// Both fail; the walks go on regardless.
vantu_bool Visit(std::string s, SCommonBitmap *b) { return g_seen.push_back(s + std::to_string(b->info.width)), 0; }
vantu_bool VANTU_CALL VisitScreen(SCommonRec *, SCommonBitmap *b) { return Visit("screen:", b); }
vantu_bool VANTU_CALL VisitOther(SCommonRec *, SCommonBitmap *b) { return Visit("other:", b); }

TEST_F(Bitmaps, WalksVisitInCreationOrderAndKnowTheScreenByIdentity) {
    SCommonBitmap *placeholder = record->screenBitmap, *made[3];
    for (int32_t w = 1; w <= 3; ++w)
        made[w - 1] = CommonBitmapInit(nullptr, record, w == 2, w, 1);
    record->screenBitmap = made[1]; // the screen bitmap may stand anywhere
    record->AllocScreenBitmap = record->DeallocScreenBitmap = VisitScreen;
    record->AllocBitmap = record->DeallocBitmap = VisitOther;
    for (auto walk : {CommonAllocAllBitmaps, CommonDeallocAllBitmaps}) {
        EXPECT_TRUE(walk(record));
        EXPECT_EQ(std::exchange(g_seen, {}), (std::vector<std::string>{"other:0", "other:1", "screen:2", "other:3"}));
    }
    record->screenBitmap = placeholder;
    record->AllocScreenBitmap = record->AllocBitmap = record->DeallocScreenBitmap = record->DeallocBitmap = nullptr;
    for (SCommonBitmap *b : made)
        CommonDoneBitmap(record, b);
}

} // namespace

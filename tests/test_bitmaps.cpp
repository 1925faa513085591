// Palettes and bitmaps: reference counting through several holders, the
// screen bitmap's protection, locking, and the surface hooks' state table.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common.h"

namespace {

size_t Count(const SCommonList &list) {
    size_t n = 0;
    for (SCommonLink *l = list.first; l != nullptr; l = l->next)
        ++n;
    return n;
}

class Bitmaps : public testing::Test {
  protected:
    void SetUp() override { record = CommonInit(0); }
    void TearDown() override {
        record->allocated = 0;
        CommonDone(record);
    }
    // Allocated and ready over a 32-bit screen of 4x3, as readying leaves it.
    void MakeReady() {
        record->allocated = 1;
        record->readied = 1;
        record->screenInfo = SBitmapInfo{4, 3, 16, 7, 32, 0xFF0000, 0xFF00, 0xFF, 9, nullptr};
    }
    SCommonRec *record = nullptr;
};

TEST_F(Bitmaps, PaletteCreationCopiesColoursAndRefusesBadCounts) {
    uint32_t colours[256];
    for (uint32_t i = 0; i < 256; ++i)
        colours[i] = 0x010203u * i + 1;
    SCommonPalette *empty = CommonInitPalette(record, colours, 0);
    SCommonPalette *full = CommonInitPalette(record, colours, 256);
    SCommonPalette *some = CommonInitPalette(record, colours, 3);
    ASSERT_TRUE(empty && full && some);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(empty->entries[i], 0u);
        EXPECT_EQ(full->entries[i], colours[i]);
        EXPECT_EQ(some->entries[i], i < 3 ? colours[i] : 0u);
    }
    EXPECT_EQ(full->header.size, sizeof(SCommonPalette));
    EXPECT_EQ(full->header.refCount, 1);
    EXPECT_EQ(Count(record->palettes), 3u);
    for (int32_t bad : {-1, 257, INT32_MIN, INT32_MAX})
        EXPECT_EQ(CommonInitPalette(record, colours, bad), nullptr) << bad;
    EXPECT_EQ(CommonInitPalette(record, nullptr, 1), nullptr);
    EXPECT_EQ(CommonInitPalette(nullptr, colours, 1), nullptr);
    EXPECT_EQ(Count(record->palettes), 3u);
    // Done in the middle, then the ends: the list stays in creation order.
    EXPECT_TRUE(CommonDonePalette(record, full));
    EXPECT_EQ(record->palettes.first, &empty->link);
    EXPECT_EQ(record->palettes.last, &some->link);
    CommonDonePalette(record, empty);
    CommonDonePalette(record, some);
    EXPECT_EQ(record->palettes.first, nullptr);
    EXPECT_EQ(record->palettes.last, nullptr);
}

TEST_F(Bitmaps, PaletteLivesWhileAnyHolderHoldsIt) {
    SCommonPalette *palette = CommonInitPalette(record, nullptr, 0);
    SCommonBitmap *a = CommonInitBitmap(record, 2, 2);
    SCommonBitmap *b = CommonInitBitmap(record, 2, 2);
    ASSERT_TRUE(palette && a && b);
    EXPECT_TRUE(CommonSetBitmapPalette(record, a, palette));
    EXPECT_TRUE(CommonSetBitmapPalette(record, b, palette));
    EXPECT_EQ(palette->header.refCount, 3);
    // Setting the palette a bitmap already holds neither counts twice nor frees it.
    EXPECT_TRUE(CommonSetBitmapPalette(record, a, palette));
    EXPECT_EQ(palette->header.refCount, 3);
    CommonDonePalette(record, palette);
    EXPECT_EQ(palette->header.refCount, 2);
    EXPECT_TRUE(CommonDoneBitmap(record, a));
    EXPECT_EQ(palette->header.refCount, 1);
    EXPECT_EQ(Count(record->palettes), 1u);
    // b holds the last reference; giving it the same palette again keeps it alive.
    EXPECT_TRUE(CommonSetBitmapPalette(record, b, palette));
    EXPECT_EQ(palette->header.refCount, 1);
    EXPECT_TRUE(CommonDoneBitmap(record, b));
    EXPECT_EQ(Count(record->palettes), 0u);
    EXPECT_EQ(Count(record->bitmaps), 1u) << "only the placeholder screen bitmap";
}

TEST_F(Bitmaps, SetPaletteReplacesAndClears) {
    SCommonPalette *first = CommonInitPalette(record, nullptr, 0);
    SCommonPalette *second = CommonInitPalette(record, nullptr, 0);
    SCommonBitmap *bitmap = CommonInitBitmap(record, 1, 1);
    CommonSetBitmapPalette(record, bitmap, first);
    CommonSetBitmapPalette(record, bitmap, second);
    EXPECT_EQ(first->header.refCount, 1);
    EXPECT_EQ(second->header.refCount, 2);
    EXPECT_TRUE(CommonSetBitmapPalette(record, bitmap, nullptr));
    EXPECT_EQ(bitmap->palette, nullptr);
    EXPECT_EQ(second->header.refCount, 1);
    CommonDonePalette(record, first);
    CommonDonePalette(record, second);
    CommonDoneBitmap(record, bitmap);
}

TEST_F(Bitmaps, PaletteThatIsNoLiveRecordIsStoredButNotCounted) {
    SCommonBitmap *bitmap = CommonInitBitmap(record, 1, 1);
    struct {
        uint32_t size;
        int32_t refCount;
    } const cases[] = {{sizeof(SCommonPalette) - 1, 5}, {sizeof(SCommonPalette), 0}, {0, 1}};
    for (const auto &c : cases) {
        SCommonPalette fake{};
        fake.header.size = c.size;
        fake.header.refCount = c.refCount;
        EXPECT_TRUE(CommonSetBitmapPalette(record, bitmap, &fake));
        EXPECT_EQ(bitmap->palette, &fake);
        EXPECT_EQ(fake.header.refCount, c.refCount);
        bitmap->palette = nullptr; // the fake is not ours to release
    }
    CommonDoneBitmap(record, bitmap);
}

TEST_F(Bitmaps, ScreenBitmapIsRefusedByDoneBitmap) {
    SCommonPalette *palette = CommonInitPalette(record, nullptr, 0);
    SCommonBitmap *screen = record->screenBitmap;
    CommonSetBitmapPalette(record, screen, palette);
    EXPECT_FALSE(CommonDoneBitmap(record, screen));
    EXPECT_EQ(screen->header.refCount, 1);
    EXPECT_EQ(screen->palette, palette);
    EXPECT_EQ(palette->header.refCount, 2);
    EXPECT_EQ(Count(record->bitmaps), 1u);
    CommonDonePalette(record, palette); // the screen bitmap's reference goes with Done
    EXPECT_FALSE(CommonDoneBitmap(record, nullptr));
    EXPECT_FALSE(CommonDoneBitmap(nullptr, screen));
}

TEST_F(Bitmaps, RaisedBitmapReferenceKeepsItsPaletteUntilTheLast) {
    SCommonPalette *palette = CommonInitPalette(record, nullptr, 0);
    SCommonBitmap *bitmap = CommonInitBitmap(record, 1, 1);
    CommonSetBitmapPalette(record, bitmap, palette);
    CommonDonePalette(record, palette);
    bitmap->header.refCount = 2;
    EXPECT_TRUE(CommonDoneBitmap(record, bitmap));
    EXPECT_EQ(bitmap->palette, palette);
    EXPECT_EQ(palette->header.refCount, 1);
    EXPECT_TRUE(CommonDoneBitmap(record, bitmap));
    EXPECT_EQ(Count(record->palettes), 0u);
}

TEST_F(Bitmaps, LockAndUnlock) {
    SCommonBitmap *bitmap = CommonInitBitmap(record, 2, 2);
    EXPECT_EQ(CommonLockBitmap(record, bitmap), nullptr) << "not allocated";
    EXPECT_FALSE(CommonUnlockBitmap(record, bitmap));
    MakeReady();
    ASSERT_TRUE(CommonAllocBitmap(record, bitmap));
    EXPECT_FALSE(bitmap->isInitialized);
    EXPECT_EQ(CommonLockBitmap(record, bitmap), &bitmap->info);
    EXPECT_EQ(CommonLockBitmap(record, bitmap), nullptr) << "already locked";
    EXPECT_TRUE(CommonUnlockBitmap(record, bitmap));
    EXPECT_TRUE(CommonIsBitmapInitialized(record, bitmap));
    EXPECT_FALSE(CommonUnlockBitmap(record, bitmap));
    // A lock survives deallocation and the next allocation.
    CommonLockBitmap(record, bitmap);
    CommonDeallocBitmap(record, bitmap);
    CommonAllocBitmap(record, bitmap);
    EXPECT_EQ(CommonLockBitmap(record, bitmap), nullptr);
    EXPECT_TRUE(CommonUnlockBitmap(record, bitmap));
    EXPECT_EQ(CommonGetBitmapInfo(record, bitmap), &bitmap->info);
    EXPECT_EQ(CommonLockBitmap(nullptr, bitmap), nullptr);
    EXPECT_EQ(CommonGetBitmapInfo(record, nullptr), nullptr);
    CommonDoneBitmap(record, bitmap);
}

// The allocation hook in each state of the driver, for an ordinary bitmap, a
// bitmap that follows the screen, and the screen bitmap itself.
TEST_F(Bitmaps, AllocationHookStateTable) {
    struct Case {
        const char *name;
        uint8_t allocated, readied;
        vantu_bool result;
        bool becomesAllocated;
    } const cases[] = {
        {"driver not allocated", 0, 0, 1, false},
        {"allocated, not ready", 1, 0, 0, false},
        {"ready", 1, 1, 1, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        MakeReady();
        record->allocated = c.allocated;
        record->readied = c.readied;
        SCommonBitmap *plain = CommonBitmapInit(nullptr, record, 0, 5, 6);
        SCommonBitmap *follows = CommonBitmapInit(nullptr, record, 1, 5, 6);
        SCommonBitmap *screen = record->screenBitmap;
        for (SCommonBitmap *b : {plain, follows, screen}) {
            EXPECT_EQ(CommonAllocBitmap(record, b), c.result);
            EXPECT_EQ(b->isAllocated != 0, c.becomesAllocated);
        }
        if (c.becomesAllocated) {
            EXPECT_EQ(plain->info.width, 5u);
            EXPECT_EQ(follows->info.width, 4u);
            EXPECT_EQ(follows->info.height, 3u);
            EXPECT_EQ(plain->info.bitsPerPixel, 32u);
            EXPECT_EQ(plain->info.formatOpaque1, 7u);
            EXPECT_EQ(plain->info.formatOpaque2, 9u);
            EXPECT_EQ(plain->info.pitch, 0u);
            EXPECT_FALSE(plain->isInitialized);
            EXPECT_FALSE(follows->isInitialized);
            EXPECT_TRUE(screen->isInitialized) << "only the screen bitmap starts initialized";
            // Allocated already: unchanged.
            record->screenInfo.width = 99;
            EXPECT_TRUE(CommonAllocBitmap(record, follows));
            EXPECT_EQ(follows->info.width, 4u);
            for (SCommonBitmap *b : {plain, follows, screen}) {
                EXPECT_TRUE(CommonDeallocBitmap(record, b));
                EXPECT_FALSE(b->isAllocated);
                EXPECT_FALSE(b->isInitialized);
                EXPECT_EQ(b->info.bitsPerPixel, 0u);
                EXPECT_EQ(b->info.redMask, 0u);
            }
            EXPECT_EQ(plain->info.width, 5u) << "its own size survives";
            EXPECT_EQ(follows->info.width, 0u);
        }
        EXPECT_TRUE(CommonDeallocBitmap(record, plain)) << "not allocated: still true";
        CommonDoneBitmap(record, plain);
        CommonDoneBitmap(record, follows);
    }
}

TEST_F(Bitmaps, InitBitmapOnAllocatedButNotReadyDriverFails) {
    record->allocated = 1;
    const size_t before = Count(record->bitmaps);
    EXPECT_EQ(CommonInitBitmap(record, 3, 3), nullptr);
    EXPECT_EQ(CommonInitScreenBitmap(record), nullptr);
    EXPECT_EQ(Count(record->bitmaps), before);
}

TEST_F(Bitmaps, MemoryBackedHooksObtainAndFreePixels) {
    MakeReady();
    SCommonBitmap *bitmap = CommonBitmapInit(nullptr, record, 0, 3, 2);
    ASSERT_TRUE(CommonAllocBitmapMem(record, bitmap));
    EXPECT_EQ(bitmap->info.pitch, 12u);
    ASSERT_NE(bitmap->info.bits, nullptr);
    const auto *bytes = static_cast<const uint8_t *>(bitmap->info.bits);
    for (int i = 0; i < 24; ++i)
        EXPECT_EQ(bytes[i], 0);
    void *first = bitmap->info.bits;
    EXPECT_TRUE(CommonAllocBitmapMem(record, bitmap));
    EXPECT_EQ(bitmap->info.bits, first) << "allocated already: the block stays";
    EXPECT_TRUE(CommonDeallocBitmapMem(record, bitmap));
    EXPECT_EQ(bitmap->info.bits, nullptr);
    EXPECT_EQ(bitmap->info.pitch, 0u);
    // A size that cannot be represented fails and leaves no pixels.
    SCommonBitmap *huge = CommonBitmapInit(nullptr, record, 0, INT32_MAX, INT32_MAX);
    EXPECT_FALSE(CommonAllocBitmapMem(record, huge));
    EXPECT_EQ(huge->info.bits, nullptr);
    // Done at the last reference of an allocated bitmap frees its pixels
    // through the deallocation hook (the sanitizer build sees a leak otherwise).
    record->DeallocBitmap = CommonDeallocBitmapMem;
    ASSERT_TRUE(CommonAllocBitmapMem(record, bitmap));
    CommonDoneBitmap(record, bitmap);
    CommonDoneBitmap(record, huge);
}

std::vector<std::string> g_visits;
vantu_bool VANTU_CALL VisitScreen(SCommonRec *, SCommonBitmap *b) {
    g_visits.push_back("screen:" + std::to_string(b->info.width));
    return 0; // failures are ignored by the walks
}
vantu_bool VANTU_CALL VisitOther(SCommonRec *, SCommonBitmap *b) {
    g_visits.push_back("other:" + std::to_string(b->info.width));
    return 0;
}

TEST_F(Bitmaps, WalksVisitInCreationOrderAndKnowTheScreenByIdentity) {
    SCommonBitmap *one = CommonBitmapInit(nullptr, record, 0, 1, 1);
    SCommonBitmap *two = CommonBitmapInit(nullptr, record, 1, 2, 1);
    SCommonBitmap *three = CommonBitmapInit(nullptr, record, 0, 3, 1);
    SCommonBitmap *placeholder = record->screenBitmap;
    record->screenBitmap = two; // the screen bitmap may stand anywhere
    record->AllocScreenBitmap = record->DeallocScreenBitmap = VisitScreen;
    record->AllocBitmap = record->DeallocBitmap = VisitOther;
    const std::vector<std::string> expected = {"other:0", "other:1", "screen:2", "other:3"};
    EXPECT_TRUE(CommonAllocAllBitmaps(record));
    EXPECT_EQ(g_visits, expected);
    g_visits.clear();
    EXPECT_TRUE(CommonDeallocAllBitmaps(record));
    EXPECT_EQ(g_visits, expected);
    record->screenBitmap = placeholder;
    record->AllocScreenBitmap = record->AllocBitmap = nullptr;
    record->DeallocScreenBitmap = record->DeallocBitmap = nullptr;
    for (SCommonBitmap *b : {one, two, three})
        CommonDoneBitmap(record, b);
}

TEST(BitmapStubs, AllFail) {
    SCommonBitmap bitmap{};
    EXPECT_EQ(CommonInitPaletteFail(nullptr, nullptr, 0), nullptr);
    EXPECT_FALSE(CommonDonePaletteFail(nullptr, nullptr));
    EXPECT_EQ(CommonInitBitmapFail(nullptr, 1, 1), nullptr);
    EXPECT_EQ(CommonInitScreenBitmapFail(nullptr), nullptr);
    EXPECT_FALSE(CommonDoneBitmapFail(nullptr, &bitmap));
    EXPECT_FALSE(CommonSetBitmapPaletteFail(nullptr, &bitmap, nullptr));
    EXPECT_EQ(CommonGetBitmapInfoFail(nullptr, &bitmap), nullptr);
    EXPECT_FALSE(CommonIsBitmapInitializedFail(nullptr, &bitmap));
    EXPECT_EQ(CommonLockBitmapFail(nullptr, &bitmap), nullptr);
    EXPECT_FALSE(CommonUnlockBitmapFail(nullptr, &bitmap));
    EXPECT_FALSE(CommonAllocBitmapFail(nullptr, &bitmap));
    EXPECT_FALSE(CommonDeallocBitmapFail(nullptr, &bitmap));
}

} // namespace

// Null records, bitmaps and palettes, bad palette counts and a missing
// description, on a memory driver record: plain false, null or 0 answers,
// nothing changed. (Bad sizes, pitches, coordinates and locks are the model
// tests' and the careless-host cases' business.)
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <utility>
#include <vector>

#include "common.h"

namespace {

int g_messages = 0;
void VANTU_CALL Count(SCommonRec *, const char *) { ++g_messages; }
// Every result must be 0 (false or null); a failure names the result's place.
template <class... Results>
void ExpectZeros(Results... results) {
    const uintptr_t all[] = {(uintptr_t)results...}; // bools and pointers alike
    for (size_t i = 0; i < sizeof all / sizeof all[0]; ++i)
        EXPECT_EQ(all[i], 0u) << "result #" << i;
}

const SBitmapInfo kScreen = {8, 8, 0, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0, nullptr};

// A record ready on a 32-bit screen, and two 4x4 bitmaps a and b.
class BadInput : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(rec = VANTU_DLL_Init(0, Count), nullptr);
        ASSERT_TRUE(rec->AllocBuffer(rec, 0, 0, &kScreen));
        ASSERT_NE(a = rec->InitBitmap(rec, 4, 4), nullptr);
        ASSERT_NE(b = rec->InitBitmap(rec, 4, 4), nullptr);
        before = a->info;
    }
    void TearDown() override {
        EXPECT_EQ(std::memcmp(&a->info, &before, sizeof before), 0) << "bitmap a changed";
        EXPECT_TRUE(rec->DoneBitmap(rec, a));
        EXPECT_TRUE(rec->DoneBitmap(rec, b));
        EXPECT_TRUE(rec->Done(rec));
    }
    SCommonRec *rec = nullptr;
    SCommonBitmap *a = nullptr, *b = nullptr;
    SBitmapInfo before{};
};

TEST_F(BadInput, NullRecordRefused) {
    SCommonRec *const no = nullptr;
    ExpectZeros(CommonDone(no), CommonAllocWindow(no, 0, 0, 0), CommonAllocFullScreen(no, 0, 0, 0, 8, 8, 32, 0, 0),
                CommonAllocBuffer(no, 0, 0, &kScreen), CommonDealloc(no), CommonSetDebugMsgFunc(no, Count),
                CommonSetCallbacks(no, nullptr, nullptr), CommonDrawBegin(no), CommonDrawEnd(no), CommonFlip(no),
                CommonFlipToPrimary(no), CommonSync(no), CommonInitPalette(no, nullptr, 0),
                CommonInitBitmap(no, 1, 1), CommonInitScreenBitmap(no), CommonDoneBitmap(no, a),
                CommonLockBitmap(no, a), CommonClearBitmapSW(no, a, 1),
                CommonCopyBitmapSW(no, a, b, 0, 0, 0, 0, 0, 0, 0), CommonCopyEntireBitmapSW(no, b, a, 0, 0, 1),
                CommonGetScreenColorRGB(no, nullptr, 0x7F), CommonAllocBitmap(no, a));
    EXPECT_EQ(a->isLocked, 0);
    EXPECT_EQ(a->isInitialized, 0);
    EXPECT_EQ(b->isInitialized, 0);
}

TEST_F(BadInput, NullRecordIgnoredWhereUnused) {
    SCommonPalette *p = rec->InitPalette(rec, nullptr, 0);
    ASSERT_TRUE(CommonSetBitmapPalette(nullptr, a, p));
    EXPECT_EQ(p->header.refCount, 2);
    EXPECT_TRUE(CommonDonePalette(nullptr, p));
    EXPECT_EQ(p->header.refCount, 1);
    ASSERT_NE(rec->LockBitmap(rec, a), nullptr);
    EXPECT_EQ(CommonGetBitmapInfo(nullptr, a), &a->info);
    EXPECT_TRUE(CommonUnlockBitmap(nullptr, a));
    EXPECT_TRUE(CommonIsBitmapInitialized(nullptr, a));
    EXPECT_EQ(CommonGetScreenColor888(nullptr, nullptr, 0x7F7F7F), 0xFEFEFEu);
    EXPECT_EQ(CommonGetScreenColorFail(nullptr, nullptr, 0x7F), 0u);
    EXPECT_TRUE(rec->SetBitmapPalette(rec, a, nullptr)); // the last reference: freed
}

TEST_F(BadInput, NullBitmapOrPaletteRefused) {
    SCommonPalette *p = rec->InitPalette(rec, nullptr, 0);
    ExpectZeros(
        CommonDonePalette(rec, nullptr), CommonDoneBitmap(rec, nullptr), CommonSetBitmapPalette(rec, nullptr, p),
        CommonGetBitmapInfo(rec, nullptr), CommonIsBitmapInitialized(rec, nullptr), CommonLockBitmap(rec, nullptr),
        CommonUnlockBitmap(rec, nullptr), CommonClearBitmapSW(rec, nullptr, 1), CommonAllocBitmap(rec, nullptr),
        CommonDeallocBitmap(rec, nullptr), CommonGetScreenColor8(rec, nullptr, 1),
        CommonCopyBitmapSW(rec, a, nullptr, 0, 0, 0, 0, 0, 0, 0), CommonCopyEntireBitmapSW(rec, nullptr, a, 0, 0, 1));
    EXPECT_EQ(a->isInitialized, 0) << "the other side of a copy is not marked";
    EXPECT_EQ(a->isLocked, 0) << "nor left locked";
    EXPECT_EQ(p->header.refCount, 1);
    // A null palette is no error: it drops the bitmap's palette.
    ASSERT_TRUE(rec->SetBitmapPalette(rec, a, p));
    EXPECT_TRUE(rec->SetBitmapPalette(rec, a, nullptr));
    EXPECT_EQ(a->palette, nullptr);
    EXPECT_EQ(p->header.refCount, 1);
    EXPECT_TRUE(rec->DonePalette(rec, p));
}

TEST_F(BadInput, PaletteCountsOutsideRange) {
    const std::vector<uint32_t> colours(256, 0x010203);
    for (const auto &[count, nullColours] : {std::pair{-1, false},
                                             {INT32_MIN, false},
                                             {257, false},
                                             {INT32_MAX, false},
                                             {1, true},
                                             {0, true},
                                             {256, false}}) {
        SCommonPalette *p = rec->InitPalette(rec, nullColours ? nullptr : colours.data(), count);
        ASSERT_EQ(p != nullptr, count >= 0 && count <= 256 && !(nullColours && count > 0)) << count;
        EXPECT_EQ(rec->palettes.first, p == nullptr ? nullptr : &p->link) << count;
        for (int i = 0; p != nullptr && i < 256; ++i)
            ASSERT_EQ(p->entries[i], i < count ? 0x010203u : 0u) << count;
        rec->DonePalette(rec, p);
    }
}

TEST_F(BadInput, AllocBufferWithoutDescription) {
    ASSERT_TRUE(rec->Dealloc(rec));
    const std::vector<uint8_t> was(reinterpret_cast<uint8_t *>(rec), reinterpret_cast<uint8_t *>(rec + 1));
    g_messages = 0;
    EXPECT_FALSE(rec->AllocBuffer(rec, 1, 0, nullptr));
    EXPECT_EQ(std::memcmp(was.data(), rec, sizeof *rec), 0);
    EXPECT_EQ(g_messages, 0);
    before = a->info; // the Dealloc took the format away
}

} // namespace

// Creation, finalization and the debug message channel.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common.h"

namespace {

struct Delivery {
    char who; // 'r' record's own, 'h' host's, 'd' module default
    SCommonRec *record;
    std::string text;
};
std::vector<Delivery> g_out;

void VANTU_CALL OwnFunc(SCommonRec *r, const char *t) { g_out.push_back({'r', r, t}); }
void VANTU_CALL HostFunc(SCommonRec *r, const char *t) { g_out.push_back({'h', r, t}); }
void VANTU_CALL DefaultFunc(SCommonRec *r, const char *t) { g_out.push_back({'d', r, t}); }

class Lifecycle : public testing::Test {
  protected:
    void SetUp() override {
        g_out.clear();
        CommonDefaultDebugMsgFunc = DefaultFunc;
    }
    void TearDown() override { CommonDefaultDebugMsgFunc = nullptr; }
};

TEST_F(Lifecycle, InitMakesPlaceholderMutexAndMessage) {
    SCommonRec *record = CommonInit(0x1234);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->header.size, sizeof(SCommonRec));
    EXPECT_EQ(record->header.refCount, 1);
    EXPECT_STREQ(record->name, "<unknown> screen driver");
    EXPECT_EQ(record->version, 2u);
    EXPECT_EQ(record->build, 2u);
    EXPECT_EQ(record->hostHandle, 0x1234u);
    EXPECT_NE(record->drawMutex, nullptr);
    ASSERT_NE(record->screenBitmap, nullptr);
    EXPECT_TRUE(record->screenBitmap->isScreen);
    EXPECT_EQ(record->bitmaps.first, &record->screenBitmap->link);
    EXPECT_EQ(record->bitmaps.last, &record->screenBitmap->link);
    EXPECT_EQ(record->palettes.first, nullptr);
    EXPECT_EQ(record->GetScreenColor, nullptr);
    ASSERT_EQ(g_out.size(), 1u);
    EXPECT_EQ(g_out[0].text, "VANTU: Initializing: <unknown> screen driver (version: 2, build: 2)\n");

    g_out.clear();
    EXPECT_TRUE(CommonDone(record));
    ASSERT_EQ(g_out.size(), 1u);
    EXPECT_EQ(g_out[0].text, "VANTU: Finalizing: <unknown> screen driver\n");
}

// Exactly one function receives each message: the record's own, the host's,
// then the module default.
TEST_F(Lifecycle, OutputFunctionChoice) {
    struct Case {
        DebugMsgFunc own, host, fallback;
        char expected; // 0: dropped
    } const cases[] = {
        {OwnFunc, HostFunc, DefaultFunc, 'r'}, {nullptr, HostFunc, DefaultFunc, 'h'},
        {nullptr, nullptr, DefaultFunc, 'd'},  {OwnFunc, nullptr, nullptr, 'r'},
        {nullptr, nullptr, nullptr, 0},
    };
    SCommonRec *record = CommonInit(0);
    for (const Case &c : cases) {
        record->hostDebugFunc = c.host;
        CommonDefaultDebugMsgFunc = c.fallback;
        EXPECT_TRUE(CommonSetDebugMsgFunc(record, c.own));
        g_out.clear();
        CommonDebugMsg(record, "n=%d %s\n", 7, "x");
        if (c.expected == 0) {
            EXPECT_TRUE(g_out.empty());
            continue;
        }
        ASSERT_EQ(g_out.size(), 1u);
        EXPECT_EQ(g_out[0].who, c.expected);
        EXPECT_EQ(g_out[0].record, record);
        EXPECT_EQ(g_out[0].text, "VANTU: n=7 x\n");
    }
    // Without a record only the module default hears, with a null record.
    CommonDefaultDebugMsgFunc = DefaultFunc;
    g_out.clear();
    CommonDebugMsg(nullptr, "alone\n");
    ASSERT_EQ(g_out.size(), 1u);
    EXPECT_EQ(g_out[0].who, 'd');
    EXPECT_EQ(g_out[0].record, nullptr);
    CommonDefaultDebugMsgFunc = nullptr;
    g_out.clear();
    CommonDebugMsg(nullptr, "dropped\n");
    EXPECT_TRUE(g_out.empty());
    record->hostDebugFunc = nullptr;
    CommonSetDebugMsgFunc(record, nullptr);
    CommonDone(record);
}

TEST_F(Lifecycle, LongMessagesAreCutAtTheBuffer) {
    SCommonRec *record = CommonInit(0);
    g_out.clear();
    const std::string longText(3000, 'a');
    CommonDebugMsg(record, "%s", longText.c_str());
    ASSERT_EQ(g_out.size(), 1u);
    EXPECT_EQ(g_out[0].text.size(), 999u);
    EXPECT_EQ(g_out[0].text.rfind("VANTU: aaa", 0), 0u);
    CommonDone(record);
}

vantu_bool VANTU_CALL RecordingDealloc(SCommonRec *record) {
    g_out.push_back({'x', record, "Dealloc slot"});
    record->allocated = 0;
    return 1;
}

TEST_F(Lifecycle, DoneDeallocatesThroughTheSlotFirst) {
    SCommonRec *record = CommonInit(0);
    record->Dealloc = RecordingDealloc;
    record->allocated = 1;
    g_out.clear();
    EXPECT_TRUE(CommonDone(record));
    ASSERT_EQ(g_out.size(), 2u);
    EXPECT_EQ(g_out[0].text, "Dealloc slot");
    EXPECT_EQ(g_out[1].text, "VANTU: Finalizing: <unknown> screen driver\n");
}

TEST_F(Lifecycle, RaisedReferenceSurvivesOneDone) {
    SCommonRec *record = CommonInit(77);
    record->header.refCount = 2;
    g_out.clear();
    EXPECT_TRUE(CommonDone(record));
    // Finalized but not freed.
    EXPECT_EQ(record->header.refCount, 1);
    EXPECT_EQ(record->header.size, sizeof(SCommonRec));
    EXPECT_EQ(record->hostHandle, 0u);
    EXPECT_EQ(record->drawMutex, nullptr);
    EXPECT_EQ(record->screenBitmap, nullptr);
    EXPECT_EQ(record->bitmaps.first, nullptr) << "the placeholder went with finalization";
    EXPECT_TRUE(CommonDone(record)); // finalizes again and frees
    EXPECT_EQ(g_out.size(), 2u);
}

// Once a real screen supersedes the placeholder nobody holds it; finalization
// frees it (the sanitizer build reports the leak otherwise) and leaves the
// host's bitmaps alone.
TEST_F(Lifecycle, FinalizationFreesTheSupersededPlaceholderOnly) {
    SCommonRec *record = CommonInit(0);
    SCommonBitmap *placeholder = record->screenBitmap;
    SCommonBitmap *hosts = CommonBitmapInit(nullptr, record, 1, 0, 0);
    record->screenBitmap = CommonBitmapInit(nullptr, record, 1, 8, 8);
    SCommonBitmap *screen = record->screenBitmap;
    EXPECT_FALSE(CommonDoneBitmap(record, screen));
    record->header.refCount = 2;
    CommonDone(record);
    EXPECT_EQ(record->bitmaps.first, &hosts->link) << "placeholder and screen gone, the host's bitmap stays";
    EXPECT_EQ(record->bitmaps.last, &hosts->link);
    (void)placeholder;
    CommonDoneBitmap(record, hosts);
    CommonDone(record);
}

TEST_F(Lifecycle, NullRecordIsRefused) {
    EXPECT_EQ(CommonDoInit(nullptr, 0), nullptr);
    EXPECT_FALSE(CommonDone(nullptr));
    EXPECT_FALSE(CommonSetDebugMsgFunc(nullptr, OwnFunc));
    CommonDebugFuncNull(nullptr, "ignored");
}

} // namespace

// Creation, finalization and the debug message channel.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "common.h"

namespace {

// Each delivery: who received it ('r' record's own, 'h' host's, 'd' module
// default, 'x' the Dealloc slot) and the text; and the record it came with.
using Log = std::vector<std::string>;
Log g_out;
SCommonRec *g_with = nullptr;

void VANTU_CALL OwnFunc(SCommonRec *r, const char *t) { g_out.push_back('r' + std::string(t)), g_with = r; }
void VANTU_CALL HostFunc(SCommonRec *r, const char *t) { g_out.push_back('h' + std::string(t)), g_with = r; }
void VANTU_CALL DefaultFunc(SCommonRec *r, const char *t) { g_out.push_back('d' + std::string(t)), g_with = r; }
vantu_bool VANTU_CALL RecordingDealloc(SCommonRec *record) { return g_out.push_back("x"), record->allocated = 0, 1; }

class Lifecycle : public testing::Test {
  protected:
    void SetUp() override { g_out.clear(), CommonSetDefaultDebugMsgFunc(DefaultFunc); }
    void TearDown() override { CommonSetDefaultDebugMsgFunc(nullptr); }
};

TEST_F(Lifecycle, InitMakesPlaceholderMutexAndMessage) {
    EXPECT_EQ(CommonDoInit(nullptr, 0), nullptr);
    SCommonRec *record = CommonInit(0x1234);
    ASSERT_NE(record, nullptr);
    EXPECT_STREQ(record->name, "<unknown> screen driver");
    EXPECT_EQ(record->header.refCount, 1);
    EXPECT_EQ(record->hostHandle, 0x1234u);
    EXPECT_NE(record->drawMutex, nullptr);
    ASSERT_NE(record->screenBitmap, nullptr);
    EXPECT_TRUE(record->screenBitmap->isScreen);
    EXPECT_EQ(record->bitmaps.first, &record->screenBitmap->link);
    EXPECT_EQ(record->bitmaps.last, record->bitmaps.first);
    EXPECT_EQ(std::exchange(g_out, {}),
              Log{"dVANTU: Initializing: <unknown> screen driver (version: 2, build: 2)\n"});
    // Done deallocates through the slot before the finalizing message.
    record->Dealloc = RecordingDealloc;
    record->allocated = 1;
    EXPECT_TRUE(CommonDone(record));
    EXPECT_EQ(g_out, (Log{"x", "dVANTU: Finalizing: <unknown> screen driver\n"}));
}

// Exactly one function receives each message: the record's own, the host's,
// then the module default; without a record only the module default.
TEST_F(Lifecycle, OutputFunctionChoice) {
    const struct {
        DebugMsgFunc own, host, fallback;
        bool withRecord;
        char expected; /* 0: dropped */
    } cases[] = {
        {OwnFunc, HostFunc, DefaultFunc, true, 'r'}, {nullptr, HostFunc, DefaultFunc, true, 'h'},
        {nullptr, nullptr, DefaultFunc, true, 'd'},  {OwnFunc, nullptr, nullptr, true, 'r'},
        {nullptr, nullptr, nullptr, true, 0},        {OwnFunc, HostFunc, DefaultFunc, false, 'd'},
        {OwnFunc, HostFunc, nullptr, false, 0},
    };
    SCommonRec *record = CommonInit(0);
    for (const auto &c : cases) {
        record->hostDebugFunc = c.host;
        CommonSetDefaultDebugMsgFunc(c.fallback);
        EXPECT_TRUE(CommonSetDebugMsgFunc(record, c.own));
        g_out.clear(), g_with = nullptr;
        CommonDebugMsg(c.withRecord ? record : nullptr, "n=%d %s\n", 7, "x");
        EXPECT_EQ(std::exchange(g_out, {}), c.expected ? Log{c.expected + std::string("VANTU: n=7 x\n")} : Log{});
        EXPECT_EQ(g_with, c.expected && c.withRecord ? record : nullptr);
    }
    record->hostDebugFunc = nullptr;
    CommonSetDebugMsgFunc(record, nullptr);
    CommonSetDefaultDebugMsgFunc(DefaultFunc);
    // Long texts are cut at the 999-character buffer.
    CommonDebugMsg(record, "%s", std::string(3000, 'a').c_str());
    EXPECT_EQ(g_out, Log{"dVANTU: " + std::string(999 - 7, 'a')});
    CommonDone(record);
}

} // namespace

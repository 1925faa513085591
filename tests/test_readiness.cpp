// Allocation and readiness on a memory driver record; its messages and the
// host's surface callbacks go to one log, so their order shows.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common.h"

namespace {

using Log = std::vector<std::string>;
Log g_log;
bool g_hostAllocOk, g_hostDeallocOk;

void VANTU_CALL Capture(SCommonRec *, const char *text) {
    ASSERT_EQ(std::strncmp(text, "VANTU: ", 7), 0) << text;
    g_log.push_back(text + 7);
}
vantu_bool Host(const char *what, uint32_t ud, bool ok) {
    return g_log.push_back(what + std::to_string(ud) + "]"), ok;
}
vantu_bool VANTU_CALL HostAlloc(SCommonRec *, uint32_t ud) { return Host("[alloc ", ud, g_hostAllocOk); }
vantu_bool VANTU_CALL HostDealloc(SCommonRec *, uint32_t ud) { return Host("[dealloc ", ud, g_hostDeallocOk); }

const std::string kAlloc565 = "CommonAllocBuffer: 640x480x16 - 00abcdef\n";
const std::string kAllocating = "Allocating (flags: 0000abcd, subdev: 0)\n";
const Log kReadying = {"Readying\n", "Allocating all bitmaps\n", "All bitmaps allocated\n"};
const Log kUnreadyEnd = {"Deallocating all bitmaps\n", "All bitmaps deallocated\n", "Unreadied\n", "Deallocating\n",
                         "CommonDealloc\n"};

Log operator+(Log a, const Log &b) { return a.insert(a.end(), b.begin(), b.end()), a; }

class Readiness : public ::testing::Test {
  protected:
    void SetUp() override {
        g_hostAllocOk = g_hostDeallocOk = true;
        ASSERT_NE(rec = VANTU_DLL_Init(0, nullptr), nullptr);
        rec->SetDebugMsgFunc(rec, Capture);
        ASSERT_NE(bitmap = rec->InitBitmap(rec, 4, 4), nullptr);
        g_log.clear();
    }
    void TearDown() override {
        rec->DoneBitmap(rec, bitmap);
        rec->Done(rec);
    }
    // A description the driver never draws into: no pixel work follows.
    vantu_bool Alloc(uint32_t bpp, uint32_t red, uint32_t green, uint32_t blue, int32_t sub = 0) {
        const SBitmapInfo info{640, 480, 1280, 0, bpp, red, green, blue, 0, reinterpret_cast<void *>(0xABCDEF)};
        return rec->AllocBuffer(rec, 0xABCD, sub, &info);
    }
    Log Take() { return std::exchange(g_log, Log{}); }
    SCommonRec *rec = nullptr;
    SCommonBitmap *bitmap = nullptr;
};

// Host callbacks set while not ready (nothing is called), taken up at
// readying, cleared and set again while ready, let go at unreadying; a second
// allocation while allocated only records its parameters.
TEST_F(Readiness, LifeWithAndWithoutHostCallbacks) {
    const SCommonCallbacks rows[] = {{nullptr, nullptr, 7}, {HostAlloc, HostDealloc, 7}, {HostAlloc, nullptr, 7}};
    for (const SCommonCallbacks &cb : rows) {
        const Log up = cb.allocSurfaces ? Log{"Allocating surfaces\n", "[alloc 7]", "Surfaces allocated\n"} : Log{};
        const Log down =
            cb.deallocSurfaces ? Log{"Deallocating surfaces\n", "[dealloc 7]", "Surfaces deallocated\n"} : Log{};
        ASSERT_TRUE(rec->SetCallbacks(rec, &cb, nullptr));
        EXPECT_EQ(Take(), Log{});
        ASSERT_TRUE(Alloc(16, 0xF800, 0x07E0, 0x001F));
        EXPECT_EQ(Take(), (Log{kAlloc565, kAllocating} + kReadying + up + Log{"Readied\n"}));
        EXPECT_EQ(rec->surfacesAllocated, 1);
        EXPECT_EQ(rec->allocMode, 3u);
        EXPECT_EQ(bitmap->info.bitsPerPixel, 16u);
        SCommonCallbacks old{};
        EXPECT_TRUE(rec->SetCallbacks(rec, nullptr, &old));
        EXPECT_EQ(std::memcmp(&old, &cb, sizeof old), 0);
        EXPECT_TRUE(rec->SetCallbacks(rec, &cb, nullptr));
        EXPECT_EQ(Take(), down + up);
        const SBitmapInfo second{320, 200, 1280, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0, reinterpret_cast<void *>(0x10)};
        EXPECT_TRUE(rec->AllocBuffer(rec, 0x2, -1, &second));
        EXPECT_TRUE(CommonAllocWindow(rec, 0x2, -1, 99));
        EXPECT_TRUE(CommonAllocFullScreen(rec, 0x2, -1, 1, 800, 600, 24, 2, 3));
        EXPECT_EQ(Take(), (Log{"CommonAllocBuffer: 320x200x32 - 00000010\n", "CommonAllocWindow\n",
                               "CommonAllocFullScreen: 800x600x24\n"}));
        // The last call's mode and arguments are kept; the screen, flags and conversion stay.
        EXPECT_EQ(rec->allocMode, 2u);
        EXPECT_EQ(rec->bufferInfo.width, 320u);
        EXPECT_EQ(rec->windowArg, 99u);
        EXPECT_EQ(rec->fullScreenDepth, 24u);
        EXPECT_EQ(rec->screenInfo.width, 640u);
        EXPECT_EQ(rec->allocFlags, 0xABCDu);
        EXPECT_EQ(rec->subDevice, 0);
        EXPECT_EQ(rec->GetScreenColor, CommonGetScreenColor565);
        ASSERT_TRUE(rec->Dealloc(rec));
        EXPECT_EQ(Take(), Log{"Unreadying\n"} + down + kUnreadyEnd);
        EXPECT_EQ(rec->allocated + rec->readied + rec->surfacesAllocated + bitmap->isAllocated, 0);
        EXPECT_EQ(rec->allocMode + rec->allocFlags + rec->screenInfo.bitsPerPixel, 0u);
        EXPECT_EQ(rec->bufferInfo.bits, nullptr);
        EXPECT_EQ(rec->GetScreenColor, CommonGetScreenColorFail);
    }
}

TEST_F(Readiness, SubDeviceAboveTheHighestBecomesZero) {
    const struct { int32_t highest, requested, stored; } rows[] = {{0, 5, 0}, {0, -1, -1}, {2, 2, 2}, {2, 3, 0}};
    for (const auto &row : rows) {
        rec->numSubDevices = row.highest;
        ASSERT_TRUE(Alloc(16, 0xF800, 0x07E0, 0x001F, row.requested));
        EXPECT_EQ(Take().at(1), "Allocating (flags: 0000abcd, subdev: " + std::to_string(row.stored) + ")\n");
        EXPECT_TRUE(rec->Dealloc(rec));
        Take();
    }
}

// A host that refuses its surfaces, a host that cannot let go; and what each
// failure leaves for the next step.
TEST_F(Readiness, FailuresRollBackAndLeaveTheirAfterEffects) {
    EXPECT_TRUE(rec->Dealloc(rec)) << "nothing allocated";
    EXPECT_EQ(Take(), Log{"CommonDealloc\n"});
    EXPECT_FALSE(CommonDoAllocExtSurfaces(rec)) << "not ready";
    EXPECT_FALSE(CommonDoDeallocExtSurfaces(rec)) << "not ready";

    const SCommonCallbacks cb{HostAlloc, HostDealloc, 1};
    rec->SetCallbacks(rec, &cb, nullptr), g_hostAllocOk = false;
    EXPECT_FALSE(Alloc(24, 0x0F00, 0x00F0, 0x000F));
    EXPECT_EQ(Take(), (Log{"CommonAllocBuffer: 640x480x24 - 00abcdef\n", kAllocating} + kReadying +
                       Log{"Allocating surfaces\n", "[alloc 1]", "Deallocating\n", "CommonDealloc\n"}));
    EXPECT_EQ(rec->allocated + rec->readied + rec->surfacesAllocated, 0);
    EXPECT_EQ(rec->screenBitmap, nullptr) << "the screen bitmap went again";
    EXPECT_EQ(bitmap->isAllocated, 1) << "the other bitmaps keep the failed screen's format";
    EXPECT_EQ(rec->GetScreenColor, CommonGetScreenColorRGB);
    EXPECT_EQ(rec->colourShift.blueShift, -3);
    // The next readying skips the bitmap that is still allocated, and a fixed
    // choice leaves the generic data alone.
    g_hostAllocOk = true;
    ASSERT_TRUE(Alloc(16, 0xF800, 0x07E0, 0x001F));
    EXPECT_EQ(bitmap->info.bitsPerPixel, 24u);
    EXPECT_EQ(rec->colourShift.blueShift, -3);
    g_hostDeallocOk = false, Take();
    EXPECT_FALSE(rec->Dealloc(rec));
    EXPECT_EQ(Take(), (Log{"Unreadying\n", "Deallocating surfaces\n", "[dealloc 1]", "Unreadied\n", "Deallocating\n",
                           "CommonDealloc\n"}));
    EXPECT_EQ(rec->allocated + rec->readied + rec->surfacesAllocated, 0) << "not ready any more";
    EXPECT_EQ(bitmap->isAllocated, 1) << "but the bitmaps keep their surfaces";
    EXPECT_EQ(rec->GetScreenColor, CommonGetScreenColorFail);
    EXPECT_EQ(rec->colourShift.blueShift, 0);
}

} // namespace

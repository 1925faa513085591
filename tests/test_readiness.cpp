// Allocation and readiness on a small test driver whose hooks hold the common
// functions; messages and host callbacks go to one log so their order shows.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common.h"

namespace {

using Log = std::vector<std::string>;
Log g_log;
bool g_failScreen, g_hostAllocOk, g_hostDeallocOk;

void VANTU_CALL Capture(SCommonRec *, const char *text) {
    const std::string s(text);
    EXPECT_EQ(s.rfind("VANTU: ", 0), 0u) << s;
    g_log.push_back(s.substr(7));
}
vantu_bool VANTU_CALL HostAlloc(SCommonRec *, uint32_t ud) {
    return g_log.push_back("[alloc " + std::to_string(ud) + "]"), g_hostAllocOk;
}
vantu_bool VANTU_CALL HostDealloc(SCommonRec *, uint32_t ud) {
    return g_log.push_back("[dealloc " + std::to_string(ud) + "]"), g_hostDeallocOk;
}

// The concrete half: the buffer becomes the screen, readying follows.
vantu_bool VANTU_CALL TestDoDeallocSurfaces(SCommonRec *r) {
    if (!CommonDoDeallocSurfaces(r))
        return 0;
    r->screenInfo = SBitmapInfo{};
    return 1;
}
vantu_bool VANTU_CALL TestDoAllocSurfaces(SCommonRec *r) {
    if (g_failScreen)
        return 0;
    r->screenInfo = r->bufferInfo;
    if (CommonDoAllocSurfaces(r))
        return 1;
    TestDoDeallocSurfaces(r);
    return 0;
}

const std::string kAlloc565 = "CommonAllocBuffer: 640x480x16 - 00abcdef\n";
const Log kReadying = {"Readying\n", "Allocating all bitmaps\n", "All bitmaps allocated\n"};
const Log kUnreadyEnd = {"Deallocating all bitmaps\n", "All bitmaps deallocated\n", "Unreadied\n", "Deallocating\n",
                         "CommonDealloc\n"};

Log Cat(std::initializer_list<Log> parts) {
    Log out;
    for (const Log &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

class Readiness : public ::testing::Test {
protected:
    void SetUp() override {
        g_failScreen = false;
        g_hostAllocOk = g_hostDeallocOk = true;
        rec = CommonInit(0);
        ASSERT_NE(rec, nullptr);
        rec->Dealloc = CommonDealloc;
        rec->GetBitmapInfo = CommonGetBitmapInfo;
        rec->DoAlloc = CommonDoAlloc;
        rec->DoDealloc = CommonDoDealloc;
        rec->DoAllocSurfaces = TestDoAllocSurfaces;
        rec->DoDeallocSurfaces = TestDoDeallocSurfaces;
        rec->AllocScreenBitmap = rec->AllocBitmap = CommonAllocBitmap;
        rec->DeallocScreenBitmap = rec->DeallocBitmap = CommonDeallocBitmap;
        rec->debugMsgFunc = Capture;
        bitmap = CommonInitBitmap(rec, 4, 4);
        ASSERT_NE(bitmap, nullptr);
        g_log.clear();
    }
    void TearDown() override {
        CommonDoneBitmap(rec, bitmap);
        CommonDone(rec);
    }
    vantu_bool Alloc(uint32_t bpp, uint32_t red, uint32_t green, uint32_t blue, int32_t sub = 0) {
        const SBitmapInfo info{640, 480, 1280, 0, bpp, red, green, blue, 0, reinterpret_cast<void *>(0xABCDEF)};
        return CommonAllocBuffer(rec, 0xABCD, sub, &info);
    }
    Log Take() { return std::exchange(g_log, Log{}); }
    SCommonRec *rec = nullptr;
    SCommonBitmap *bitmap = nullptr;
};

TEST_F(Readiness, AllocAndDeallocSendTheirMessagesWithAndWithoutCallbacks) {
    const struct {
        SurfaceCallbackFunc alloc, dealloc;
    } rows[] = {{nullptr, nullptr}, {HostAlloc, HostDealloc}, {HostAlloc, nullptr}};
    for (const auto &row : rows) {
        const SCommonCallbacks cb{row.alloc, row.dealloc, 7};
        ASSERT_TRUE(CommonSetCallbacks(rec, &cb, nullptr));
        EXPECT_EQ(Take(), Log{}) << "not ready: nothing is called yet";
        ASSERT_TRUE(Alloc(16, 0xF800, 0x07E0, 0x001F));
        const Log hostUp = row.alloc ? Log{"Allocating surfaces\n", "[alloc 7]", "Surfaces allocated\n"} : Log{};
        const Log hostDown = row.dealloc ? Log{"Deallocating surfaces\n", "[dealloc 7]", "Surfaces deallocated\n"} : Log{};
        EXPECT_EQ(Take(), Cat({{kAlloc565, "Allocating (flags: 0000abcd, subdev: 0)\n"}, kReadying, hostUp, {"Readied\n"}}));
        EXPECT_TRUE(rec->allocated && rec->readied && rec->surfacesAllocated);
        EXPECT_EQ(rec->allocMode, 3u);
        EXPECT_EQ(rec->GetScreenColor, CommonGetScreenColor565);
        EXPECT_TRUE(bitmap->isAllocated);
        EXPECT_EQ(bitmap->info.bitsPerPixel, 16u);

        ASSERT_TRUE(CommonDealloc(rec));
        EXPECT_EQ(Take(), Cat({{"Unreadying\n"}, hostDown, kUnreadyEnd}));
        EXPECT_FALSE(rec->allocated || rec->readied || rec->surfacesAllocated || bitmap->isAllocated);
        EXPECT_EQ(rec->GetScreenColor, CommonGetScreenColorFail);
        EXPECT_EQ(rec->allocMode + rec->allocFlags + rec->screenInfo.bitsPerPixel, 0u);
        EXPECT_EQ(rec->bufferInfo.bits, nullptr);
    }
}

TEST_F(Readiness, SubDeviceAboveTheHighestBecomesZero) {
    const struct {
        int32_t highest, requested, stored;
    } rows[] = {{0, 5, 0}, {0, -1, -1}, {0, 0, 0}, {2, 2, 2}, {2, 3, 0}};
    for (const auto &row : rows) {
        rec->numSubDevices = row.highest;
        ASSERT_TRUE(Alloc(16, 0xF800, 0x07E0, 0x001F, row.requested));
        EXPECT_EQ(rec->subDevice, row.stored);
        EXPECT_EQ(Take().at(1), "Allocating (flags: 0000abcd, subdev: " + std::to_string(row.stored) + ")\n");
        CommonDealloc(rec);
        g_log.clear();
    }
}

TEST_F(Readiness, AllocationWhileAllocatedOnlyRecordsTheNewParameters) {
    ASSERT_TRUE(Alloc(16, 0xF800, 0x07E0, 0x001F));
    g_log.clear();
    const SBitmapInfo second{320, 200, 1280, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0, reinterpret_cast<void *>(0x10)};
    EXPECT_TRUE(CommonAllocBuffer(rec, 0x2, -1, &second));
    EXPECT_TRUE(CommonAllocWindow(rec, 0x2, -1, 99));
    EXPECT_TRUE(CommonAllocFullScreen(rec, 0x2, -1, 1, 800, 600, 24, 2, 3));
    EXPECT_EQ(Take(), (Log{"CommonAllocBuffer: 320x200x32 - 00000010\n", "CommonAllocWindow\n",
                           "CommonAllocFullScreen: 800x600x24\n"}));
    EXPECT_EQ(rec->allocMode, 2u);
    EXPECT_EQ(rec->bufferInfo.width + rec->windowArg + rec->fullScreenDepth, 320u + 99u + 24u);
    EXPECT_EQ(rec->fullScreenArg * 100 + rec->fullScreenArg2 * 10 + rec->fullScreenArg3, 123u);
    EXPECT_EQ(rec->screenInfo.width, 640u);
    EXPECT_EQ(rec->allocFlags, 0xABCDu);
    EXPECT_EQ(rec->subDevice, 0);
    EXPECT_EQ(rec->GetScreenColor, CommonGetScreenColor565);
}

TEST_F(Readiness, RefusalsAndRollbacks) {
    EXPECT_TRUE(CommonDealloc(rec));
    EXPECT_FALSE(CommonAllocBuffer(rec, 0, 0, nullptr));
    EXPECT_FALSE(CommonDoAllocExtSurfaces(rec) || CommonDoDeallocExtSurfaces(rec));
    EXPECT_EQ(Take(), Log{"CommonDealloc\n"});
    EXPECT_FALSE(CommonAllocBuffer(nullptr, 0, 0, &rec->screenInfo) || CommonDealloc(nullptr) ||
                 CommonSetCallbacks(nullptr, nullptr, nullptr) || CommonDoAlloc(nullptr, 0, 0));

    g_failScreen = true; // the driver cannot set up its screen
    EXPECT_FALSE(Alloc(16, 0xF800, 0x07E0, 0x001F));
    EXPECT_EQ(Take(), (Log{kAlloc565, "Allocating (flags: 0000abcd, subdev: 0)\n", "Deallocating\n", "CommonDealloc\n"}));
    EXPECT_FALSE(rec->allocated);
    EXPECT_EQ(rec->allocMode + rec->bufferInfo.width, 0u);
}

TEST_F(Readiness, FailedHostSurfacesLeaveConversionAndBitmapsBehind) {
    const SCommonCallbacks cb{HostAlloc, HostDealloc, 1};
    CommonSetCallbacks(rec, &cb, nullptr);
    g_hostAllocOk = false;
    EXPECT_FALSE(Alloc(24, 0x0F00, 0x00F0, 0x000F));
    EXPECT_EQ(Take(), Cat({{"CommonAllocBuffer: 640x480x24 - 00abcdef\n", "Allocating (flags: 0000abcd, subdev: 0)\n"},
                           kReadying, {"Allocating surfaces\n", "[alloc 1]", "Deallocating\n", "CommonDealloc\n"}}));
    EXPECT_FALSE(rec->allocated || rec->readied || rec->surfacesAllocated);
    EXPECT_EQ(rec->GetScreenColor, CommonGetScreenColorRGB);
    EXPECT_EQ(rec->colourShift.blueShift, -3);
    EXPECT_TRUE(bitmap->isAllocated);

    // The next readying skips the bitmap that is still allocated, and a fixed
    // choice leaves the generic data alone.
    g_hostAllocOk = true;
    ASSERT_TRUE(Alloc(16, 0xF800, 0x07E0, 0x001F));
    EXPECT_EQ(bitmap->info.bitsPerPixel, 24u);
    EXPECT_EQ(rec->colourShift.blueShift, -3);

    // A host that cannot let go: not ready any more, bitmaps keep surfaces.
    g_hostDeallocOk = false;
    g_log.clear();
    EXPECT_FALSE(CommonDealloc(rec));
    EXPECT_EQ(Take(), (Log{"Unreadying\n", "Deallocating surfaces\n", "[dealloc 1]", "Unreadied\n", "Deallocating\n",
                           "CommonDealloc\n"}));
    EXPECT_FALSE(rec->allocated || rec->readied || rec->surfacesAllocated);
    EXPECT_TRUE(bitmap->isAllocated);
    EXPECT_EQ(rec->GetScreenColor, CommonGetScreenColorFail);
    EXPECT_EQ(rec->colourShift.blueShift, 0);
}

TEST_F(Readiness, SetCallbacksOnAReadyDriverSwapsTheHostSurfaces) {
    const SCommonCallbacks first{HostAlloc, HostDealloc, 1}, second{HostAlloc, HostDealloc, 2};
    CommonSetCallbacks(rec, &first, nullptr);
    ASSERT_TRUE(Alloc(8, 0, 0, 0));
    g_log.clear();
    SCommonCallbacks old{};
    EXPECT_TRUE(CommonSetCallbacks(rec, &second, &old));
    EXPECT_EQ(0, std::memcmp(&old, &first, sizeof old));
    EXPECT_EQ(Take(), (Log{"Deallocating surfaces\n", "[dealloc 1]", "Surfaces deallocated\n", "Allocating surfaces\n",
                           "[alloc 2]", "Surfaces allocated\n"}));
    // Clearing them lets go through the old ones; nothing takes the surfaces up.
    EXPECT_TRUE(CommonSetCallbacks(rec, nullptr, nullptr));
    EXPECT_EQ(Take(), (Log{"Deallocating surfaces\n", "[dealloc 2]", "Surfaces deallocated\n"}));
    EXPECT_TRUE(rec->surfacesAllocated);
    EXPECT_EQ(rec->callbacks.deallocSurfaces, nullptr);
    EXPECT_EQ(rec->callbacks.userData, 0u);
}

} // namespace

// The built memory driver as a host sees it: loaded at run time, the record
// from its one export, everything through the slots, the screen over a host buffer.
#include <vantu/driver.h>

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "host_module.h"

namespace {

using Log = std::vector<std::string>;
Log gLog;
void VANTU_CALL LogText(SCommonRec *, const char *text) { gLog.emplace_back(text); }

// A host buffer whose rows end in 6 guard bytes after the pixels.
constexpr uint8_t kGuard = 0xA5;
struct HostBuffer {
    std::vector<uint8_t> memory;
    SBitmapInfo info{};
    HostBuffer(uint32_t width, uint32_t height, uint32_t bpp, uint32_t red, uint32_t green, uint32_t blue)
        : memory(size_t((width * (bpp / 8) + 6) * height), kGuard),
          info{width, height, width * (bpp / 8) + 6, 7, bpp, red, green, blue, 9, memory.data()} {}
    uint32_t Pixel(uint32_t x, uint32_t y) const {
        uint32_t value = 0;
        std::memcpy(&value, memory.data() + y * info.pitch + x * (info.bitsPerPixel / 8), info.bitsPerPixel / 8);
        return value;
    }
    std::string AllocMessage() const {
        char text[100];
        std::snprintf(text, sizeof text, "CommonAllocBuffer: %dx%dx%d - %08" PRIxPTR "\n", int(info.width),
                      int(info.height), int(info.bitsPerPixel), reinterpret_cast<uintptr_t>(info.bits));
        return text;
    }
};

// Host surface callbacks; a wrong userData makes them fail.
struct { int calls; bool allocOk, freeOk; } gHost;
constexpr uint32_t kUserData = 0xC0FFEE;
vantu_bool VANTU_CALL HostAlloc(SCommonRec *, uint32_t ud) { return ++gHost.calls, ud == kUserData && gHost.allocOk; }
vantu_bool VANTU_CALL HostDealloc(SCommonRec *, uint32_t ud) { return ++gHost.calls, ud == kUserData && gHost.freeOk; }
const SCommonCallbacks kCallbacks = {HostAlloc, HostDealloc, kUserData};

class Host : public ::testing::Test {
    void SetUp() override { ASSERT_NE(DriverInit(), nullptr) << "cannot load " << HostModule::HostLibraryPath(); }
};

TEST_F(Host, TypicalLifeSendsTheMessagesInOrder) {
    // Lines starting with '?' come only with host callbacks installed.
    const Log readying = {"Readying\n", "Allocating all bitmaps\n", "All bitmaps allocated\n",
                          "?Allocating surfaces\n", "?Surfaces allocated\n", "Readied\n"};
    const Log unreadying = {"Unreadying\n", "?Deallocating surfaces\n", "?Surfaces deallocated\n",
                            "Deallocating all bitmaps\n", "All bitmaps deallocated\n", "Unreadied\n",
                            "Deallocating\n", "CommonDealloc\n"};
    for (const bool callbacks : {false, true}) {
        SCOPED_TRACE(callbacks ? "with host callbacks" : "without host callbacks");
        gLog.clear();
        gHost = {0, true, true};
        HostBuffer first(8, 4, 16, 0xF800, 0x07E0, 0x001F), second(3, 5, 32, 0xFF0000, 0xFF00, 0xFF);
        Log want;
        for (const Log &part : {Log{"Initializing: Memory screen driver (version: 2, build: 2)\n"},
                                Log{first.AllocMessage(), "Allocating (flags: 00000012, subdev: 0)\n"}, readying,
                                unreadying, Log{second.AllocMessage(), "Allocating (flags: 00000000, subdev: -1)\n"},
                                readying, unreadying, Log{"Finalizing: Memory screen driver\n"}})
            for (const std::string &line : part)
                if (line[0] != '?' || callbacks)
                    want.push_back("VANTU: " + line.substr(line[0] == '?' ? 1 : 0));

        SCommonRec *r = DriverInit()(0x1234, LogText);
        ASSERT_NE(r, nullptr);
        EXPECT_FALSE(r->AllocWindow(r, 0, 0, 0) || r->AllocFullScreen(r, 0, 0, 0, 640, 480, 16, 0, 0));
        EXPECT_TRUE(!callbacks || r->SetCallbacks(r, &kCallbacks, nullptr));
        ASSERT_TRUE(r->AllocBuffer(r, 0x12, 5, &first.info)); // sub-device 5 is above numSubDevices: 0
        EXPECT_TRUE(r->Dealloc(r));
        ASSERT_TRUE(r->AllocBuffer(r, 0, -1, &second.info));
        EXPECT_TRUE(r->Done(r)); // still allocated: Done deallocates first
        EXPECT_EQ(gLog, want);
        EXPECT_EQ(gHost.calls, callbacks ? 4 : 0);
    }
}

TEST_F(Host, ScreenIsTheHostsBufferForEachFormat) {
    std::pair<HostBuffer, uint32_t> cases[] = { // each with the pixel value of full red on it
        {HostBuffer(5, 3, 16, 0x7C00, 0x03E0, 0x001F), 0x7C00},
        {HostBuffer(7, 2, 16, 0xF800, 0x07E0, 0x001F), 0xF800},
        {HostBuffer(4, 4, 32, 0xFF0000, 0xFF00, 0xFF), 0xFE0000},
        {HostBuffer(6, 3, 32, 0x3FF00000, 0xFFC00, 0x3FF), 0x3F800000},
    };
    SCommonRec *r = DriverInit()(0, LogText);
    ASSERT_NE(r, nullptr);
    SCommonBitmap *const placeholder = r->screenBitmap;
    // One record through every format in turn: each Dealloc must leave it ready for the next.
    for (auto &[buffer, red] : cases) {
        SCOPED_TRACE(::testing::Message() << "red " << std::hex << red);
        const SBitmapInfo &desc = buffer.info;
        ASSERT_TRUE(r->AllocBuffer(r, 0, 0, &desc));
        SCommonBitmap *screen = r->screenBitmap;
        ASSERT_TRUE(screen != nullptr && screen != placeholder);
        EXPECT_TRUE(screen->info.bits == desc.bits && !std::memcmp(&screen->info, &desc, offsetof(SBitmapInfo, formatOpaque2) + sizeof(uint32_t)));
        EXPECT_EQ(r->GetScreenColor(r, screen, 0x7F), red);
        const uint32_t value = r->GetScreenColor(r, screen, 0x102030);
        ASSERT_TRUE(r->ClearBitmap(r, screen, value));
        for (uint32_t y = 0; y < desc.height; ++y) {
            for (uint32_t x = 0; x < desc.width; ++x)
                ASSERT_EQ(buffer.Pixel(x, y), value) << x << "," << y;
            for (uint32_t i = desc.width * desc.bitsPerPixel / 8; i < desc.pitch; ++i)
                ASSERT_EQ(buffer.memory[y * desc.pitch + i], kGuard) << "row " << y << " byte " << i;
        }
        EXPECT_TRUE(r->Dealloc(r));
        EXPECT_TRUE(!r->screenBitmap && r->bitmaps.first == &placeholder->link && !placeholder->link.next)
            << "the released screen is gone, only the placeholder is left";
    }
    EXPECT_TRUE(r->Done(r));
}

// A host that cannot set its surfaces up leaves no screen; one that cannot let
// go keeps the screen bitmap through Dealloc, the next AllocBuffer supersedes
// it, and Done frees it (the sanitizer build reports the leak otherwise).
TEST_F(Host, ScreenKeptByARefusedUnreadyingIsFreedAtDone) {
    HostBuffer buffer(4, 4, 32, 0xFF0000, 0xFF00, 0xFF);
    SCommonRec *r = DriverInit()(0, nullptr);
    ASSERT_TRUE(r != nullptr && r->SetCallbacks(r, &kCallbacks, nullptr));
    SCommonBitmap *const placeholder = r->screenBitmap;
    gHost = {0, false, true};
    EXPECT_FALSE(r->AllocBuffer(r, 0, 0, &buffer.info));
    EXPECT_TRUE(!r->screenBitmap && r->bitmaps.first == &placeholder->link && !placeholder->link.next);
    gHost.allocOk = true;
    ASSERT_TRUE(r->AllocBuffer(r, 0, 0, &buffer.info));
    SCommonBitmap *const kept = r->screenBitmap;
    gHost.freeOk = false;
    EXPECT_FALSE(r->Dealloc(r));
    EXPECT_EQ(r->screenBitmap, kept);
    gHost.freeOk = true;
    ASSERT_TRUE(r->AllocBuffer(r, 0, 0, &buffer.info));
    EXPECT_NE(r->screenBitmap, kept);
    EXPECT_TRUE(r->Done(r));
}

} // namespace

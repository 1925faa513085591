// The built memory driver as a host sees it: loaded at run time, the record
// from its one export, everything through the slots, the screen over a host buffer.
#include <vantu/driver.h>

#include <gtest/gtest.h>

#include "support.h"

#include <algorithm>
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

// Careless hosts, one named case each: what once crashed the driver, wrote
// outside a buffer or freed memory twice. The sanitizer build checks the
// memory; the expectations check the results.
SCommonRec *gReentered = nullptr;
const char *gClearAt = "ing surfaces"; // "Allocating surfaces", "Deallocating surfaces"
void VANTU_CALL ClearCallbacksOnSurfaces(SCommonRec *r, const char *text) {
    if (std::strstr(text, gClearAt) != nullptr)
        gReentered = r, r->SetCallbacks(r, nullptr, nullptr);
}

void BottomUpBuffer() {
    // Rows from the last in memory to the first: bits at buf[12], pitch -16.
    uint32_t buf[16] = {};
    const SBitmapInfo desc = {4, 4, 0u - 16u, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0, &buf[12]};
    SCommonRec *r = DriverInit()(0, nullptr);
    ASSERT_TRUE(r->AllocBuffer(r, 0, 0, &desc));
    ASSERT_TRUE(r->ClearBitmap(r, r->screenBitmap, 7));
    EXPECT_EQ(std::count(buf, buf + 16, 7u), 16);
    uint32_t sprite[4] = {1, 2, 0, 4}; // 2x2, top-down
    SCommonBitmap *b = r->InitBitmap(r, 2, 2);
    SBitmapInfo *info = r->GetBitmapInfo(r, b);
    info->pitch = 8, info->bits = sprite;
    ASSERT_TRUE(r->LockBitmap(r, b) && r->UnlockBitmap(r, b));
    ASSERT_TRUE(r->CopyBitmap(r, r->screenBitmap, b, 0, 0, 1, 2, 0, 0, 1));
    const uint32_t want[16] = {7, 7, 4, 7, 7, 1, 2, 7, 7, 7, 7, 7, 7, 7, 7, 7}; // row 2 at buf[4], row 3 at buf[0]
    EXPECT_TRUE(std::equal(buf, buf + 16, want));
    EXPECT_TRUE(r->DoneBitmap(r, b) && r->Done(r));
}

void NegativeSizes() {
    std::vector<uint8_t> storage(64, kGuard), screen(64);
    const SBitmapInfo desc = {4, 4, 16, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0, screen.data()};
    SCommonRec *r = DriverInit()(0, nullptr);
    ASSERT_TRUE(r->AllocBuffer(r, 0, 0, &desc) && r->ClearBitmap(r, r->screenBitmap, 0x55555555));
    SCommonBitmap *made = r->InitBitmap(r, -3, 4), *written = r->InitBitmap(r, 4, 4);
    r->GetBitmapInfo(r, written)->width = 0u - 3u;
    for (SCommonBitmap *b : {made, written}) {
        SBitmapInfo *info = r->GetBitmapInfo(r, b);
        info->pitch = 16, info->bits = storage.data();
        EXPECT_TRUE(r->ClearBitmap(r, b, 0x1234)) << "nothing to clear is no failure";
        EXPECT_TRUE(r->CopyEntireBitmap(r, b, r->screenBitmap, 0, 0, 0));
        EXPECT_TRUE(r->CopyEntireBitmap(r, r->screenBitmap, b, 0, 0, 0));
        EXPECT_TRUE(r->DoneBitmap(r, b));
    }
    EXPECT_EQ(std::count(storage.begin(), storage.end(), kGuard), 64);
    EXPECT_EQ(std::count(screen.begin(), screen.end(), 0x55), 64);
    EXPECT_TRUE(r->Done(r));
}

void PlaceholderKeptByARaisedCount() {
    for (const bool giveUp : {false, true}) {
        HostBuffer buffer(4, 4, 32, 0xFF0000, 0xFF00, 0xFF);
        SCommonRec *r = DriverInit()(0, nullptr);
        SCommonBitmap *const placeholder = r->screenBitmap;
        r->header.refCount = 2;
        ASSERT_TRUE(r->AllocBuffer(r, 0, 0, &buffer.info) && r->Done(r));
        EXPECT_EQ(r->bitmaps.first, &placeholder->link) << "still listed after the first Done";
        EXPECT_EQ(placeholder->header.refCount, 1);
        EXPECT_TRUE(!giveUp || r->DoneBitmap(r, placeholder));
        EXPECT_TRUE(r->Done(r));
    }
}

void CallbacksClearedByTheDebugFunction() {
    HostBuffer buffer(4, 4, 32, 0xFF0000, 0xFF00, 0xFF);
    gHost = {0, true, true};
    // Cleared between a callback's message and its call, or while unreadying
    // walks the bitmaps, when the driver is still ready.
    for (const auto [atAlloc, at] : {std::pair{true, "ing surfaces"}, {false, "ing surfaces"}, {false, "all bitmaps"}}) {
        gClearAt = at;
        SCommonRec *r = DriverInit()(0, nullptr);
        ASSERT_TRUE(r->SetCallbacks(r, &kCallbacks, nullptr));
        r->SetDebugMsgFunc(r, atAlloc ? ClearCallbacksOnSurfaces : nullptr);
        EXPECT_TRUE(r->AllocBuffer(r, 0, 0, &buffer.info));
        r->SetDebugMsgFunc(r, ClearCallbacksOnSurfaces);
        EXPECT_TRUE(r->Dealloc(r));
        EXPECT_EQ(gReentered, r);
        EXPECT_EQ(gHost.calls, atAlloc ? 0 : at[0] == 'i' ? 1 : 2) << "a cleared callback is not called";
        EXPECT_FALSE(r->surfacesAllocated) << "not taken up again by a driver that is no longer ready";
        EXPECT_TRUE(r->Done(r));
        gHost.calls = 0, gReentered = nullptr;
    }
}

void FormerScreenKeptByTheHost() {
    HostBuffer small(32, 32, 32, 0xFF0000, 0xFF00, 0xFF), large(128, 128, 32, 0xFF0000, 0xFF00, 0xFF);
    SCommonRec *r = DriverInit()(0, nullptr);
    ASSERT_TRUE(r->AllocBuffer(r, 0, 0, &small.info));
    SCommonBitmap *kept = r->screenBitmap;
    ++kept->header.refCount;
    ASSERT_TRUE(r->Dealloc(r));
    EXPECT_EQ(kept->info.bits, nullptr) << "it no longer describes the host's buffer";
    EXPECT_EQ(kept->info.pitch, 0u);
    ASSERT_TRUE(r->AllocBuffer(r, 0, 0, &large.info));
    EXPECT_EQ(kept->info.width, 128u) << "it still follows the screen's size";
    EXPECT_FALSE(r->ClearBitmap(r, kept, 1));
    EXPECT_EQ(std::count(small.memory.begin(), small.memory.end(), kGuard), std::ssize(small.memory));
    EXPECT_TRUE(r->DoneBitmap(r, kept) && r->Done(r));
}

void PaletteSharedBetweenRecords() {
    HostBuffer buffer(4, 4, 8, 0, 0, 0);
    SCommonRec *a = DriverInit()(0, nullptr), *b = DriverInit()(0, nullptr);
    const uint32_t colours[2] = {0, 0x7F7F7F};
    SCommonPalette *p = a->InitPalette(a, colours, 2);
    ASSERT_TRUE(b->AllocBuffer(b, 0, 0, &buffer.info) && b->SetBitmapPalette(b, b->screenBitmap, p));
    EXPECT_EQ(b->GetScreenColor(b, b->screenBitmap, 0x7F7F7F), 1u);
    EXPECT_TRUE(a->DonePalette(a, p) && a->Done(a));
    EXPECT_EQ(p->link.list, nullptr) << "detached when its record went";
    EXPECT_TRUE(b->Dealloc(b)) << "the last release of the palette touches no freed record";
    EXPECT_TRUE(b->Done(b));
}

void ScrollThroughASecondBitmap() {
    // Rows of 1200 bytes (the library copy's range) and of 40, moved by a
    // pixel or a row each way through a bitmap over the screen's buffer.
    for (const uint32_t width : {300u, 10u})
        for (const auto [dx, dy] : {std::pair{-1, 0}, {1, 0}, {0, -1}, {1, 1}})
            for (const bool keyed : {false, true}) {
                SCOPED_TRACE(testing::Message() << width << " by " << dx << "," << dy << (keyed ? " keyed" : ""));
                HostBuffer buffer(width, 3, 32, 0xFF0000, 0xFF00, 0xFF);
                for (size_t i = 0; i < buffer.memory.size(); ++i)
                    buffer.memory[i] = uint8_t(i % 3 == 0 ? 0 : i * 7);
                std::vector<uint8_t> want = buffer.memory;
                SCommonRec *r = DriverInit()(0, nullptr);
                ASSERT_TRUE(r->AllocBuffer(r, 0, 0, &buffer.info));
                SCommonBitmap *alias = r->InitBitmap(r, int32_t(width), 3);
                SBitmapInfo *info = r->GetBitmapInfo(r, alias);
                info->pitch = buffer.info.pitch, info->bits = buffer.info.bits;
                ASSERT_TRUE(r->LockBitmap(r, alias) && r->UnlockBitmap(r, alias));
                SBitmapInfo model = buffer.info;
                model.bits = want.data();
                vantu::test::ModelCopy(model, model, 0, 0, dx, dy, 0, 0, keyed);
                ASSERT_TRUE(r->CopyEntireBitmap(r, r->screenBitmap, alias, dx, dy, keyed));
                EXPECT_EQ(buffer.memory, want);
                EXPECT_TRUE(r->DoneBitmap(r, alias) && r->Done(r));
            }
}

// A host that cannot let go of its surfaces keeps the screen bitmap through
// Dealloc; the next AllocBuffer supersedes it (it stops describing the old
// buffer) and Done frees it. A Done that finds it kept so and leaves the
// record alive leaves no screen to describe.
void ScreenKeptByARefusedUnreadying() {
    HostBuffer buffer(4, 4, 32, 0xFF0000, 0xFF00, 0xFF);
    SCommonRec *r = DriverInit()(0, nullptr);
    ASSERT_TRUE(r->SetCallbacks(r, &kCallbacks, nullptr));
    gHost = {0, true, false};
    ASSERT_TRUE(r->AllocBuffer(r, 0, 0, &buffer.info));
    SCommonBitmap *const kept = r->screenBitmap;
    EXPECT_FALSE(r->Dealloc(r));
    EXPECT_EQ(r->screenBitmap, kept);
    gHost.freeOk = true;
    ASSERT_TRUE(r->AllocBuffer(r, 0, 0, &buffer.info));
    EXPECT_TRUE(r->screenBitmap != kept && kept->info.bits == nullptr);
    gHost.freeOk = false, r->header.refCount = 2;
    EXPECT_TRUE(r->Done(r));
    EXPECT_TRUE(!r->screenBitmap && !r->screenInfo.bits && !r->screenInfo.width && !r->screenInfo.height);
    SCommonBitmap *const sized = r->InitScreenBitmap(r);
    EXPECT_EQ(sized->info.width, 0u) << "no screen to take the size of";
    EXPECT_TRUE(r->DoneBitmap(r, sized) && r->Done(r));
}

TEST_F(Host, CarelessHosts) {
    const struct { const char *name; void (*run)(); } cases[] = {
        {"bottom-up buffer", BottomUpBuffer},
        {"sizes that read negative", NegativeSizes},
        {"placeholder kept by a raised count", PlaceholderKeptByARaisedCount},
        {"callbacks cleared by the debug function", CallbacksClearedByTheDebugFunction},
        {"former screen kept by the host", FormerScreenKeptByTheHost},
        {"palette shared between records", PaletteSharedBetweenRecords},
        {"scroll through a second bitmap", ScrollThroughASecondBitmap},
        {"screen kept by a refused unreadying", ScreenKeptByARefusedUnreadying},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        c.run();
    }
}

} // namespace

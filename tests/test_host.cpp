// The built memory driver as a host sees it: loaded at run time (host_module.h:
// the Linux library, the Windows DLL, or the 32-bit DLL through the test PE
// loader), the record from its one export, everything through the slots.
#include <vantu/driver.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#if defined(__linux__) && !defined(VANTU_HOST_PE_LOADER)
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include "host_module.h"
#include "support.h"

namespace {

using Clock = std::chrono::steady_clock;
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
    std::string AllocMessage() const {
        char text[100];
        std::snprintf(text, sizeof text, "CommonAllocBuffer: %dx%dx%d - %08" PRIxPTR "\n", int(info.width),
                      int(info.height), int(info.bitsPerPixel), reinterpret_cast<uintptr_t>(info.bits));
        return text;
    }
};

// Host surface callbacks; a wrong userData makes them fail.
struct {
    int calls;
    bool allocOk, freeOk;
    int allocs; // of the calls, those of allocSurfaces
} gHost;
constexpr uint32_t kUserData = 0xC0FFEE;
vantu_bool VANTU_CALL HostAlloc(SCommonRec *, uint32_t ud) {
    return ++gHost.calls, ++gHost.allocs, ud == kUserData && gHost.allocOk;
}
vantu_bool VANTU_CALL HostDealloc(SCommonRec *, uint32_t ud) {
    return ++gHost.calls, ud == kUserData && gHost.freeOk;
}
const SCommonCallbacks kCallbacks = {HostAlloc, HostDealloc, kUserData};

// A bitmap of `r` over host memory that `info` describes, initialized without a write.
SCommonBitmap *HostBitmap(SCommonRec *r, const SBitmapInfo &info) {
    SCommonBitmap *b = r->InitBitmap(r, int32_t(info.width), int32_t(info.height));
    SBitmapInfo *mine = r->LockBitmap(r, b);
    mine->pitch = info.pitch, mine->bits = info.bits;
    r->UnlockBitmap(r, b);
    return b;
}

class Host : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(DriverInit(), nullptr) << "cannot load " << HostModule::HostLibraryPath();
        r = DriverInit()(0, nullptr);
    }
    void TearDown() override { EXPECT_TRUE(r->Done(r)); }
    SCommonRec *r = nullptr;
};

TEST_F(Host, TypicalLifeSendsTheMessagesInOrder) {
    // Lines starting with '?' come only with host callbacks installed.
    const Log readying = {"Readying\n",
                          "Allocating all bitmaps\n",
                          "All bitmaps allocated\n",
                          "?Allocating surfaces\n",
                          "?Surfaces allocated\n",
                          "Readied\n"};
    const Log unreadying = {"Unreadying\n",
                            "?Deallocating surfaces\n",
                            "?Surfaces deallocated\n",
                            "Deallocating all bitmaps\n",
                            "All bitmaps deallocated\n",
                            "Unreadied\n",
                            "Deallocating\n",
                            "CommonDealloc\n"};
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
        SCommonRec *own = DriverInit()(0x1234, LogText);
        EXPECT_FALSE(own->AllocWindow(own, 0, 0, 0));
        EXPECT_FALSE(own->AllocFullScreen(own, 0, 0, 0, 640, 480, 16, 0, 0));
        if (callbacks)
            EXPECT_TRUE(own->SetCallbacks(own, &kCallbacks, nullptr));
        ASSERT_TRUE(own->AllocBuffer(own, 0x12, 5, &first.info)); // sub-device 5 is above numSubDevices: 0
        EXPECT_TRUE(own->Dealloc(own));
        ASSERT_TRUE(own->AllocBuffer(own, 0, -1, &second.info));
        EXPECT_TRUE(own->Done(own)); // still allocated: Done deallocates first
        EXPECT_EQ(gLog, want);
        EXPECT_EQ(gHost.calls, callbacks ? 4 : 0);
    }
}

// One record through every screen format in turn (each Dealloc must leave it
// ready for the next): the conversion the format chooses, and clipped opaque
// and keyed copies with rows long enough for every vector loop, against the
// plain model; the guards must survive.
TEST_F(Host, EveryScreenFormat) {
    using namespace vantu::test;
    const struct {
        uint32_t bpp, masks[3], red; // red: the pixel value of full red
    } formats[] = {{8, {0, 0, 0}, 0},
                   {16, {0x7C00, 0x03E0, 0x001F}, 0x7C00},
                   {16, {0xF800, 0x07E0, 0x001F}, 0xF800},
                   {24, {0xFF0000, 0xFF00, 0xFF}, 0xFE0000},
                   {32, {0x3FF00000, 0xFFC00, 0x3FF}, 0x3F800000}};
    SCommonBitmap *const placeholder = r->screenBitmap;
    for (const auto &f : formats) {
        const uint32_t bpp = f.bpp, p = bpp / 8;
        SCOPED_TRACE(::testing::Message() << bpp << " bits per pixel, red " << std::hex << f.red);
        Arena arena(Extent(100 * p + 3, 9, 100 * p + 3) + Extent(70 * p, 5, 70 * p)), model(arena.Size());
        for (size_t i = 0; i < arena.Size(); ++i) // every third byte 0: transparent pixels and partly-zero ones
            arena.Data()[i] = uint8_t(i % 3 == 0 ? 0 : 1 + i * 7);
        SBitmapInfo screen = Describe(arena, 0, 100, 9, bpp, 100 * p + 3, bpp == 16);
        screen.redMask = f.masks[0], screen.greenMask = f.masks[1], screen.blueMask = f.masks[2];
        const SBitmapInfo sprite =
            Describe(arena, Extent(100 * p + 3, 9, 100 * p + 3), 70, 5, bpp, 70 * p, bpp == 24);
        ASSERT_TRUE(r->AllocBuffer(r, 0, 0, &screen));
        EXPECT_EQ(std::memcmp(&r->screenBitmap->info, &screen, offsetof(SBitmapInfo, formatOpaque2) + 4), 0);
        EXPECT_EQ(r->screenBitmap->info.bits, screen.bits) << "the host's buffer is the screen";
        if (bpp != 8)
            EXPECT_EQ(r->GetScreenColor(r, r->screenBitmap, 0x7F), f.red);
        SCommonBitmap *const bmp = HostBitmap(r, sprite);
        EXPECT_EQ(bmp->info.bitsPerPixel, bpp) << "the bitmap takes the screen's format";
        model.bytes = arena.bytes;
        ASSERT_TRUE(r->ClearBitmap(r, r->screenBitmap, 0x5A3C1E));
        ModelClear(Rebase(screen, arena, model), 0x5A3C1E);
        const struct {
            int32_t sx, sy, dx, dy, w, h;
            bool keyed;
        } copies[] = {
            {3, 1, -2, 6, 60, 4, false}, // cut left and bottom
            {0, 0, 67, -2, 0, 0, true},  // the source's size, cut right and top
            {1, 0, 5, 0, 70, 1, true},   // one row, cut by the source's right edge
        };
        for (const auto &c : copies) {
            ASSERT_TRUE(r->CopyBitmap(r, r->screenBitmap, bmp, c.sx, c.sy, c.dx, c.dy, c.w, c.h, c.keyed));
            ModelCopy(Rebase(screen, arena, model), Rebase(sprite, arena, model), c.sx, c.sy, c.dx, c.dy, c.w, c.h,
                      c.keyed);
            ASSERT_EQ(arena.bytes, model.bytes) << "copy to " << c.dx << "," << c.dy;
        }
        EXPECT_TRUE(r->DoneBitmap(r, bmp));
        EXPECT_TRUE(r->Dealloc(r));
        EXPECT_EQ(r->screenBitmap, nullptr);
        EXPECT_EQ(r->bitmaps.first, &placeholder->link) << "the released screen is gone";
        EXPECT_EQ(r->bitmaps.last, &placeholder->link);
    }
}

TEST_F(Host, PalettesAndBitmapsCountTheirReferences) {
    std::vector<uint8_t> pixels(16 * 4);
    const SBitmapInfo desc{16, 4, 16, 0, 8, 0, 0, 0, 0, pixels.data()};
    ASSERT_TRUE(r->AllocBuffer(r, 0, 0, &desc));
    const uint32_t colours[] = {0x000000, 0x7F0000, 0x00007F, 0x404040};
    SCommonPalette *const palette = r->InitPalette(r, colours, 4);
    SCommonBitmap *const bitmap = r->InitBitmap(r, 8, 8);
    EXPECT_EQ(palette->entries[4], 0u);
    ASSERT_TRUE(r->SetBitmapPalette(r, bitmap, palette));
    ASSERT_TRUE(r->SetBitmapPalette(r, bitmap, palette));
    EXPECT_EQ(palette->header.refCount, 2) << "the creator and the bitmap, once";
    EXPECT_EQ(r->GetScreenColor(r, bitmap, 0x3F4241), 3u) << "the nearest entry of the bitmap's palette";
    EXPECT_TRUE(r->DonePalette(r, palette));
    bitmap->header.refCount++; // a second holder of the bitmap
    EXPECT_TRUE(r->DoneBitmap(r, bitmap));
    EXPECT_EQ(palette->header.refCount, 1) << "the palette goes only with the bitmap's last reference";
    EXPECT_TRUE(r->DoneBitmap(r, bitmap));
    EXPECT_EQ(r->palettes.first, nullptr) << "the last reference freed the palette";
    EXPECT_FALSE(r->DoneBitmap(r, r->screenBitmap)) << "the screen bitmap is the driver's";
}

vantu_bool VANTU_CALL RefuseRestore(SCommonRec *) { return 0; }

// DrawBegin and presenting need the RestoreLostSurfaces hook's consent and no
// drawing in progress; Sync needs a ready driver and no drawing.
TEST_F(Host, DrawingPresentingAndSync) {
    std::vector<uint32_t> pixels(4 * 4);
    const SBitmapInfo desc{4, 4, 16, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0, pixels.data()};
    const struct {
        bool ready, drawing, hookRefuses;
        vantu_bool flip, sync;
    } cases[] = {{true, true, false, 0, 0},   {false, true, false, 0, 0}, {true, false, false, 1, 1},
                 {false, false, false, 1, 0}, {true, false, true, 0, 1},  {false, false, true, 0, 0}};
    const RestoreLostSurfacesFunc restore = r->RestoreLostSurfaces;
    EXPECT_FALSE(r->DrawEnd(r)) << "DrawEnd without DrawBegin";
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "ready " << c.ready << " drawing " << c.drawing << " hook refuses "
                                        << c.hookRefuses);
        if (c.ready)
            ASSERT_TRUE(r->AllocBuffer(r, 0, 0, &desc));
        if (c.drawing)
            ASSERT_EQ(r->DrawBegin(r), &r->version);
        if (c.hookRefuses)
            r->RestoreLostSurfaces = RefuseRestore;
        if (c.drawing || c.hookRefuses)
            EXPECT_EQ(r->DrawBegin(r), nullptr) << "drawing already, or the hook refuses";
        EXPECT_EQ(r->Flip(r), c.flip);
        EXPECT_EQ(r->FlipToPrimary(r), c.flip);
        EXPECT_EQ(r->Sync(r), c.sync);
        r->RestoreLostSurfaces = restore;
        EXPECT_EQ(r->DrawEnd(r), c.drawing ? 1 : 0);
        if (c.ready)
            EXPECT_TRUE(r->Dealloc(r));
    }
}

// DrawBegin tests its flag, calls RestoreLostSurfaces, then waits for the
// mutex. A hook that holds a second thread at that point, until released,
// lets it pass the flag test while the first thread draws.
std::thread::id gFirst;
std::atomic<bool> gArrived, gReleased;
RestoreLostSurfacesFunc gRestore;
vantu_bool VANTU_CALL HoldSecondDrawer(SCommonRec *record) {
    if (std::this_thread::get_id() != gFirst) {
        gArrived = true;
        while (!gReleased)
            std::this_thread::yield();
    }
    return gRestore(record);
}

// A second drawer passes the flag test while the first draws; the first
// either ends within 300 ms or keeps drawing past the 10-second wait.
void SecondDrawer(SCommonRec *r, bool firstEnds) {
    gFirst = std::this_thread::get_id(), gArrived = gReleased = false;
    gRestore = std::exchange(r->RestoreLostSurfaces, HoldSecondDrawer);
    void *second = nullptr;
    Clock::time_point returned;
    std::thread drawer([&] {
        if ((second = r->DrawBegin(r)) != nullptr)
            r->DrawEnd(r);
        returned = Clock::now();
    });
    while (!gArrived)
        std::this_thread::yield();
    ASSERT_EQ(r->DrawBegin(r), &r->version);
    gReleased = true;
    const Clock::time_point released = Clock::now();
    if (firstEnds) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const Clock::time_point ended = Clock::now();
        EXPECT_TRUE(r->DrawEnd(r));
        drawer.join();
        EXPECT_EQ(second, &r->version);
        EXPECT_GE(returned, ended) << "the second drawer did not wait for DrawEnd";
    } else {
        drawer.join();
        EXPECT_EQ(second, nullptr);
        EXPECT_GE(std::chrono::duration<double>(returned - released).count(), 9.9);
        EXPECT_TRUE(r->DrawEnd(r));
    }
    r->RestoreLostSurfaces = gRestore;
}

TEST_F(Host, SecondDrawerWaitsForDrawEnd) { SecondDrawer(r, true); }

// Apart from Host, so that repeated runs can leave its 10 s out.
using HostTimeOut = Host;
TEST_F(HostTimeOut, SecondDrawerGivesUpAfterTenSeconds) { SecondDrawer(r, false); }

TEST_F(Host, DrawerEndingWithoutDrawEndAbandonsTheLock) {
#if defined(__linux__) && !defined(VANTU_HOST_PE_LOADER)
    // The POSIX build sees a dead owner through robust futexes, which
    // user-mode qemu (the 32-bit runs) does not offer.
    void *head = nullptr;
    size_t length = 0;
    if (syscall(SYS_get_robust_list, 0, &head, &length) != 0)
        GTEST_SKIP() << "robust futexes are unavailable (user-mode emulation): a dead owner cannot be detected";
#endif
    std::thread([this] { EXPECT_EQ(r->DrawBegin(r), &r->version); }).join();
    EXPECT_EQ(r->DrawBegin(r), nullptr) << "still drawing";
    EXPECT_TRUE(r->DrawEnd(r)) << "ends the drawing whose thread ended without DrawEnd";
    EXPECT_FALSE(r->drawing);
    void *other = nullptr;
    std::thread([this, &other] {
        if ((other = r->DrawBegin(r)) != nullptr)
            r->DrawEnd(r);
    }).join();
    EXPECT_EQ(other, &r->version) << "the lock is free again";
}

// Only the drawing thread ends its drawing: DrawEnd from any other thread
// is refused and changes nothing, so the drawer's own DrawEnd still
// releases and the next drawer gets the lock at once.
TEST_F(Host, DrawEndFromAnotherThreadChangesNothing) {
    ASSERT_EQ(r->DrawBegin(r), &r->version);
    vantu_bool ended = 1;
    std::thread([&] { ended = r->DrawEnd(r); }).join();
    EXPECT_FALSE(ended);
    EXPECT_TRUE(r->drawing);
    EXPECT_FALSE(r->Flip(r)) << "still drawing";
    EXPECT_TRUE(r->DrawEnd(r)) << "the drawer's own DrawEnd releases";
    const Clock::time_point start = Clock::now();
    void *next = nullptr;
    std::thread([&] {
        if ((next = r->DrawBegin(r)) != nullptr)
            EXPECT_TRUE(r->DrawEnd(r));
    }).join();
    EXPECT_EQ(next, &r->version);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5)) << "the next drawer did not wait for a lock left held";
}

// Threads meet where a host may let them: several drawers in DrawBegin at
// once (at most one draws at a time; the others fail or wait), and several
// records made and ended at once, each with its own debug function. The
// thread sanitizer's run of these is the point.
std::atomic<int> gInside{0}, gMostInside{0};
void VANTU_CALL CountMessage(SCommonRec *, const char *) {}
void VANTU_CALL CountMessageToo(SCommonRec *, const char *) {}

TEST_F(Host, ThreadsMeetInDrawBeginAndInTheEntryPoint) {
    std::vector<std::thread> threads;
    std::atomic<int> drew{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 300; ++i)
                if (r->DrawBegin(r) != nullptr) {
                    const int inside = ++gInside;
                    gMostInside = std::max(gMostInside.load(), inside);
                    --gInside;
                    ++drew;
                    EXPECT_TRUE(r->DrawEnd(r));
                }
        });
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 50; ++i) {
                SCommonRec *own = DriverInit()(uint32_t(t), t % 2 ? CountMessage : CountMessageToo);
                ASSERT_NE(own, nullptr);
                EXPECT_TRUE(own->Done(own));
            }
        });
    for (std::thread &t : threads)
        t.join();
    EXPECT_GT(drew, 0);
    EXPECT_EQ(gMostInside, 1) << "two threads drew at once";
    EXPECT_FALSE(r->drawing);
}

// ---- Careless hosts, one named case each: what once crashed the driver, wrote
// outside a buffer or freed memory twice. The sanitizer build checks the
// memory; the expectations check the results.

SCommonRec *gReentered = nullptr;
const char *gClearAt = "ing surfaces"; // "Allocating surfaces", "Deallocating surfaces"
void VANTU_CALL ClearCallbacksOnSurfaces(SCommonRec *record, const char *text) {
    if (std::strstr(text, gClearAt) != nullptr)
        gReentered = record, record->SetCallbacks(record, nullptr, nullptr);
}

void BottomUpBuffer(SCommonRec *r) {
    // Rows from the last in memory to the first: bits at buf[12], pitch -16.
    uint32_t buf[16] = {};
    const SBitmapInfo desc = {4, 4, 0u - 16u, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0, &buf[12]};
    ASSERT_TRUE(r->AllocBuffer(r, 0, 0, &desc));
    ASSERT_TRUE(r->ClearBitmap(r, r->screenBitmap, 7));
    EXPECT_EQ(std::count(buf, buf + 16, 7u), 16);
    uint32_t sprite[4] = {1, 2, 0, 4}; // 2x2, top-down
    SCommonBitmap *b = HostBitmap(r, SBitmapInfo{2, 2, 8, 0, 32, 0, 0, 0, 0, sprite});
    ASSERT_TRUE(r->CopyBitmap(r, r->screenBitmap, b, 0, 0, 1, 2, 0, 0, 1));
    const uint32_t want[16] = {7, 7, 4, 7, 7, 1, 2, 7, 7, 7, 7, 7, 7, 7, 7, 7}; // row 2 at buf[4], row 3 at buf[0]
    EXPECT_TRUE(std::equal(buf, buf + 16, want));
    EXPECT_TRUE(r->DoneBitmap(r, b));
}

void NegativeSizes(SCommonRec *r) {
    std::vector<uint8_t> storage(64, kGuard), screen(64);
    const SBitmapInfo desc = {4, 4, 16, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0, screen.data()};
    ASSERT_TRUE(r->AllocBuffer(r, 0, 0, &desc));
    ASSERT_TRUE(r->ClearBitmap(r, r->screenBitmap, 0x55555555));
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
}

void PlaceholderKeptByARaisedCount(SCommonRec *) {
    for (const bool giveUp : {false, true}) {
        HostBuffer buffer(4, 4, 32, 0xFF0000, 0xFF00, 0xFF);
        SCommonRec *r = DriverInit()(0, nullptr);
        SCommonBitmap *const placeholder = r->screenBitmap;
        r->header.refCount = 2;
        ASSERT_TRUE(r->AllocBuffer(r, 0, 0, &buffer.info));
        ASSERT_TRUE(r->Dealloc(r));
        ASSERT_TRUE(r->AllocBuffer(r, 0, 0, &buffer.info));
        EXPECT_TRUE(r->Done(r));
        EXPECT_EQ(r->bitmaps.first, &placeholder->link) << "still listed after the first Done";
        EXPECT_EQ(placeholder->header.refCount, 1);
        EXPECT_EQ(r->DrawBegin(r), nullptr) << "the drawing mutex went with the first Done";
        EXPECT_EQ(r->hostHandle, 0u);
        if (giveUp)
            EXPECT_TRUE(r->DoneBitmap(r, placeholder));
        EXPECT_TRUE(r->Done(r));
    }
}

void CallbacksClearedByTheDebugFunction(SCommonRec *) {
    HostBuffer buffer(4, 4, 32, 0xFF0000, 0xFF00, 0xFF);
    gHost = {0, true, true};
    // Cleared between a callback's message and its call, or while unreadying
    // walks the bitmaps, when the driver is still ready.
    for (const auto [atAlloc, at] :
         {std::pair{true, "ing surfaces"}, {false, "ing surfaces"}, {false, "all bitmaps"}}) {
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

void FormerScreenKeptByTheHost(SCommonRec *r) {
    HostBuffer small(32, 32, 32, 0xFF0000, 0xFF00, 0xFF), large(128, 128, 32, 0xFF0000, 0xFF00, 0xFF);
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
    EXPECT_TRUE(r->DoneBitmap(r, kept));
}

void PaletteSharedBetweenRecords(SCommonRec *b) {
    HostBuffer buffer(4, 4, 8, 0, 0, 0);
    SCommonRec *a = DriverInit()(0, nullptr);
    const uint32_t colours[2] = {0, 0x7F7F7F};
    SCommonPalette *p = a->InitPalette(a, colours, 2);
    ASSERT_TRUE(b->AllocBuffer(b, 0, 0, &buffer.info));
    ASSERT_TRUE(b->SetBitmapPalette(b, b->screenBitmap, p));
    EXPECT_EQ(b->GetScreenColor(b, b->screenBitmap, 0x7F7F7F), 1u);
    EXPECT_TRUE(a->DonePalette(a, p));
    EXPECT_TRUE(a->Done(a));
    EXPECT_EQ(p->link.list, nullptr) << "detached when its record went";
    EXPECT_TRUE(b->Dealloc(b)) << "the last release of the palette touches no freed record";
}

void ScrollThroughASecondBitmap(SCommonRec *r) {
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
                ASSERT_TRUE(r->AllocBuffer(r, 0, 0, &buffer.info));
                SCommonBitmap *alias = HostBitmap(r, buffer.info);
                SBitmapInfo model = buffer.info;
                model.bits = want.data();
                vantu::test::ModelCopy(model, model, 0, 0, dx, dy, 0, 0, keyed);
                ASSERT_TRUE(r->CopyEntireBitmap(r, r->screenBitmap, alias, dx, dy, keyed));
                EXPECT_EQ(buffer.memory, want);
                EXPECT_TRUE(r->DoneBitmap(r, alias));
                EXPECT_TRUE(r->Dealloc(r));
            }
}

// A host that cannot let go of its surfaces keeps the screen bitmap through
// Dealloc; the next AllocBuffer supersedes it (it stops describing the old
// buffer) and Done frees it. A Done that finds it kept so and leaves the
// record alive leaves no screen to describe.
void ScreenKeptByARefusedUnreadying(SCommonRec *r) {
    HostBuffer buffer(4, 4, 32, 0xFF0000, 0xFF00, 0xFF);
    ASSERT_TRUE(r->SetCallbacks(r, &kCallbacks, nullptr));
    gHost = {0, true, false};
    ASSERT_TRUE(r->AllocBuffer(r, 0, 0, &buffer.info));
    SCommonBitmap *const kept = r->screenBitmap;
    EXPECT_FALSE(r->Dealloc(r));
    EXPECT_EQ(r->screenBitmap, kept);
    gHost.freeOk = true;
    ASSERT_TRUE(r->AllocBuffer(r, 0, 0, &buffer.info));
    EXPECT_NE(r->screenBitmap, kept);
    EXPECT_EQ(kept->info.bits, nullptr);
    gHost.freeOk = false, r->header.refCount = 2;
    EXPECT_TRUE(r->Done(r));
    EXPECT_EQ(r->screenBitmap, nullptr);
    EXPECT_EQ(r->screenInfo.bits, nullptr);
    SCommonBitmap *const sized = r->InitScreenBitmap(r);
    EXPECT_EQ(sized->info.width, 0u) << "no screen to take the size of";
    EXPECT_TRUE(r->DoneBitmap(r, sized));
}

// A host whose debug function makes a new screen from Done's own
// "Finalizing" message: the record still goes, and with it that screen, and
// the host's surfaces are let go again.
SCommonRec *gFinalizing = nullptr;
void VANTU_CALL ReadyOnFinalizing(SCommonRec *record, const char *text) {
    static HostBuffer buffer(4, 4, 32, 0xFF0000, 0xFF00, 0xFF);
    if (record == gFinalizing && std::strstr(text, "Finalizing") != nullptr)
        EXPECT_TRUE(record->AllocBuffer(record, 0, 0, &buffer.info));
}

void ScreenMadeFromDonesMessages(SCommonRec *) {
    for (const bool refCounted : {false, true}) {
        gHost = {0, true, true, 0};
        SCommonRec *r = gFinalizing = DriverInit()(0, ReadyOnFinalizing);
        ASSERT_TRUE(r->SetCallbacks(r, &kCallbacks, nullptr));
        if (refCounted) { // the first Done leaves the record and its new screen alive
            r->header.refCount = 2;
            EXPECT_TRUE(r->Done(r));
            EXPECT_TRUE(r->allocated);
        }
        EXPECT_TRUE(r->Done(r));
        gFinalizing = nullptr;
        EXPECT_EQ(gHost.allocs, refCounted ? 2 : 1);
        EXPECT_EQ(gHost.calls, 2 * gHost.allocs) << "every allocSurfaces has its deallocSurfaces";
    }
}

// Hooks a host installs over the bitmap hooks and that change the bitmap
// list while readying or unreadying walks it: at their first call they give
// up the bitmap visited, the next one or every other one the host holds, or
// make new ones.
enum class ListChange { GiveUpVisited, GiveUpNext, GiveUpAll, Make, MakeAndGiveUpNext };
struct {
    SCommonRec *record;
    ListChange change;
    bool done;
    AllocBitmapFunc alloc;
    DeallocBitmapFunc dealloc;
    std::vector<SCommonBitmap *> held; // the host's own bitmaps
} gWalk;

SCommonBitmap *MemberOf(SCommonLink *link) {
    return link == nullptr ? nullptr
                           : reinterpret_cast<SCommonBitmap *>(reinterpret_cast<char *>(link) -
                                                               offsetof(SCommonBitmap, link));
}

void GiveUp(SCommonBitmap *b) {
    const auto at = std::find(gWalk.held.begin(), gWalk.held.end(), b);
    if (at == gWalk.held.end()) // the host gives up only what it holds
        return;
    gWalk.held.erase(at);
    EXPECT_TRUE(gWalk.record->DoneBitmap(gWalk.record, b));
}

void ChangeTheList(SCommonBitmap *visited) {
    if (gWalk.done || std::find(gWalk.held.begin(), gWalk.held.end(), visited) == gWalk.held.end())
        return; // once, at the first of the host's bitmaps
    gWalk.done = true;
    SCommonRec *r = gWalk.record;
    SCommonBitmap *next = MemberOf(visited->link.next);
    switch (gWalk.change) {
    case ListChange::GiveUpVisited: GiveUp(visited); break;
    case ListChange::GiveUpNext: GiveUp(next); break;
    case ListChange::GiveUpAll:
        while (!gWalk.held.empty())
            GiveUp(gWalk.held.back());
        break;
    case ListChange::Make:
    case ListChange::MakeAndGiveUpNext:
        for (int i = 0; i < 2; ++i)
            if (SCommonBitmap *made = r->InitBitmap(r, 3, 3))
                gWalk.held.push_back(made);
        if (gWalk.change == ListChange::MakeAndGiveUpNext)
            GiveUp(next);
        break;
    }
}

vantu_bool VANTU_CALL AllocAndChange(SCommonRec *r, SCommonBitmap *b) {
    const vantu_bool result = gWalk.alloc(r, b);
    ChangeTheList(b);
    return result;
}
vantu_bool VANTU_CALL DeallocAndChange(SCommonRec *r, SCommonBitmap *b) {
    const vantu_bool result = gWalk.dealloc(r, b);
    ChangeTheList(b);
    return result;
}

// Forward and back, the list holds exactly the bitmaps it links.
size_t CheckedLength(const SCommonList &list) {
    size_t n = 0;
    const SCommonLink *prev = nullptr;
    for (const SCommonLink *link = list.first; link != nullptr; prev = link, link = link->next, ++n) {
        EXPECT_EQ(link->prev, prev);
        EXPECT_EQ(link->list, &list);
    }
    EXPECT_EQ(list.last, prev);
    return n;
}

void ListChangedByAHookMidWalk(SCommonRec *) {
    HostBuffer buffer(4, 4, 32, 0xFF0000, 0xFF00, 0xFF);
    for (const bool unreadying : {false, true})
        for (const ListChange change : {ListChange::GiveUpVisited, ListChange::GiveUpNext, ListChange::GiveUpAll,
                                        ListChange::Make, ListChange::MakeAndGiveUpNext}) {
            SCOPED_TRACE(testing::Message() << (unreadying ? "unreadying" : "readying") << ", change "
                                            << static_cast<int>(change));
            SCommonRec *r = DriverInit()(0, nullptr);
            gWalk = {r, change, false, r->AllocBitmap, r->DeallocBitmap, {}};
            for (int i = 0; i < 3; ++i)
                gWalk.held.push_back(r->InitBitmap(r, 2, 2));
            const std::vector<SCommonBitmap *> before = gWalk.held;
            // The placeholder screen comes first in the list; the host holds the rest.
            if (unreadying) {
                ASSERT_TRUE(r->AllocBuffer(r, 0, 0, &buffer.info));
                r->DeallocBitmap = DeallocAndChange;
            } else {
                r->AllocBitmap = AllocAndChange;
            }
            EXPECT_TRUE(unreadying ? r->Dealloc(r) : r->AllocBuffer(r, 0, 0, &buffer.info));
            EXPECT_TRUE(gWalk.done);
            r->AllocBitmap = gWalk.alloc, r->DeallocBitmap = gWalk.dealloc;
            EXPECT_EQ(CheckedLength(r->bitmaps), gWalk.held.size() + (unreadying ? 1 : 2));
            for (SCommonBitmap *b : gWalk.held) // the walk reached every bitmap listed before it that is left
                if (std::find(before.begin(), before.end(), b) != before.end())
                    EXPECT_EQ(b->isAllocated, unreadying ? 0 : 1);
            for (SCommonBitmap *b : gWalk.held)
                EXPECT_TRUE(r->DoneBitmap(r, b));
            EXPECT_TRUE(r->Done(r));
        }
}

TEST_F(Host, CarelessHosts) {
    const struct {
        const char *name;
        void (*run)(SCommonRec *r);
    } cases[] = {
        {"bottom-up buffer", BottomUpBuffer},
        {"sizes that read negative", NegativeSizes},
        {"placeholder kept by a raised count", PlaceholderKeptByARaisedCount},
        {"callbacks cleared by the debug function", CallbacksClearedByTheDebugFunction},
        {"former screen kept by the host", FormerScreenKeptByTheHost},
        {"palette shared between records", PaletteSharedBetweenRecords},
        {"scroll through a second bitmap", ScrollThroughASecondBitmap},
        {"screen kept by a refused unreadying", ScreenKeptByARefusedUnreadying},
        {"screen made from Done's own messages", ScreenMadeFromDonesMessages},
        {"bitmap list changed by a hook mid-walk", ListChangedByAHookMidWalk},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SCommonRec *record = DriverInit()(0, nullptr);
        c.run(record);
        EXPECT_TRUE(record->Done(record));
    }
}

} // namespace

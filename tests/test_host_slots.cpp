// The built library driven as a host drives it, past the set-up: copies
// between host memory at every pixel size, the reference counts of palettes
// and bitmaps, and the drawing lock across threads with its 10-second wait.
#include <vantu/driver.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#if defined(__linux__) && !defined(VANTU_HOST_PE_LOADER)
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include "host_module.h"

namespace {

using Clock = std::chrono::steady_clock;

class HostSlots : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(DriverInit(), nullptr) << "cannot load " << HostModule::HostLibraryPath();
        r = DriverInit()(0, nullptr);
        ASSERT_NE(r, nullptr);
    }
    void TearDown() override {
        if (r != nullptr) {
            EXPECT_TRUE(r->Done(r));
        }
    }
    SCommonRec *r = nullptr;
};

// Pixels in host memory with 5 guard bytes after every row.
struct Surface {
    int width, height, bytes;
    uint32_t pitch;
    std::vector<uint8_t> memory;
    Surface(int w, int h, int bpp)
        : width(w), height(h), bytes(bpp / 8), pitch(uint32_t(w * (bpp / 8) + 5)), memory(size_t(pitch) * h, 0xA5) {}
    uint8_t *At(int x, int y) { return memory.data() + size_t(y) * pitch + size_t(x) * bytes; }
    uint32_t Get(int x, int y) {
        uint32_t v = 0;
        std::memcpy(&v, At(x, y), size_t(bytes));
        return v;
    }
    void Set(int x, int y, uint32_t v) { std::memcpy(At(x, y), &v, size_t(bytes)); }
};

// What a copy must leave: every pixel of the rectangle that lies inside both
// surfaces, skipping source pixels that are 0 when keyed.
void ModelCopy(Surface &dst, Surface &src, int sx, int sy, int dx, int dy, int w, int h, bool keyed) {
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i) {
            const int tx = dx + i, ty = dy + j, ux = sx + i, uy = sy + j;
            if (tx < 0 || ty < 0 || tx >= dst.width || ty >= dst.height || ux < 0 || uy < 0 || ux >= src.width ||
                uy >= src.height)
                continue;
            const uint32_t v = src.Get(ux, uy);
            if (!keyed || v != 0)
                dst.Set(tx, ty, v);
        }
}

TEST_F(HostSlots, CopiesIntoTheHostsBufferAtEveryPixelSize) {
    // Rows long enough for the widest vectors and a tail, clipped on every side.
    constexpr int kW = 100, kH = 9, kSpriteW = 70, kSpriteH = 5;
    for (const int bpp : {8, 16, 24, 32}) {
        SCOPED_TRACE(::testing::Message() << bpp << " bits per pixel");
        Surface screen(kW, kH, bpp), sprite(kSpriteW, kSpriteH, bpp);
        const uint32_t mask = bpp == 32 ? 0xFFFFFFFFu : (1u << bpp) - 1;
        for (int y = 0; y < kSpriteH; ++y)
            for (int x = 0; x < kSpriteW; ++x) // every third pixel transparent, the others distinct
                sprite.Set(x, y, (x + y) % 3 == 0 ? 0 : (0x9E3779B1u * uint32_t(1 + x + 97 * y) | 1) & mask);
        SBitmapInfo desc{uint32_t(kW), uint32_t(kH), screen.pitch, 0, uint32_t(bpp), 0, 0, 0, 0, screen.memory.data()};
        ASSERT_TRUE(r->AllocBuffer(r, 0, 0, &desc));
        SCommonBitmap *const scr = r->screenBitmap;
        SCommonBitmap *const bmp = r->InitBitmap(r, kSpriteW, kSpriteH);
        ASSERT_NE(bmp, nullptr);
        SBitmapInfo *info = r->LockBitmap(r, bmp); // the host points the bitmap at its pixels
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->bitsPerPixel, uint32_t(bpp)) << "the bitmap takes the screen's format";
        info->bits = sprite.memory.data();
        info->pitch = sprite.pitch;
        ASSERT_TRUE(r->UnlockBitmap(r, bmp));

        Surface want = screen;
        const uint32_t background = 0x5A3C1Eu & mask;
        ASSERT_TRUE(r->ClearBitmap(r, scr, background));
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                want.Set(x, y, background);
        struct Copy { int sx, sy, dx, dy, w, h; bool keyed; bool entire; };
        const Copy copies[] = {
            {3, 1, -2, 6, 60, 4, false, false},   // cut left and bottom
            {0, 0, kW - 33, -2, 0, 0, true, false}, // the source's size, cut right and top
            {0, 0, 17, 3, 0, 0, true, true},        // the whole sprite, keyed
            {1, 0, 5, 0, kSpriteW, 1, false, false}, // one row, cut by the source's right edge
        };
        for (const Copy &c : copies) {
            SCOPED_TRACE(::testing::Message() << "copy to " << c.dx << "," << c.dy << (c.keyed ? " keyed" : ""));
            const vantu_bool done =
                c.entire ? r->CopyEntireBitmap(r, scr, bmp, c.dx, c.dy, c.keyed)
                         : r->CopyBitmap(r, scr, bmp, c.sx, c.sy, c.dx, c.dy, c.w, c.h, c.keyed);
            ASSERT_TRUE(done);
            ModelCopy(want, sprite, c.sx, c.sy, c.dx, c.dy, c.w != 0 ? c.w : kSpriteW, c.h != 0 ? c.h : kSpriteH,
                      c.keyed);
            ASSERT_EQ(screen.memory, want.memory) << "pixels or the guard bytes after each row differ";
        }
        EXPECT_TRUE(r->DoneBitmap(r, bmp));
        EXPECT_TRUE(r->Dealloc(r));
    }
}

TEST_F(HostSlots, PalettesAndBitmapsCountTheirReferences) {
    std::vector<uint8_t> pixels(16 * 4);
    SBitmapInfo desc{16, 4, 16, 0, 8, 0, 0, 0, 0, pixels.data()};
    ASSERT_TRUE(r->AllocBuffer(r, 0, 0, &desc));
    const uint32_t colours[] = {0x000000, 0x7F0000, 0x00007F, 0x404040};
    SCommonPalette *const palette = r->InitPalette(r, colours, 4);
    SCommonBitmap *const bitmap = r->InitBitmap(r, 8, 8);
    ASSERT_TRUE(palette != nullptr && bitmap != nullptr);
    EXPECT_TRUE(palette->header.refCount == 1 && r->palettes.first == &palette->link);
    EXPECT_EQ(palette->entries[3], 0x404040u);
    EXPECT_EQ(palette->entries[4], 0u);

    ASSERT_TRUE(r->SetBitmapPalette(r, bitmap, palette));
    EXPECT_EQ(palette->header.refCount, 2) << "the bitmap holds the palette";
    ASSERT_TRUE(r->SetBitmapPalette(r, bitmap, palette));
    EXPECT_EQ(palette->header.refCount, 2) << "setting the same palette again keeps one reference";
    // An 8-bit screen converts through the bitmap's palette: the nearest entry's index.
    EXPECT_EQ(r->GetScreenColor(r, bitmap, 0x00007E), 2u);
    EXPECT_EQ(r->GetScreenColor(r, bitmap, 0x3F4241), 3u);

    EXPECT_TRUE(r->DonePalette(r, palette));
    EXPECT_TRUE(palette->header.refCount == 1 && r->palettes.first == &palette->link)
        << "the host's reference is gone, the bitmap's is left";
    bitmap->header.refCount++; // a second holder of the bitmap
    EXPECT_TRUE(r->DoneBitmap(r, bitmap));
    EXPECT_TRUE(bitmap->header.refCount == 1 && palette->header.refCount == 1)
        << "the palette goes only with the bitmap's last reference";
    EXPECT_TRUE(r->DoneBitmap(r, bitmap));
    EXPECT_EQ(r->palettes.first, nullptr) << "the last reference freed the palette";
    EXPECT_FALSE(r->DoneBitmap(r, r->screenBitmap)) << "the screen bitmap is the driver's";
    EXPECT_TRUE(r->Dealloc(r));
}

TEST_F(HostSlots, DrawingIsBracketedAndNotPresentedMidway) {
    std::vector<uint32_t> pixels(4 * 4);
    SBitmapInfo desc{4, 4, 16, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0, pixels.data()};
    ASSERT_TRUE(r->AllocBuffer(r, 0, 0, &desc));
    EXPECT_FALSE(r->DrawEnd(r)) << "DrawEnd without DrawBegin";
    ASSERT_EQ(r->DrawBegin(r), &r->version);
    EXPECT_EQ(r->DrawBegin(r), nullptr) << "already drawing";
    EXPECT_FALSE(r->Flip(r) || r->FlipToPrimary(r) || r->Sync(r)) << "nothing is presented while drawing";
    EXPECT_TRUE(r->DrawEnd(r));
    EXPECT_TRUE(r->Flip(r) && r->FlipToPrimary(r) && r->Sync(r));
    EXPECT_TRUE(r->Dealloc(r));
    EXPECT_TRUE(r->Flip(r) && !r->Sync(r)) << "not ready: Flip still succeeds, Sync does not";
}

// Stands in for the record's RestoreLostSurfaces hook, which DrawBegin calls
// after testing its flag and before waiting for the mutex: every thread but
// the one that installed it stops there until the gate opens, so that a
// second drawer can be made to wait for the first.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool arrived = false, open = false;
    std::thread::id free;
    RestoreLostSurfacesFunc original = nullptr;
    Clock::time_point opened;

    void Install(SCommonRec *r) {
        free = std::this_thread::get_id();
        original = r->RestoreLostSurfaces;
        gGate = this;
        r->RestoreLostSurfaces = Hook;
    }
    void AwaitArrival() {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [this] { return arrived; });
    }
    void Open() {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
        opened = Clock::now();
        changed.notify_all();
    }
    static vantu_bool VANTU_CALL Hook(SCommonRec *record) {
        Gate &gate = *gGate;
        if (std::this_thread::get_id() != gate.free) {
            std::unique_lock<std::mutex> lock(gate.mutex);
            gate.arrived = true;
            gate.changed.notify_all();
            gate.changed.wait(lock, [&gate] { return gate.open; });
        }
        return gate.original(record);
    }
    static Gate *gGate;
};
Gate *Gate::gGate = nullptr;

// A second thread's DrawBegin (and DrawEnd, if it succeeds), held at the gate.
struct SecondDrawer {
    SCommonRec *record;
    Gate gate;
    std::atomic<void *> result{nullptr};
    Clock::time_point returned;
    std::thread thread;

    explicit SecondDrawer(SCommonRec *r) : record(r) {
        gate.Install(r);
        thread = std::thread([this] {
            result = record->DrawBegin(record);
            returned = Clock::now();
            if (result != nullptr)
                record->DrawEnd(record);
        });
    }
    ~SecondDrawer() {
        if (thread.joinable())
            thread.join();
        record->RestoreLostSurfaces = gate.original;
    }
};

TEST_F(HostSlots, SecondDrawerWaitsForTheFirstsDrawEnd) {
    SecondDrawer second(r);
    second.gate.AwaitArrival();
    ASSERT_EQ(r->DrawBegin(r), &r->version);
    second.gate.Open();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const Clock::time_point ended = Clock::now();
    EXPECT_TRUE(r->DrawEnd(r));
    second.thread.join();
    EXPECT_EQ(second.result.load(), &r->version);
    EXPECT_GE(second.returned, ended) << "the second drawer did not wait for DrawEnd";
}

TEST_F(HostSlots, DrawerEndingWithoutDrawEndAbandonsTheLock) {
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
    EXPECT_TRUE(r->DrawEnd(r)) << "clears the flag; the release is refused";
    EXPECT_EQ(r->DrawBegin(r), nullptr) << "the wait finds the mutex abandoned";
    void *other = nullptr;
    std::thread([this, &other] {
        other = r->DrawBegin(r);
        if (other != nullptr)
            r->DrawEnd(r);
    }).join();
    EXPECT_EQ(other, &r->version) << "the failed DrawBegin gave the abandoned mutex back";
}

// Kept apart from HostSlots so that repeated runs can leave its 10 s out.
using HostTimeOut = HostSlots;

TEST_F(HostTimeOut, DrawBeginGivesUpAfterTenSeconds) {
    SecondDrawer second(r);
    second.gate.AwaitArrival();
    ASSERT_EQ(r->DrawBegin(r), &r->version);
    second.gate.Open();
    second.thread.join();
    const double waited = std::chrono::duration<double>(second.returned - second.gate.opened).count();
    EXPECT_EQ(second.result.load(), nullptr);
    EXPECT_GE(waited, 9.9);
    EXPECT_LT(waited, 30.0);
    EXPECT_TRUE(r->DrawEnd(r));
    void *other = nullptr;
    std::thread([this, &other] {
        other = r->DrawBegin(r);
        if (other != nullptr)
            r->DrawEnd(r);
    }).join();
    EXPECT_EQ(other, &r->version) << "the lock is free again after DrawEnd";
}

} // namespace

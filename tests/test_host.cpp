// The memory driver as a host sees it: the library is loaded at run time, the
// record comes from its one export, and everything happens through the slots.
// Nothing here links the library; the path comes from the build.
#include <vantu/driver.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

using namespace std::string_literals;
using Log = std::vector<std::string>;
Log gLog;
Log gOtherLog;

void VANTU_CALL LogText(SCommonRec *, const char *text) { gLog.emplace_back(text); }
void VANTU_CALL LogOther(SCommonRec *, const char *text) { gOtherLog.emplace_back(text); }

VantuDllInitFunc DriverInit() {
    static const VantuDllInitFunc init = [] {
        VantuDllInitFunc found = nullptr;
#if defined(_WIN32)
        HMODULE module = LoadLibraryA(VANTU_MEM_PATH);
        FARPROC symbol = module ? GetProcAddress(module, "VANTU_DLL_Init") : nullptr;
#else
        void *module = dlopen(VANTU_MEM_PATH, RTLD_NOW | RTLD_LOCAL);
        void *symbol = module ? dlsym(module, "VANTU_DLL_Init") : nullptr;
#endif
        if (symbol != nullptr)
            std::memcpy(&found, &symbol, sizeof found);
        return found;
    }();
    return init;
}

std::string AllocBufferMsg(const SBitmapInfo &info) {
    char text[100];
    std::snprintf(text, sizeof text, "VANTU: CommonAllocBuffer: %dx%dx%d - %08" PRIxPTR "\n", int(info.width),
                  int(info.height), int(info.bitsPerPixel), reinterpret_cast<uintptr_t>(info.bits));
    return text;
}

Log Join(Log a, const Log &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<SCommonBitmap *> Bitmaps(const SCommonRec *record) {
    std::vector<SCommonBitmap *> out;
    for (SCommonLink *link = record->bitmaps.first; link != nullptr; link = link->next)
        out.push_back(reinterpret_cast<SCommonBitmap *>(reinterpret_cast<char *>(link) -
                                                        offsetof(SCommonBitmap, link)));
    return out;
}

auto Fields(const SBitmapInfo &i) {
    return std::tuple(i.width, i.height, i.pitch, i.formatOpaque1, i.bitsPerPixel, i.redMask, i.greenMask,
                      i.blueMask, i.formatOpaque2, i.bits);
}

// The driver frees its own superseded placeholder screen bitmap at Done; the
// sanitizer build reports a leak otherwise.
void Finish(SCommonRec *record) { EXPECT_TRUE(record->Done(record)); }

// A host buffer whose rows carry guard bytes after `width` pixels.
constexpr uint8_t kGuard = 0xA5;
struct HostBuffer {
    std::vector<uint8_t> memory;
    SBitmapInfo info{};
    HostBuffer(uint32_t width, uint32_t height, uint32_t bpp, uint32_t red, uint32_t green, uint32_t blue)
        : memory(size_t((width * (bpp / 8) + 6) * height), kGuard) {
        info = {width, height, width * (bpp / 8) + 6, 7, bpp, red, green, blue, 9, memory.data()};
    }
    uint32_t Pixel(uint32_t x, uint32_t y) const {
        uint32_t value = 0;
        std::memcpy(&value, memory.data() + y * info.pitch + x * (info.bitsPerPixel / 8), info.bitsPerPixel / 8);
        return value;
    }
};

// Host surface callbacks; a wrong userData makes them fail.
struct Callbacks {
    int allocCalls = 0, deallocCalls = 0;
    bool allocResult = true;
    bool deallocResult = true;
} gCallbacks;
constexpr uint32_t kUserData = 0xC0FFEE;
vantu_bool VANTU_CALL HostAlloc(SCommonRec *, uint32_t user) {
    ++gCallbacks.allocCalls;
    return user == kUserData && gCallbacks.allocResult;
}
vantu_bool VANTU_CALL HostDealloc(SCommonRec *, uint32_t user) {
    ++gCallbacks.deallocCalls;
    return user == kUserData && gCallbacks.deallocResult;
}
const SCommonCallbacks kCallbacks = {HostAlloc, HostDealloc, kUserData};

// Expected messages without the prefix; lines starting with '?' come only
// with host callbacks installed.
Log Expected(std::initializer_list<std::string> lines, bool callbacks) {
    Log out;
    for (const std::string &line : lines)
        if (line[0] != '?' || callbacks)
            out.push_back("VANTU: " + line.substr(line[0] == '?' ? 1 : 0));
    return out;
}

class Host : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(DriverInit(), nullptr) << "cannot load " << VANTU_MEM_PATH;
        gLog.clear();
        gOtherLog.clear();
        gCallbacks = {};
    }
};

TEST_F(Host, EachCallGivesAFreshIndependentRecord) {
    SCommonRec *a = DriverInit()(0x1234, LogText);
    SCommonRec *b = DriverInit()(2, LogOther);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(a->header.size, sizeof(SMEMRec));
    EXPECT_EQ(a->header.refCount, 1);
    EXPECT_EQ(a->header.destruct, nullptr);
    EXPECT_EQ(a->version, 2u);
    EXPECT_STREQ(a->name, "Memory screen driver");
    EXPECT_EQ(a->hostHandle, 0x1234u);
    EXPECT_EQ(a->hostDebugFunc, LogText);
    EXPECT_EQ(a->GetScreenColor, nullptr) << "chosen only when the driver becomes ready";
    EXPECT_EQ(a->palettes.first, nullptr);
    ASSERT_EQ(Bitmaps(a), std::vector<SCommonBitmap *>{a->screenBitmap});
    EXPECT_TRUE(a->screenBitmap->isScreen);
    EXPECT_EQ(gLog, Log{"VANTU: Initializing: Memory screen driver (version: 2, build: 2)\n"});
    EXPECT_EQ(gOtherLog, gLog) << "each record reports to its own host function";

    // Window and full-screen modes are refused without a trace.
    EXPECT_FALSE(a->AllocWindow(a, 0, 0, 0));
    EXPECT_FALSE(a->AllocFullScreen(a, 0, 0, 0, 640, 480, 16, 0, 0));
    EXPECT_EQ(a->allocMode, 0u);
    EXPECT_EQ(gLog.size(), 1u);

    HostBuffer buffer(4, 2, 32, 0xFF0000, 0xFF00, 0xFF);
    ASSERT_TRUE(a->AllocBuffer(a, 0, 0, &buffer.info));
    EXPECT_FALSE(b->allocated);
    EXPECT_EQ(Bitmaps(b).size(), 1u);
    EXPECT_NE(a->DrawBegin(a), nullptr);
    EXPECT_NE(b->DrawBegin(b), nullptr) << "each record has its own drawing lock";
    EXPECT_TRUE(b->DrawEnd(b));
    EXPECT_TRUE(a->DrawEnd(a));
    Finish(a);
    EXPECT_TRUE(b->AllocBuffer(b, 0, 0, &buffer.info));
    Finish(b);
}

TEST_F(Host, TypicalLifeSendsTheMessagesInOrder) {
    const auto readying = {"Readying\n"s, "Allocating all bitmaps\n"s, "All bitmaps allocated\n"s,
                           "?Allocating surfaces\n"s, "?Surfaces allocated\n"s, "Readied\n"s};
    const auto unreadying = {"Unreadying\n"s, "?Deallocating surfaces\n"s, "?Surfaces deallocated\n"s,
                             "Deallocating all bitmaps\n"s, "All bitmaps deallocated\n"s, "Unreadied\n"s,
                             "Deallocating\n"s, "CommonDealloc\n"s};
    for (const bool callbacks : {false, true}) {
        SCOPED_TRACE(callbacks ? "with host callbacks" : "without host callbacks");
        gCallbacks = {};
        HostBuffer first(8, 4, 16, 0xF800, 0x07E0, 0x001F), second(3, 5, 32, 0xFF0000, 0xFF00, 0xFF);
        SCommonRec *r = DriverInit()(0, LogText);
        ASSERT_NE(r, nullptr);
        if (callbacks) {
            EXPECT_TRUE(r->SetCallbacks(r, &kCallbacks, nullptr));
        }

        gLog.clear();
        ASSERT_TRUE(r->AllocBuffer(r, 0x12, 5, &first.info)); // sub-device 5 is above numSubDevices: 0
        Log want = {AllocBufferMsg(first.info), "VANTU: Allocating (flags: 00000012, subdev: 0)\n"};
        EXPECT_EQ(gLog, Join(want, Expected(readying, callbacks)));
        gLog.clear();
        EXPECT_TRUE(r->Dealloc(r));
        EXPECT_EQ(gLog, Expected(unreadying, callbacks));

        gLog.clear();
        ASSERT_TRUE(r->AllocBuffer(r, 0, -1, &second.info));
        want = {AllocBufferMsg(second.info), "VANTU: Allocating (flags: 00000000, subdev: -1)\n"};
        EXPECT_EQ(gLog, Join(want, Expected(readying, callbacks)));
        gLog.clear();
        Finish(r); // still allocated: Done deallocates first
        EXPECT_EQ(gLog, Join(Expected(unreadying, callbacks), {"VANTU: Finalizing: Memory screen driver\n"}));
        EXPECT_EQ(gCallbacks.allocCalls, callbacks ? 2 : 0);
        EXPECT_EQ(gCallbacks.deallocCalls, callbacks ? 2 : 0);
    }
}

TEST_F(Host, ScreenIsTheHostsBufferForEachFormat) {
    struct Case {
        const char *label;
        HostBuffer buffer;
        uint32_t red; // pixel value of full red on this screen
    } cases[] = {
        {"5-5-5", HostBuffer(5, 3, 16, 0x7C00, 0x03E0, 0x001F), 0x7C00},
        {"5-6-5", HostBuffer(7, 2, 16, 0xF800, 0x07E0, 0x001F), 0xF800},
        {"8-8-8", HostBuffer(4, 4, 32, 0xFF0000, 0xFF00, 0xFF), 0xFE0000},
        {"masks", HostBuffer(6, 3, 32, 0x3FF00000, 0xFFC00, 0x3FF), 0x3F800000},
    };
    SCommonRec *r = DriverInit()(0, LogText);
    ASSERT_NE(r, nullptr);
    SCommonBitmap *const placeholder = r->screenBitmap;
    // One record through every format in turn: each Dealloc must leave it ready for the next.
    for (Case &c : cases) {
        SCOPED_TRACE(c.label);
        const SBitmapInfo &desc = c.buffer.info;
        ASSERT_TRUE(r->AllocBuffer(r, 0, 0, &desc));
        SCommonBitmap *screen = r->screenBitmap;
        ASSERT_NE(screen, nullptr);
        EXPECT_NE(screen, placeholder);
        EXPECT_EQ(Fields(screen->info), Fields(desc));
        EXPECT_EQ(Fields(r->screenInfo), Fields(desc));
        EXPECT_TRUE(screen->isAllocated);
        EXPECT_TRUE(screen->isInitialized);
        EXPECT_EQ(placeholder->info.width, desc.width); // follows the screen, without pixels
        EXPECT_EQ(placeholder->info.bits, nullptr);
        EXPECT_EQ(r->GetScreenColor(r, screen, 0x7F), c.red);

        const uint32_t value = r->GetScreenColor(r, screen, 0x102030);
        ASSERT_TRUE(r->ClearBitmap(r, screen, value));
        const uint32_t pixelBytes = desc.bitsPerPixel / 8;
        for (uint32_t y = 0; y < desc.height; ++y) {
            for (uint32_t x = 0; x < desc.width; ++x)
                ASSERT_EQ(c.buffer.Pixel(x, y), value) << x << "," << y;
            for (uint32_t b = desc.width * pixelBytes; b < desc.pitch; ++b)
                ASSERT_EQ(c.buffer.memory[y * desc.pitch + b], kGuard) << "row " << y << " byte " << b;
        }

        EXPECT_TRUE(r->Dealloc(r));
        EXPECT_EQ(r->screenBitmap, nullptr);
        EXPECT_EQ(Fields(r->screenInfo), Fields(SBitmapInfo{}));
        EXPECT_EQ(Bitmaps(r), std::vector<SCommonBitmap *>{placeholder}); // the released screen is gone
        EXPECT_EQ(placeholder->info.width, 0u);
        EXPECT_EQ(c.buffer.Pixel(0, 0), value); // the host's buffer stays as drawn
    }
    Finish(r);
}

TEST_F(Host, OrdinaryBitmapsAndDrawingOnAReadyScreen) {
    HostBuffer buffer(6, 4, 16, 0x7C00, 0x03E0, 0x001F);
    SCommonRec *r = DriverInit()(0, LogText);
    ASSERT_NE(r, nullptr);
    ASSERT_TRUE(r->AllocBuffer(r, 0, 0, &buffer.info));

    SCommonBitmap *sprite = r->InitBitmap(r, 3, 2);
    ASSERT_NE(sprite, nullptr);
    EXPECT_TRUE(sprite->isAllocated);
    EXPECT_FALSE(r->IsBitmapInitialized(r, sprite));
    EXPECT_EQ(sprite->info.bitsPerPixel, 16u);
    EXPECT_FALSE(r->ClearBitmap(r, sprite, 0x1234)) << "the driver gives a bitmap no pixels";

    uint16_t pixels[2][4] = {};
    SBitmapInfo *info = r->GetBitmapInfo(r, sprite);
    info->bits = pixels;
    info->pitch = sizeof pixels[0];
    EXPECT_TRUE(r->ClearBitmap(r, sprite, 0x1234));
    EXPECT_TRUE(r->IsBitmapInitialized(r, sprite));
    for (const auto &row : pixels)
        EXPECT_EQ(std::vector<uint16_t>(row, row + 4), (std::vector<uint16_t>{0x1234, 0x1234, 0x1234, 0}));
    EXPECT_TRUE(r->CopyEntireBitmap(r, r->screenBitmap, sprite, 4, 3, 0)); // clipped at the corner
    EXPECT_EQ(buffer.Pixel(4, 3), 0x1234u);
    EXPECT_EQ(buffer.Pixel(5, 3), 0x1234u);
    EXPECT_EQ(buffer.memory[3 * buffer.info.pitch + 12], kGuard);

    EXPECT_EQ(r->DrawBegin(r), static_cast<void *>(&r->version));
    EXPECT_FALSE(r->Flip(r)) << "no presenting while drawing";
    EXPECT_TRUE(r->DrawEnd(r));
    EXPECT_TRUE(r->Flip(r));

    EXPECT_TRUE(r->Dealloc(r));
    EXPECT_FALSE(sprite->isAllocated);
    EXPECT_EQ(r->DrawBegin(r), static_cast<void *>(&r->version)) << "drawing needs no screen";
    EXPECT_TRUE(r->DrawEnd(r));
    EXPECT_TRUE(r->DoneBitmap(r, sprite));
    Finish(r);
}

TEST_F(Host, RefusedHostSurfacesLeaveNoScreen) {
    HostBuffer buffer(4, 4, 16, 0xF800, 0x07E0, 0x001F);
    SCommonRec *r = DriverInit()(0, LogText);
    ASSERT_NE(r, nullptr);
    SCommonBitmap *const placeholder = r->screenBitmap;
    EXPECT_TRUE(r->SetCallbacks(r, &kCallbacks, nullptr));
    gCallbacks.allocResult = false;
    gLog.clear();

    EXPECT_FALSE(r->AllocBuffer(r, 0, 0, &buffer.info));
    EXPECT_EQ(gLog, Join({AllocBufferMsg(buffer.info)},
                         Expected({"Allocating (flags: 00000000, subdev: 0)\n", "Readying\n",
                                   "Allocating all bitmaps\n", "All bitmaps allocated\n", "Allocating surfaces\n",
                                   "Deallocating\n", "CommonDealloc\n"},
                                  true)));
    EXPECT_FALSE(r->allocated);
    EXPECT_EQ(r->screenBitmap, nullptr);
    EXPECT_EQ(Fields(r->screenInfo), Fields(SBitmapInfo{}));
    EXPECT_EQ(Bitmaps(r), std::vector<SCommonBitmap *>{placeholder});
    EXPECT_EQ(gCallbacks.deallocCalls, 0);

    gCallbacks.allocResult = true;
    EXPECT_TRUE(r->AllocBuffer(r, 0, 0, &buffer.info));
    EXPECT_NE(r->screenBitmap, nullptr);
    Finish(r);
}

// A host that cannot let go of its surfaces keeps the screen bitmap through
// Dealloc; the next AllocBuffer supersedes it, and Done frees it (the sanitizer
// build reports the leak otherwise).
TEST_F(Host, ScreenKeptByARefusedUnreadyingIsFreedAtDone) {
    HostBuffer buffer(4, 4, 32, 0xFF0000, 0xFF00, 0xFF);
    SCommonRec *r = DriverInit()(0, nullptr);
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(r->SetCallbacks(r, &kCallbacks, nullptr));
    ASSERT_TRUE(r->AllocBuffer(r, 0, 0, &buffer.info));
    SCommonBitmap *const kept = r->screenBitmap;
    gCallbacks.deallocResult = false;
    EXPECT_FALSE(r->Dealloc(r));
    EXPECT_FALSE(r->allocated);
    EXPECT_EQ(r->screenBitmap, kept);
    gCallbacks.deallocResult = true;
    ASSERT_TRUE(r->AllocBuffer(r, 0, 0, &buffer.info));
    EXPECT_NE(r->screenBitmap, kept);
    const auto listed = Bitmaps(r);
    EXPECT_NE(std::find(listed.begin(), listed.end(), kept), listed.end());
    Finish(r);
}

} // namespace

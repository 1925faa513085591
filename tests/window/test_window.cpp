// The window driver as a host sees it, on a real X server (with_xvfb.sh):
// loaded at run time beside the memory driver, driven through the slots, and
// what the server shows read back from the window and compared, pixel for
// pixel, with the memory driver's bytes for the same scene.
#include <vantu/driver.h>

#include <SDL.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "capture.h"

namespace {

constexpr const char kName[] = "SDL screen driver";

// A driver library loaded as a host loads it, for the whole process.
VantuDllInitFunc Load(const char *path) {
    void *module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    void *symbol = module != nullptr ? dlsym(module, "VANTU_DLL_Init") : nullptr;
    VantuDllInitFunc init = nullptr;
    std::memcpy(&init, &symbol, sizeof init);
    return init;
}
VantuDllInitFunc WindowDriver() {
    static const VantuDllInitFunc init = Load(VANTU_SDL_PATH);
    return init;
}
VantuDllInitFunc MemoryDriver() {
    static const VantuDllInitFunc init = Load(VANTU_MEM_PATH);
    return init;
}

std::vector<std::string> gLog;
void VANTU_CALL LogText(SCommonRec *, const char *text) { gLog.emplace_back(text); }
std::vector<std::string> Prefixed(std::initializer_list<const char *> lines) {
    std::vector<std::string> out;
    for (const char *line : lines)
        out.push_back(std::string("VANTU: ") + line);
    return out;
}
const std::vector<std::string> kReadying = Prefixed(
    {"Readying\n", "Allocating all bitmaps\n", "All bitmaps allocated\n", "Readied\n"});
const std::vector<std::string> kUnreadying =
    Prefixed({"Unreadying\n", "Deallocating all bitmaps\n", "All bitmaps deallocated\n", "Unreadied\n",
              "Deallocating\n", "CommonDealloc\n"});

// ---- What the server shows -----------------------------------------------------------

// The window the driver made for full screen: the one with the driver's name.
SDL_Window *DriverWindow() {
    for (Uint32 id = 0; id < 1000; ++id)
        if (SDL_Window *window = SDL_GetWindowFromID(id))
            if (std::strcmp(SDL_GetWindowTitle(window), kName) == 0)
                return window;
    return nullptr;
}

// What a screen pixel is to show: a colour word's 7-bit component c as
// c << 1, a 5- or 6-bit field as the 7-bit component its bits repeated make.
uint32_t Shows(const SBitmapInfo &info, const uint8_t *pixel, const uint32_t *palette) {
    const auto rgb7 = [](uint32_t r, uint32_t g, uint32_t b) {
        return ((r & 0x7F) << 17) | ((g & 0x7F) << 9) | ((b & 0x7F) << 1);
    };
    switch (info.bitsPerPixel) {
    case 8: {
        const uint32_t i = pixel[0];
        return palette != nullptr ? rgb7(palette[i], palette[i] >> 8, palette[i] >> 16) : i * 0x010101u;
    }
    case 16: {
        const uint32_t p = uint32_t(pixel[0]) | uint32_t(pixel[1]) << 8;
        const uint32_t r = p >> 11, g = (p >> 5) & 63, b = p & 31;
        return rgb7(r << 2 | r >> 3, g << 1 | g >> 5, b << 2 | b >> 3);
    }
    case 24: return uint32_t(pixel[0]) | uint32_t(pixel[1]) << 8 | uint32_t(pixel[2]) << 16;
    default: return (uint32_t(pixel[0]) | uint32_t(pixel[1]) << 8 | uint32_t(pixel[2]) << 16);
    }
}

// ---- One scene, drawn through either driver -------------------------------------------

// Drawn through the slots only: clears, opaque and keyed copies (partly off
// the screen), colours through the screen's conversion, and written straight
// into the screen: every pixel value an 8- or 16-bit screen has, raw 3- and
// 4-byte values at 24 and 32 bits. Bitmaps the driver leaves without pixels
// (the memory driver's) get the host's memory.
class Scene {
  public:
    void Draw(SCommonRec *r, uint32_t seed) {
        std::mt19937 rng(seed);
        SCommonBitmap *screen = r->screenBitmap;
        const SBitmapInfo &info = r->screenInfo;
        const int w = int(info.width), h = int(info.height), bytes = int(info.bitsPerPixel / 8);
        if (info.bitsPerPixel == 8) {
            // Careless entries included: bits above a 7-bit component's.
            for (uint32_t &entry : palette_)
                entry = rng();
            palette = r->InitPalette(r, palette_, 256);
            r->SetBitmapPalette(r, screen, palette);
        }
        const auto colour = [&](SCommonBitmap *b) { return r->GetScreenColor(r, b, rng() & 0x7F7F7F); };
        r->ClearBitmap(r, screen, colour(screen));
        SCommonBitmap *panel = Bitmap(r, w / 3 + 1, h / 3 + 1), *sprite = Bitmap(r, w / 4 + 3, h / 4 + 2);
        r->ClearBitmap(r, panel, colour(panel));
        r->CopyBitmap(r, screen, panel, 0, 0, w / 4, h / 5, 0, 0, 0);
        // A ring on a transparent square, copied keyed to five places.
        SBitmapInfo *s = r->LockBitmap(r, sprite);
        const int sw = int(s->width), sh = int(s->height);
        for (int y = 0; y < sh; ++y)
            for (int x = 0; x < sw; ++x) {
                const int dx = 2 * x - sw, dy = 2 * y - sh;
                const bool ring = dx * dx + dy * dy < sw * sw && 4 * (dx * dx + dy * dy) > sw * sw;
                const uint32_t pixel = ring ? r->GetScreenColor(r, sprite, (rng() & 0x7F7F7F) | 1) : 0;
                std::memcpy(static_cast<uint8_t *>(s->bits) + y * int(s->pitch) + x * bytes, &pixel, size_t(bytes));
            }
        r->UnlockBitmap(r, sprite);
        const int at[5][2] = {{w / 2, h / 2}, {-sw / 2, h / 3}, {w - sw / 3, -sh / 2}, {w / 5, h - sh / 2}, {2, 2}};
        for (const auto &[x, y] : at)
            r->CopyEntireBitmap(r, screen, sprite, x, y, 1);
        // Raw pixels in the lower right corner: every value where they fit.
        SBitmapInfo *scr = r->LockBitmap(r, screen);
        const int side = std::min({w, h, bytes == 2 ? 256 : 16});
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                const uint32_t value = bytes <= 2 ? uint32_t(y * side + x) : rng();
                std::memcpy(static_cast<uint8_t *>(scr->bits) + (h - side + y) * int(scr->pitch) +
                                (w - side + x) * bytes,
                            &value, size_t(bytes));
            }
        r->UnlockBitmap(r, screen);
    }
    // What the screen is to show at (x, y), from the screen's own bytes.
    static uint32_t Shows(SCommonRec *r, int x, int y, const SCommonPalette *palette) {
        const SBitmapInfo &info = r->screenBitmap->info;
        const auto *row = static_cast<const uint8_t *>(info.bits) + y * int(info.pitch);
        return ::Shows(info, row + x * int(info.bitsPerPixel / 8), palette ? palette->entries : nullptr);
    }
    void Done(SCommonRec *r) {
        for (SCommonBitmap *b : bitmaps_)
            r->DoneBitmap(r, b);
        bitmaps_.clear();
        if (palette != nullptr)
            r->DonePalette(r, palette);
        palette = nullptr;
    }
    SCommonPalette *palette = nullptr;

  private:
    SCommonBitmap *Bitmap(SCommonRec *r, int w, int h) {
        SCommonBitmap *b = r->InitBitmap(r, w, h);
        SBitmapInfo *info = r->GetBitmapInfo(r, b);
        if (info->bits == nullptr) {
            memory_.emplace_back(size_t(w) * size_t(h) * 4);
            info->pitch = uint32_t(w) * (info->bitsPerPixel / 8);
            info->bits = memory_.back().data();
        }
        if (palette != nullptr)
            r->SetBitmapPalette(r, b, palette);
        bitmaps_.push_back(b);
        return b;
    }
    uint32_t palette_[256] = {};
    std::vector<SCommonBitmap *> bitmaps_;
    std::vector<std::vector<uint8_t>> memory_;
};

// The same scene on the memory driver, over a host buffer of the same format.
struct Reference {
    std::vector<uint8_t> buffer;
    SCommonRec *r = nullptr;
    Scene scene;
    Reference(const SBitmapInfo &like, uint32_t seed) {
        const uint32_t pitch = like.width * (like.bitsPerPixel / 8) + 5;
        buffer.assign(size_t(pitch) * like.height, 0x5A);
        SBitmapInfo info = like;
        info.pitch = pitch;
        info.bits = buffer.data();
        r = MemoryDriver()(0, nullptr);
        if (r->AllocBuffer(r, 0, 0, &info))
            scene.Draw(r, seed);
    }
    ~Reference() {
        scene.Done(r);
        r->Done(r);
    }
};

// ---- Fixtures ----------------------------------------------------------------------------------

class Window : public ::testing::Test {
  protected:
    void SetUp() override {
        // The host uses SDL too: its window, its events.
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
        ASSERT_NE(WindowDriver(), nullptr) << dlerror();
        ASSERT_NE(MemoryDriver(), nullptr) << dlerror();
        gLog.clear();
        r = WindowDriver()(0, LogText);
        ASSERT_NE(r, nullptr);
    }
    void TearDown() override {
        scene.Done(r);
        if (r != nullptr)
            EXPECT_TRUE(r->Done(r));
        if (host != nullptr)
            SDL_DestroyWindow(host);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
    SDL_Window *HostWindow(int w, int h) {
        host = SDL_CreateWindow("host", 0, 0, w, h, SDL_WINDOW_BORDERLESS);
        return host;
    }
    // Every back-buffer pixel shows, at the centre of where it lands (`to`:
    // the frame's place in the shot), what the memory driver's same pixel is
    // to show; outside `to` the shot is black.
    void ExpectShows(const Shot &shot, const Reference &ref, SDL_Rect to, bool palette = true) {
        ASSERT_GT(shot.width, 0) << "no picture read back";
        const SBitmapInfo &info = r->screenInfo;
        const int w = int(info.width), h = int(info.height);
        int wrong = 0;
        for (int y = 0; y < h && wrong < 5; ++y)
            for (int x = 0; x < w && wrong < 5; ++x) {
                const int sx = to.x + int((x + 0.5) * to.w / w), sy = to.y + int((y + 0.5) * to.h / h);
                const uint32_t want = Scene::Shows(ref.r, x, y, palette ? ref.scene.palette : nullptr);
                if (shot.At(sx, sy) != want) {
                    ++wrong;
                    ADD_FAILURE() << "pixel (" << x << ", " << y << ") shows " << std::hex << shot.At(sx, sy)
                                  << ", want " << want;
                }
            }
        for (int y = 0; y < shot.height && wrong < 5; ++y)
            for (int x = 0; x < shot.width && wrong < 5; ++x)
                if ((x < to.x - 1 || x > to.x + to.w || y < to.y - 1 || y > to.y + to.h) && shot.At(x, y) != 0) {
                    ++wrong;
                    ADD_FAILURE() << "outside the frame (" << x << ", " << y << ") is " << std::hex << shot.At(x, y);
                }
    }
    // The back buffer holds exactly the memory driver's bytes.
    void ExpectSameBytes(const Reference &ref) {
        const SBitmapInfo &mine = r->screenBitmap->info, &theirs = ref.r->screenBitmap->info;
        const size_t row = size_t(mine.width) * (mine.bitsPerPixel / 8);
        for (uint32_t y = 0; y < mine.height; ++y)
            ASSERT_EQ(std::memcmp(static_cast<uint8_t *>(mine.bits) + y * mine.pitch,
                                  static_cast<uint8_t *>(theirs.bits) + y * theirs.pitch, row),
                      0)
                << "row " << y;
    }
    SCommonRec *r = nullptr;
    SDL_Window *host = nullptr;
    Scene scene;
};

// ---- The picture ----------------------------------------------------------------------

TEST_F(Window, WindowModeShowsTheMemoryDriversPixels) {
    SDL_Window *window = HostWindow(301, 203);
    ASSERT_TRUE(r->AllocWindow(r, 0, 0, SDL_GetWindowID(window)));
    const SBitmapInfo want{301, 203, 1204, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0, r->screenInfo.bits};
    EXPECT_EQ(std::memcmp(&r->screenInfo, &want, sizeof want), 0);
    EXPECT_EQ(std::memcmp(&r->screenBitmap->info, &want, sizeof want), 0);
    scene.Draw(r, 20);
    const Reference ref(r->screenInfo, 20);
    ExpectSameBytes(ref);
    ASSERT_TRUE(r->Flip(r));
    ExpectShows(Capture(window), ref, {0, 0, 301, 203});
    // A window that grew shows the frame at its top-left, black around it.
    SDL_SetWindowSize(window, 340, 250);
    SDL_PumpEvents();
    ASSERT_TRUE(r->FlipToPrimary(r));
    ExpectShows(Capture(window), ref, {0, 0, 301, 203});
}

struct FullScreenCase {
    uint32_t width, height, bpp;
    SDL_Rect to; // where the frame lands on the 1280x1024 display
};
void PrintTo(const FullScreenCase &c, std::ostream *os) { *os << c.width << "x" << c.height << "x" << c.bpp; }
class FullScreen : public Window, public ::testing::WithParamInterface<FullScreenCase> {};

TEST_P(FullScreen, ShowsTheMemoryDriversPixelsScaled) {
    const FullScreenCase c = GetParam();
    ASSERT_TRUE(r->AllocFullScreen(r, 0, 0, 0, c.width, c.height, c.bpp, 0, 0));
    EXPECT_EQ(r->screenInfo.pitch, (c.width * c.bpp / 8 + 3) & ~3u);
    EXPECT_EQ(r->screenInfo.bits, r->screenBitmap->info.bits);
    scene.Draw(r, c.bpp);
    const Reference ref(r->screenInfo, c.bpp);
    ExpectSameBytes(ref);
    ASSERT_TRUE(r->Flip(r));
    const Shot shot = Capture(DriverWindow());
    EXPECT_EQ(shot.width, 1280);
    EXPECT_EQ(shot.height, 1024);
    ExpectShows(shot, ref, c.to);
    if (c.bpp == 8) {
        // Without a palette, index i shows as grey i.
        r->SetBitmapPalette(r, r->screenBitmap, nullptr);
        ASSERT_TRUE(r->Flip(r));
        ExpectShows(Capture(DriverWindow()), ref, c.to, false);
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, FullScreen,
                         ::testing::Values(FullScreenCase{320, 256, 8, {0, 0, 1280, 1024}},
                                           FullScreenCase{320, 256, 16, {0, 0, 1280, 1024}},
                                           FullScreenCase{320, 256, 24, {0, 0, 1280, 1024}},
                                           FullScreenCase{320, 256, 32, {0, 0, 1280, 1024}},
                                           FullScreenCase{640, 480, 16, {0, 32, 1280, 960}},
                                           FullScreenCase{300, 200, 8, {0, 85, 1280, 853}},
                                           FullScreenCase{100, 160, 32, {320, 0, 640, 1024}}));

// ---- Lifecycle -------------------------------------------------------------------------------

TEST_F(Window, LifecycleSendsTheMessagesInOrder) {
    SDL_Window *window = HostWindow(200, 150);
    const uint32_t id = SDL_GetWindowID(window);
    EXPECT_EQ(r->numSubDevices, 0); // one display
    ASSERT_TRUE(r->AllocWindow(r, 0x12, 5, id)); // sub-device 5 is above numSubDevices: 0
    EXPECT_EQ(r->allocMode, 1u);
    EXPECT_EQ(r->windowArg, id);
    EXPECT_FALSE(r->AllocBuffer(r, 0, 0, &r->screenInfo)); // the mirror image of the memory driver
    EXPECT_TRUE(r->Dealloc(r));
    ASSERT_TRUE(r->AllocFullScreen(r, 0, -1, 7, 320, 200, 16, 8, 9)); // a negative sub-device is kept
    EXPECT_EQ(r->subDevice, -1);
    EXPECT_NE(DriverWindow(), nullptr);
    EXPECT_TRUE(r->Dealloc(r));
    EXPECT_EQ(DriverWindow(), nullptr) << "Dealloc destroys the driver's window";
    ASSERT_TRUE(r->AllocFullScreen(r, 0, 0, 0, 64, 48, 32, 0, 0));
    EXPECT_TRUE(r->Done(r)); // still allocated: Done deallocates first
    r = nullptr;
    EXPECT_EQ(DriverWindow(), nullptr);

    std::vector<std::string> want = Prefixed({"Initializing: SDL screen driver (version: 2, build: 2)\n",
                                              "CommonAllocWindow\n", "Allocating (flags: 00000012, subdev: 0)\n"});
    const auto append = [&](const std::vector<std::string> &lines) { want.insert(want.end(), lines.begin(), lines.end()); };
    append(kReadying);
    append(kUnreadying);
    append(Prefixed({"CommonAllocFullScreen: 320x200x16\n", "Allocating (flags: 00000000, subdev: -1)\n"}));
    append(kReadying);
    append(kUnreadying);
    append(Prefixed({"CommonAllocFullScreen: 64x48x32\n", "Allocating (flags: 00000000, subdev: 0)\n"}));
    append(kReadying);
    append(kUnreadying);
    append(Prefixed({"Finalizing: SDL screen driver\n"}));
    EXPECT_EQ(gLog, want);
}

// A refused allocation takes the common layer's failure path: the record ends
// not allocated, without a screen, and nothing is left behind.
TEST_F(Window, RefusedAllocationsLeaveNoScreen) {
    const struct {
        const char *what;
        uint32_t width, height, bpp; // full screen; 0 bits: AllocWindow with the ID `width`
    } kCases[] = {{"no window has ID 0", 0, 0, 0},           {"no window has ID 4711", 4711, 0, 0},
                  {"no window has ID 0xFFFFFFFF", ~0u, 0, 0}, {"depth 1", 64, 48, 1},
                  {"depth 4", 64, 48, 4},                     {"depth 12", 64, 48, 12},
                  {"depth 15", 64, 48, 15},                   {"depth 33", 64, 48, 33},
                  {"depth 64", 64, 48, 64},                   {"depth -8", 64, 48, uint32_t(-8)},
                  {"width 0", 0, 48, 32},                     {"height 0", 64, 0, 8},
                  {"width -1", uint32_t(-1), 48, 16},         {"height INT32_MIN", 64, 0x80000000u, 24},
                  {"beyond any texture", 16385, 16, 32},      {"beyond any texture", 16, 100000, 8},
                  {"a row beyond 2 GiB", 0x7FFFFFFF, 1, 32}};
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.what);
        SCommonRec *own = WindowDriver()(0, LogText);
        gLog.clear();
        std::string allocating = "CommonAllocWindow\n";
        if (c.bpp == 0) {
            EXPECT_FALSE(own->AllocWindow(own, 0, 0, c.width));
        } else {
            EXPECT_FALSE(own->AllocFullScreen(own, 0, 0, 0, c.width, c.height, c.bpp, 0, 0));
            allocating = "CommonAllocFullScreen: " + std::to_string(int(c.width)) + "x" +
                         std::to_string(int(c.height)) + "x" + std::to_string(int(c.bpp)) + "\n";
        }
        EXPECT_EQ(gLog, Prefixed({allocating.c_str(), "Allocating (flags: 00000000, subdev: 0)\n", "Deallocating\n",
                                  "CommonDealloc\n"}));
        EXPECT_FALSE(own->allocated);
        EXPECT_EQ(own->allocMode, 0u);
        EXPECT_EQ(own->screenBitmap, nullptr);
        const SBitmapInfo zero{};
        EXPECT_EQ(std::memcmp(&own->screenInfo, &zero, sizeof zero), 0);
        EXPECT_EQ(DriverWindow(), nullptr);
        EXPECT_TRUE(own->Flip(own)); // nothing to show: what the common layer says
        EXPECT_TRUE(own->Done(own));
    }
}

TEST_F(Window, WindowsThatCannotBeTheScreen) {
    // A window the host destroyed; a window the host renders to itself.
    SDL_Window *gone = SDL_CreateWindow("gone", 0, 0, 64, 64, 0);
    const uint32_t goneId = SDL_GetWindowID(gone);
    SDL_DestroyWindow(gone);
    EXPECT_FALSE(r->AllocWindow(r, 0, 0, goneId));
    SDL_Window *window = HostWindow(64, 64);
    SDL_Renderer *hosts = SDL_CreateRenderer(window, -1, 0);
    ASSERT_NE(hosts, nullptr);
    EXPECT_FALSE(r->AllocWindow(r, 0, 0, SDL_GetWindowID(window)));
    EXPECT_EQ(SDL_GetRenderer(window), hosts) << "the host's renderer is left alone";
    SDL_DestroyRenderer(hosts);
    EXPECT_TRUE(r->AllocWindow(r, 0, 0, SDL_GetWindowID(window)));
}

// ---- Lost surfaces, threads, the host's window ----------------------------------------------------

TEST_F(Window, LostRenderersAreRecreated) {
    SDL_Window *window = HostWindow(160, 120);
    ASSERT_TRUE(r->AllocWindow(r, 0, 0, SDL_GetWindowID(window)));
    scene.Draw(r, 3);
    const Reference ref(r->screenInfo, 3);
    // SDL reports the device reset; the renderer the driver had is no good
    // any more (here: the host spoiled its scale), the new one is.
    SDL_RenderSetScale(SDL_GetRenderer(window), 0.5f, 0.5f);
    SDL_Event reset{};
    reset.type = SDL_RENDER_DEVICE_RESET;
    SDL_PushEvent(&reset);
    ASSERT_TRUE(r->Flip(r));
    ExpectShows(Capture(window), ref, {0, 0, 160, 120});
    // Gone without a word: the renderer destroyed behind the driver's back.
    SDL_DestroyRenderer(SDL_GetRenderer(window));
    ASSERT_TRUE(r->Flip(r));
    ExpectShows(Capture(window), ref, {0, 0, 160, 120});
    // The window moved to another display: recreated as well.
    SDL_RenderSetScale(SDL_GetRenderer(window), 0.5f, 0.5f);
    SDL_Event moved{};
    moved.type = SDL_WINDOWEVENT;
    moved.window.event = SDL_WINDOWEVENT_DISPLAY_CHANGED;
    moved.window.windowID = SDL_GetWindowID(window);
    SDL_PushEvent(&moved);
    ASSERT_TRUE(r->Flip(r));
    ExpectShows(Capture(window), ref, {0, 0, 160, 120});
}

TEST_F(Window, OtherThreadsDrawButOnlyTheWindowsThreadPresents) {
    SDL_Window *window = HostWindow(64, 64);
    ASSERT_TRUE(r->AllocWindow(r, 0, 0, SDL_GetWindowID(window)));
    const auto onOtherThread = [&](auto call) {
        std::thread thread(call);
        thread.join();
    };
    onOtherThread([&] {
        EXPECT_NE(r->DrawBegin(r), nullptr);
        EXPECT_TRUE(r->ClearBitmap(r, r->screenBitmap, 0x123456));
        EXPECT_TRUE(r->DrawEnd(r));
        EXPECT_FALSE(r->Flip(r));
    });
    ASSERT_TRUE(r->Flip(r));
    EXPECT_EQ(Capture(window).At(63, 63), 0x123456u);
    // A loss waits for the window's thread: until then no other thread draws.
    SDL_Event reset{};
    reset.type = SDL_RENDER_TARGETS_RESET;
    SDL_PushEvent(&reset);
    onOtherThread([&] { EXPECT_EQ(r->DrawBegin(r), nullptr); });
    ASSERT_TRUE(r->Flip(r));
    onOtherThread([&] {
        EXPECT_NE(r->DrawBegin(r), nullptr);
        EXPECT_TRUE(r->DrawEnd(r));
    });
    // And nothing is presented in the middle of drawing.
    ASSERT_NE(r->DrawBegin(r), nullptr);
    EXPECT_FALSE(r->Flip(r));
    EXPECT_FALSE(r->FlipToPrimary(r));
    EXPECT_TRUE(r->DrawEnd(r));
}

// SDL2 frees a renderer only through SDL_DestroyRenderer, which needs its
// window: the driver's renderer stays behind, and is never touched again.
SDL_Renderer *volatile gLeftBehind = nullptr;

TEST_F(Window, HostWindowDestroyedBeforeDealloc) {
    ASSERT_TRUE(r->AllocWindow(r, 0, 0, SDL_GetWindowID(HostWindow(64, 64))));
    gLeftBehind = SDL_GetRenderer(host); // what SDL leaves, kept for the leak checkers
    SDL_DestroyWindow(host);
    host = nullptr;
    EXPECT_FALSE(r->Flip(r));
    EXPECT_EQ(r->DrawBegin(r), nullptr);
    EXPECT_TRUE(r->Dealloc(r));
}

// ---- Bitmaps, the screen's pixels, the host's refusals -----------------------------------------

TEST_F(Window, BitmapsGetZeroedPixelsInTheScreensFormat) {
    SCommonBitmap *early = r->InitBitmap(r, 5, 3), *follows = r->InitScreenBitmap(r);
    EXPECT_EQ(early->info.bits, nullptr); // not allocated yet
    ASSERT_TRUE(r->AllocFullScreen(r, 0, 0, 0, 33, 20, 24, 0, 0));
    SCommonBitmap *late = r->InitBitmap(r, 7, 2);
    for (SCommonBitmap *b : {early, late, follows}) {
        ASSERT_NE(b->info.bits, nullptr);
        EXPECT_EQ(b->info.bitsPerPixel, 24u);
        EXPECT_EQ(b->info.pitch, b->info.width * 3);
        const auto *bytes = static_cast<const uint8_t *>(b->info.bits);
        EXPECT_TRUE(std::all_of(bytes, bytes + b->info.pitch * b->info.height, [](uint8_t v) { return v == 0; }));
    }
    EXPECT_EQ(follows->info.width, 33u);
    EXPECT_EQ(follows->info.height, 20u);
    // The screen's pixels are the driver's back buffer: rows of whole words.
    EXPECT_EQ(r->screenInfo.pitch, 100u);
    EXPECT_EQ(r->screenInfo.bits, r->screenBitmap->info.bits);
    EXPECT_TRUE(r->DoneBitmap(r, late)); // its pixels go with it
    EXPECT_TRUE(r->Dealloc(r));
    EXPECT_EQ(early->info.bits, nullptr);
    EXPECT_EQ(early->info.pitch, 0u);
    EXPECT_TRUE(r->DoneBitmap(r, early));
    EXPECT_TRUE(r->DoneBitmap(r, follows));
}

vantu_bool VANTU_CALL Refuse(SCommonRec *, uint32_t) { return 0; }
vantu_bool VANTU_CALL Accept(SCommonRec *, uint32_t) { return 1; }

TEST_F(Window, ScreenTheHostWouldNotLetGoStaysUntilTheNext) {
    const SCommonCallbacks refusing{Accept, Refuse, 0};
    r->SetCallbacks(r, &refusing, nullptr);
    ASSERT_TRUE(r->AllocFullScreen(r, 0, 0, 0, 40, 30, 8, 0, 0));
    SCommonBitmap *screen = r->screenBitmap;
    void *pixels = screen->info.bits;
    EXPECT_FALSE(r->Dealloc(r));
    EXPECT_EQ(DriverWindow(), nullptr) << "the window goes with every Dealloc";
    EXPECT_EQ(r->screenBitmap, screen);
    EXPECT_EQ(screen->info.bits, pixels);
    EXPECT_TRUE(r->ClearBitmap(r, screen, 7)); // its pixels are still the driver's
    EXPECT_TRUE(r->Flip(r));
    ASSERT_TRUE(r->AllocFullScreen(r, 0, 0, 0, 20, 10, 16, 0, 0));
    EXPECT_NE(r->screenBitmap, screen);
    // Left with a refused screen once more, then Done: nothing leaks.
    EXPECT_FALSE(r->Dealloc(r));
}

// ---- Careless hosts --------------------------------------------------------------------------------

TEST_F(Window, HostsThatWriteWhatTheyShouldNot) {
    SDL_Window *window = HostWindow(48, 32);
    ASSERT_TRUE(r->AllocWindow(r, 0, 0, SDL_GetWindowID(window)));
    ASSERT_TRUE(r->ClearBitmap(r, r->screenBitmap, 0x00ABCDEF));
    // Flip shows the back buffer as it was made, whatever the descriptions say now.
    SBitmapInfo saved = r->screenBitmap->info;
    for (SBitmapInfo *info : {&r->screenBitmap->info, &r->screenInfo}) {
        info->width = 100000;
        info->height = uint32_t(-5);
        info->pitch = uint32_t(-4);
        info->bitsPerPixel = 8;
        info->bits = nullptr;
    }
    ASSERT_TRUE(r->Flip(r));
    EXPECT_EQ(Capture(window).At(47, 31), 0xABCDEFu);
    r->screenBitmap->info = saved;
    // A count the host raised: each Done finalizes, the last frees.
    ++r->header.refCount;
    EXPECT_TRUE(r->Done(r));
    EXPECT_EQ(r->screenBitmap, nullptr);
    EXPECT_TRUE(r->AllocWindow(r, 0, 0, SDL_GetWindowID(window))); // once more, between the two
}

SDL_Window *gAllocFrom = nullptr;
void VANTU_CALL AllocOnFinalizing(SCommonRec *record, const char *text) {
    if (std::strstr(text, "Finalizing") != nullptr && gAllocFrom != nullptr)
        record->AllocWindow(record, 0, 0, SDL_GetWindowID(gAllocFrom));
}

TEST_F(Window, ScreenMadeDuringDoneGoesWithTheRecord) {
    gAllocFrom = HostWindow(32, 32);
    SCommonRec *own = WindowDriver()(0, AllocOnFinalizing);
    EXPECT_TRUE(own->Done(own)); // the leak checkers tell whether it all went
    gAllocFrom = nullptr;
}

// ---- SDL's subsystem, counted with the host's use ----------------------------------------------

TEST(WindowSdl, VideoIsCountedWithTheHostsOwnUse) {
    ASSERT_NE(WindowDriver(), nullptr);
    ASSERT_EQ(SDL_WasInit(SDL_INIT_VIDEO), 0u);
    SCommonRec *r = WindowDriver()(0, nullptr);
    EXPECT_NE(SDL_WasInit(SDL_INIT_VIDEO), 0u);
    EXPECT_EQ(SDL_GetHint(SDL_HINT_NO_SIGNAL_HANDLERS), nullptr) << "the hint is the host's again";
    ASSERT_TRUE(r->AllocFullScreen(r, 0, 0, 0, 8, 8, 32, 0, 0));
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0); // the host starts using SDL too
    EXPECT_TRUE(r->Done(r));
    EXPECT_NE(SDL_WasInit(SDL_INIT_VIDEO), 0u) << "the host's use keeps it";
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    EXPECT_EQ(SDL_WasInit(SDL_INIT_VIDEO), 0u);
}

} // namespace

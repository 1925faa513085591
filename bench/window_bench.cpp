// The window driver's presentation, timed as a host uses it, beside SDL2
// doing the same in the same run (bench/window_report.py runs this under an
// Xvfb of 1920x1080 and prints the ratios):
//
//   flip<bits>/ours    Flip of a 1920x1080 back buffer (32 bits: window mode;
//                      8, 16, 24: full screen on the 1920x1080 display)
//   flip32/sdl         SDL_UpdateTexture + SDL_RenderCopy + SDL_RenderPresent
//                      of the same bytes into the same window, same renderer
//   expand/<level>     the palette expansion kernel of each level the CPU
//                      has, 1920x1080 indices to 32-bit pixels
//   expand/memcpy      memcpy of the expanded bytes
//   frame/ours         ClearBitmap + 1,000 keyed 32x32 CopyEntireBitmap + Flip
//   frame/sdl          SDL_FillRect + 1,000 SDL_BlitSurface with a colour key
//                      + SDL_UpdateTexture, SDL_RenderCopy, SDL_RenderPresent
//   draw/ours, draw/sdl  the frame without presenting it
//
// Times are of the whole process (SDL's renderer may run threads of its own).
#include <benchmark/benchmark.h>

#include <SDL.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <vantu/driver.h>

#include "levels.h"
#include "pixels.h"

namespace {

constexpr int kW = 1920, kH = 1080, kSprites = 1000, kSprite = 32;
constexpr uint32_t kClear = 0x00204060;

[[noreturn]] void Die(const char *what) {
    std::fprintf(stderr, "window bench: %s (%s)\n", what, SDL_GetError());
    std::exit(1);
}

VantuDllInitFunc Driver() {
    void *module = dlopen(VANTU_SDL_PATH, RTLD_NOW | RTLD_LOCAL);
    void *symbol = module != nullptr ? dlsym(module, "VANTU_DLL_Init") : nullptr;
    VantuDllInitFunc init = nullptr;
    std::memcpy(&init, &symbol, sizeof init);
    if (init == nullptr)
        Die("cannot load " VANTU_SDL_PATH);
    return init;
}

// Random pixels for every byte of a screen's back buffer.
void Fill(SCommonRec *r, uint32_t seed) {
    std::mt19937 rng(seed);
    const SBitmapInfo &info = r->screenInfo;
    auto *bytes = static_cast<uint8_t *>(info.bits);
    for (size_t i = 0; i < size_t(info.pitch) * info.height; ++i)
        bytes[i] = static_cast<uint8_t>(rng());
    if (info.bitsPerPixel == 8) {
        uint32_t colours[256];
        for (uint32_t &c : colours)
            c = rng() & 0x7F7F7F;
        r->SetBitmapPalette(r, r->screenBitmap, r->InitPalette(r, colours, 256));
    }
}

struct World {
    SDL_Window *window = nullptr;
    SCommonRec *windowed = nullptr;          // 32 bits, window mode
    SCommonRec *full[4] = {};                // 8, 16, 24 bits: full screen (index: bytes per pixel)
    SDL_Window *fullWindow[4] = {};          // the windows the driver made for them
    SDL_Texture *plain = nullptr;            // the plain path's texture, on the driver's renderer
    SCommonBitmap *sprite = nullptr;         // the keyed sprite, on the windowed record
    SDL_Surface *sdlScreen = nullptr, *sdlSprite = nullptr;
    std::vector<uint8_t> sdlPixels;
    std::vector<SDL_Point> at;

    World() {
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
            Die("no video");
        SDL_Rect bounds;
        if (SDL_GetDisplayBounds(0, &bounds) != 0 || bounds.w != kW || bounds.h != kH)
            std::fprintf(stderr, "window bench: the display is not %dx%d; full-screen flips are scaled\n", kW, kH);
        window = SDL_CreateWindow("bench", 0, 0, kW, kH, SDL_WINDOW_BORDERLESS);
        const VantuDllInitFunc init = Driver();
        windowed = init(0, nullptr);
        if (window == nullptr || windowed == nullptr || !windowed->AllocWindow(windowed, 0, 0, SDL_GetWindowID(window)))
            Die("AllocWindow refused");
        Fill(windowed, 32);
        for (int bytes : {1, 2, 3}) {
            full[bytes] = init(0, nullptr);
            if (!full[bytes]->AllocFullScreen(full[bytes], 0, 0, 0, kW, kH, uint32_t(8 * bytes), 0, 0))
                Die("AllocFullScreen refused");
            Fill(full[bytes], uint32_t(bytes));
            fullWindow[bytes] = NewestDriverWindow();
        }
        plain = SDL_CreateTexture(SDL_GetRenderer(window), SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, kW, kH);
        if (plain == nullptr)
            Die("no texture for the plain path");
        MakeSprites();
    }

    // The driver's window (the one with its name) that is not known yet.
    SDL_Window *NewestDriverWindow() const {
        for (Uint32 id = 0; id < 100; ++id)
            if (SDL_Window *w = SDL_GetWindowFromID(id); w != nullptr && std::strcmp(SDL_GetWindowTitle(w), "SDL screen driver") == 0 &&
                                                          w != fullWindow[1] && w != fullWindow[2] && w != fullWindow[3])
                return w;
        return nullptr;
    }

    // One 32x32 disc on a transparent square, for both; 1,000 places on the screen.
    void MakeSprites() {
        std::mt19937 rng(1000);
        sprite = windowed->InitBitmap(windowed, kSprite, kSprite);
        sdlSprite = SDL_CreateRGBSurfaceWithFormat(0, kSprite, kSprite, 32, SDL_PIXELFORMAT_RGB888);
        sdlPixels.resize(size_t(kW) * kH * 4);
        sdlScreen = SDL_CreateRGBSurfaceWithFormatFrom(sdlPixels.data(), kW, kH, 32, kW * 4, SDL_PIXELFORMAT_RGB888);
        if (sprite == nullptr || sdlSprite == nullptr || sdlScreen == nullptr)
            Die("no sprite");
        SBitmapInfo *info = windowed->LockBitmap(windowed, sprite);
        for (int y = 0; y < kSprite; ++y)
            for (int x = 0; x < kSprite; ++x) {
                const int dx = 2 * x + 1 - kSprite, dy = 2 * y + 1 - kSprite;
                const uint32_t pixel = dx * dx + dy * dy <= kSprite * kSprite ? (rng() & 0xFFFFFF) | 1 : 0;
                std::memcpy(static_cast<uint8_t *>(info->bits) + y * int(info->pitch) + 4 * x, &pixel, 4);
                std::memcpy(static_cast<uint8_t *>(sdlSprite->pixels) + y * sdlSprite->pitch + 4 * x, &pixel, 4);
            }
        windowed->UnlockBitmap(windowed, sprite);
        SDL_SetColorKey(sdlSprite, SDL_TRUE, 0);
        for (int i = 0; i < kSprites; ++i)
            at.push_back({int(rng() % (kW - kSprite)), int(rng() % (kH - kSprite))});
    }

    void DrawOurs() {
        SCommonRec *r = windowed;
        r->ClearBitmap(r, r->screenBitmap, kClear);
        for (const SDL_Point &p : at)
            r->CopyEntireBitmap(r, r->screenBitmap, sprite, p.x, p.y, 1);
    }
    void DrawSdl() {
        SDL_FillRect(sdlScreen, nullptr, kClear);
        for (const SDL_Point &p : at) {
            SDL_Rect to{p.x, p.y, kSprite, kSprite};
            SDL_BlitSurface(sdlSprite, nullptr, sdlScreen, &to);
        }
    }
    void PresentPlain(const void *pixels) {
        SDL_Renderer *renderer = SDL_GetRenderer(window);
        const SDL_Rect to{0, 0, kW, kH};
        SDL_UpdateTexture(plain, nullptr, pixels, kW * 4);
        SDL_RenderCopy(renderer, plain, nullptr, &to);
        SDL_RenderPresent(renderer);
    }
    // The window a case presents to goes on top, so that no other covers it.
    void Raise(SCommonRec *r) {
        SDL_Window *shown = window;
        for (int bytes : {1, 2, 3})
            if (r == full[bytes])
                shown = fullWindow[bytes];
        if (shown != nullptr)
            SDL_RaiseWindow(shown);
        SDL_PumpEvents();
        r->Flip(r);
    }
};

World &TheWorld() {
    static World world;
    return world;
}

void BM_Flip(benchmark::State &state, int bytes) {
    World &w = TheWorld();
    SCommonRec *r = bytes == 4 ? w.windowed : w.full[bytes];
    w.Raise(r);
    for (auto _ : state)
        if (!r->Flip(r))
            state.SkipWithError("Flip failed");
}

void BM_FlipPlain(benchmark::State &state) {
    World &w = TheWorld();
    w.Raise(w.windowed);
    const void *pixels = w.windowed->screenInfo.bits;
    for (auto _ : state)
        w.PresentPlain(pixels);
}

struct ExpandData {
    std::vector<uint8_t> src = std::vector<uint8_t>(size_t(kW) * kH);
    std::vector<uint8_t> dst = std::vector<uint8_t>(size_t(kW) * kH * 4);
    std::vector<uint8_t> copy = std::vector<uint8_t>(size_t(kW) * kH * 4);
    uint32_t lut[256];
    ExpandData() {
        std::mt19937 rng(8);
        for (uint8_t &b : src)
            b = static_cast<uint8_t>(rng());
        for (uint32_t &c : lut)
            c = rng();
    }
};

void BM_Expand(benchmark::State &state, const vantu::PixelKernels *kernels) {
    static ExpandData data;
    if (kernels == nullptr) {
        for (auto _ : state) {
            std::memcpy(data.copy.data(), data.dst.data(), data.dst.size());
            benchmark::ClobberMemory();
        }
    } else {
        for (auto _ : state) {
            kernels->expandPalette(data.dst.data(), kW * 4, data.src.data(), kW, kW, kH, data.lut);
            benchmark::ClobberMemory();
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.dst.size()));
}

void BM_Frame(benchmark::State &state, bool ours, bool present) {
    World &w = TheWorld();
    w.Raise(w.windowed);
    // Both draw the same bytes.
    w.DrawOurs();
    w.DrawSdl();
    if (std::memcmp(w.windowed->screenInfo.bits, w.sdlPixels.data(), w.sdlPixels.size()) != 0) {
        state.SkipWithError("SDL's frame differs from ours");
        return;
    }
    for (auto _ : state) {
        if (ours) {
            w.DrawOurs();
            if (present)
                w.windowed->Flip(w.windowed);
        } else {
            w.DrawSdl();
            if (present)
                w.PresentPlain(w.sdlPixels.data());
        }
        benchmark::ClobberMemory();
    }
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void Register() {
    const auto add = [](const std::string &name, auto &&...args) {
        benchmark::RegisterBenchmark(name.c_str(), args...)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
    };
    for (int bytes : {4, 3, 2, 1})
        add("flip" + std::to_string(8 * bytes) + "/ours", BM_Flip, bytes);
    add("flip32/sdl", BM_FlipPlain);
    const struct {
        const char *name;
        vantu::KernelLevel level;
    } kLevels[] = {{"avx512", vantu::KernelLevel::AVX512},
                   {"avx2", vantu::KernelLevel::AVX2},
                   {"sse2", vantu::KernelLevel::SSE2},
                   {"portable", vantu::KernelLevel::Portable},
                   {"reference", vantu::KernelLevel::Reference}};
    for (const auto &level : kLevels)
        if (const vantu::PixelKernels *kernels = vantu::KernelsForLevel(level.level))
            add(std::string("expand/") + level.name, BM_Expand, kernels);
    add("expand/memcpy", BM_Expand, nullptr);
    add("frame/ours", BM_Frame, true, true);
    add("frame/sdl", BM_Frame, false, true);
    add("draw/ours", BM_Frame, true, false);
    add("draw/sdl", BM_Frame, false, false);
}

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    const char *renderer = SDL_GetHint(SDL_HINT_RENDER_DRIVER);
    benchmark::AddCustomContext("SDL_RENDER_DRIVER", renderer != nullptr ? renderer : "(SDL's choice)");
    Register();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

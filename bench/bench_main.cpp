// Clear, copy and colour conversion timed through the driver record's slots,
// exactly as a host calls them: one record per screen depth over a host
// buffer of 1920x1080, bitmaps whose pixel memory the host provides through
// GetBitmapInfo. Beside each case, the same rows done by memset/memcpy and,
// when installed, by two other software blitters; a peer's output is checked
// against ours before it is timed.
//
// The palette expansion, which no slot reaches, is timed on the kernel
// itself, beside memcpy of the bytes it writes.
//
// Names: <op>/<scene>/<bits per pixel>/<implementation>; bench/report.py
// turns the JSON output into a table of ratios.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <vantu/vantu.hpp>

#include "pixels.h" // the kernels themselves, for the palette expansion and the CPU's facts

#ifdef VANTU_BENCH_SDL2
#include <SDL.h>
#endif
#ifdef VANTU_BENCH_PIXMAN
#include <pixman.h>
#endif

namespace {

constexpr int kScreenW = 1920, kScreenH = 1080;
constexpr int kMidW = 640, kMidH = 480, kMidX = 321, kMidY = 207;
constexpr int kSprites = 256, kSprite = 64;
// Small sprites, where the cost of each call and each row's ends shows: the
// 256 placements take these sizes in turn.
constexpr int kSmallSizes[] = {8, 16, 24, 32};
constexpr int kSmallKinds = sizeof kSmallSizes / sizeof kSmallSizes[0];

enum Op { Clear, Copy, KeyDisc, KeyNoise };
// FullUp: the Full scene with the screen and the source bottom-up. Tiny: 256
// keyed 8x8 sprites, where the call's own cost is most of the time.
enum Scene { Full, Mid, Sprites, FullUp, Small, Tiny };
// Loop: the keyed copy as a host would inline it, pixel by pixel.
enum Impl { Ours, Libc, Sdl, Pixman, Loop };
const char *const kOpNames[] = {"clear", "copy", "keyed_disc", "keyed_noise"};
const char *const kSceneNames[] = {"1920x1080", "640x480", "sprites64", "1920x1080up", "sprites8-32", "sprites8"};
const char *const kImplNames[] = {"ours", "libc", "sdl2", "pixman", "loop"};
constexpr int kTiny = 8;

// Host memory for one surface; a bottom-up one stores its last row first, as
// device-independent bitmaps do, and is described with bits at that row and
// a negative pitch.
struct Surf {
    std::vector<uint8_t> mem;
    int w = 0, h = 0, pitch = 0; // pitch: the byte distance between rows in memory
    bool up = false;
    vantu::Bitmap owner;         // the reference the benchmark holds
    SCommonBitmap *bm = nullptr; // owner's record, or the screen bitmap
#ifdef VANTU_BENCH_SDL2
    SDL_Surface *sdl = nullptr;
#endif
    uint8_t *Bits() { return mem.data(); }
    uint8_t *Row(int y) { return mem.data() + static_cast<ptrdiff_t>(up ? h - 1 - y : y) * pitch; }
    uint32_t DescribedPitch() const { return up ? 0u - static_cast<uint32_t>(pitch) : static_cast<uint32_t>(pitch); }
};

// Fills a surface: random pixel values (never 0) where `opaque` says so, 0 elsewhere.
template <class F>
void Paint(Surf &s, int p, std::mt19937 &rng, F opaque) {
    for (int y = 0; y < s.h; ++y)
        for (int x = 0; x < s.w; ++x) {
            uint8_t *px = s.Bits() + y * s.pitch + x * p;
            bool any = false;
            // 4-byte pixels as the 8-8-8 conversion makes them: top byte 0.
            for (int i = 0; i < p && i < 3; ++i)
                any |= (px[i] = opaque(x, y) ? static_cast<uint8_t>(rng()) : 0) != 0;
            if (p == 4)
                px[3] = 0;
            if (opaque(x, y) && !any)
                px[0] = 1;
        }
}

// One record with its screen at one depth, and every surface the cases use.
struct World {
    int bpp = 0, p = 0;
    vantu::Driver driver, driverUp;              // driverUp's screen is bottom-up; both outlive the surfaces
    SCommonRec *rec = nullptr, *recUp = nullptr; // their records, for the timed slot calls
    Surf screen, screenUp;
    Surf big[3], mid[3], sprite[3]; // opaque source, disc sprite, noise
    Surf bigUp[3];                  // the same, bottom-up, for recUp
    Surf small[3][kSmallKinds];     // small sprites of each kind and size
    Surf tiny[3];                   // 8x8 sprites of each kind
    std::vector<Surf> targets;      // the 256 sprites a sprite clear clears
    std::vector<Surf> smallTargets; // the 256 small ones
    std::vector<std::pair<int, int>> at;
    uint32_t pixel = 0;
    vantu::Palette palette8; // the screen's palette for the colour search
#ifdef VANTU_BENCH_SDL2
    SDL_Palette *palette = nullptr;
#endif

    explicit World(int bitsPerPixel) : bpp(bitsPerPixel), p(bitsPerPixel / 8) {
        std::mt19937 rng(static_cast<uint32_t>(bpp));
        driver = Screen(screen, false);
        driverUp = Screen(screenUp, true);
        rec = driver.Record();
        recUp = driverUp.Record();
        for (int k = 0; k < 3; ++k) {
            std::vector<Surf *> sources{&big[k], &mid[k], &sprite[k], &bigUp[k]};
            for (Surf &s : small[k])
                sources.push_back(&s);
            sources.push_back(&tiny[k]);
            for (Surf *s : sources) {
                int w = s == &mid[k] ? kMidW : s == &sprite[k] ? kSprite : s == &tiny[k] ? kTiny : kScreenW;
                int h = s == &mid[k] ? kMidH : s == &sprite[k] ? kSprite : s == &tiny[k] ? kTiny : kScreenH;
                if (s >= small[k] && s < small[k] + kSmallKinds)
                    w = h = kSmallSizes[s - small[k]];
                s->up = s == &bigUp[k];
                Bitmap(s->up ? driverUp : driver, *s, w, h);
                // A disc covering half the square, or noise half transparent.
                const double r2 = 0.5 * w * h / 3.14159265358979, cx = w / 2.0, cy = h / 2.0;
                if (k == 0)
                    Paint(*s, p, rng, [](int, int) { return true; });
                else if (k == 1)
                    Paint(*s, p, rng, [&](int x, int y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) < r2; });
                else
                    Paint(*s, p, rng, [&](int, int) { return (rng() & 1) != 0; });
            }
        }
        targets.resize(kSprites);
        for (Surf &s : targets)
            Bitmap(driver, s, kSprite, kSprite);
        smallTargets.resize(kSprites);
        for (int i = 0; i < kSprites; ++i)
            Bitmap(driver, smallTargets[i], kSmallSizes[i % kSmallKinds], kSmallSizes[i % kSmallKinds]);
        for (int i = 0; i < kSprites; ++i)
            at.emplace_back(static_cast<int>(rng() % (kScreenW - kSprite)),
                            static_cast<int>(rng() % (kScreenH - kSprite)));
        pixel = 0x9A5B3C2Du & (p == 4 ? 0xFFFFFFFFu : (1u << (8 * p)) - 1);
#ifdef VANTU_BENCH_SDL2
        if (bpp == 8) {
            palette = SDL_AllocPalette(256);
        }
        for (Surf *s : AllSurfaces())
            MakeSdl(*s);
#endif
    }

    std::vector<Surf *> AllSurfaces() {
        std::vector<Surf *> all{&screen};
        for (int k = 0; k < 3; ++k) {
            all.insert(all.end(), {&big[k], &mid[k], &sprite[k], &tiny[k]});
            for (Surf &s : small[k])
                all.push_back(&s);
        }
        for (std::vector<Surf> *list : {&targets, &smallTargets})
            for (Surf &s : *list)
                all.push_back(&s);
        return all;
    }

    void Host(Surf &s, int w, int h) {
        s.w = w;
        s.h = h;
        s.pitch = w * p;
        s.mem.assign(static_cast<size_t>(s.pitch) * static_cast<size_t>(h), 0);
    }
    // A record whose screen is `s`, a 1920x1080 host buffer at this depth.
    vantu::Driver Screen(Surf &s, bool bottomUp) {
        static const uint32_t kMasks[5][3] = {
            {0, 0, 0}, {0, 0, 0}, {0xF800, 0x07E0, 0x001F}, {0xFF0000, 0xFF00, 0xFF}, {0xFF0000, 0xFF00, 0xFF}};
        vantu::Driver d = vantu::Driver::Create(VANTU_DLL_Init);
        Host(s, kScreenW, kScreenH);
        s.up = bottomUp;
        const SBitmapInfo desc =
            vantu::Describe(s.Row(0), kScreenW, kScreenH, static_cast<int32_t>(s.DescribedPitch()),
                            static_cast<uint32_t>(bpp), kMasks[p][0], kMasks[p][1], kMasks[p][2]);
        if (!d.AllocBuffer(desc)) {
            std::fprintf(stderr, "AllocBuffer at %d bits per pixel refused\n", bpp);
            std::exit(1);
        }
        s.bm = d.ScreenBitmap().Get();
        return d;
    }
    // A bitmap of `d` over host memory, initialized by a lock round.
    void Bitmap(vantu::Driver &d, Surf &s, int w, int h) {
        Host(s, w, h);
        s.owner = d.InitBitmap(w, h);
        s.bm = s.owner.Get();
        if (!d.SetBitmapSurface(s.owner, s.Row(0), static_cast<int32_t>(s.DescribedPitch())) ||
            !d.LockBitmap(s.owner).End()) {
            std::fprintf(stderr, "a %dx%d bitmap at %d bits per pixel refused\n", w, h, bpp);
            std::exit(1);
        }
    }

#ifdef VANTU_BENCH_SDL2
    void MakeSdl(Surf &s) {
        static const uint32_t kFormats[5] = {0, SDL_PIXELFORMAT_INDEX8, SDL_PIXELFORMAT_RGB565, SDL_PIXELFORMAT_RGB24,
                                             SDL_PIXELFORMAT_RGB888};
        s.sdl = SDL_CreateRGBSurfaceWithFormatFrom(s.Bits(), s.w, s.h, bpp, s.pitch, kFormats[p]);
        if (s.sdl != nullptr && palette != nullptr)
            SDL_SetSurfacePalette(s.sdl, palette);
    }
#endif

    // The surfaces an operation writes.
    std::vector<Surf *> Written(Op op, Scene scene) {
        if (scene == FullUp)
            return {&screenUp};
        if (op != Clear)
            return {&screen};
        if (scene == Full)
            return {&screen};
        if (scene == Mid)
            return {&mid[0]};
        std::vector<Surf *> all;
        for (Surf &s : scene == Small ? smallTargets : targets)
            all.push_back(&s);
        return all;
    }
};

World &GetWorld(int bpp) {
    // One world at a time: the cases are registered depth by depth.
    static std::unique_ptr<World> world;
    if (!world || world->bpp != bpp)
        world = std::make_unique<World>(bpp);
    return *world;
}

struct Place {
    Surf *src;
    int dx, dy;
};

std::vector<Place> Placements(World &wd, Op op, Scene scene) {
    const int k = op == Copy ? 0 : op == KeyDisc ? 1 : 2;
    if (scene == Full || scene == FullUp)
        return {{scene == Full ? &wd.big[k] : &wd.bigUp[k], 0, 0}};
    if (scene == Mid)
        return {{&wd.mid[k], kMidX, kMidY}};
    std::vector<Place> all;
    for (auto [x, y] : wd.at)
        all.push_back({scene == Small  ? &wd.small[k][all.size() % kSmallKinds]
                       : scene == Tiny ? &wd.tiny[k]
                                       : &wd.sprite[k],
                       x, y});
    return all;
}

// The keyed copy as a host writes it inline: a pixel is copied unless it is 0.
template <class T>
void KeyedLoop(Surf &dst, Surf &src, int dx, int dy) {
    for (int y = 0; y < src.h; ++y) {
        const auto *s = reinterpret_cast<const T *>(src.Row(y));
        auto *d = reinterpret_cast<T *>(dst.Row(dy + y)) + dx;
        for (int x = 0; x < src.w; ++x)
            if (s[x] != 0)
                d[x] = s[x];
    }
}

// One round of the operation; false when the implementation cannot do it.
bool Run(World &wd, Impl impl, Op op, Scene scene, const std::vector<Place> &places) {
    SCommonRec *rec = scene == FullUp ? wd.recUp : wd.rec;
    const bool keyed = op == KeyDisc || op == KeyNoise;
    if (op == Clear) {
        for (Surf *s : wd.Written(op, scene)) {
            switch (impl) {
            case Ours: rec->ClearBitmap(rec, s->bm, wd.pixel); break;
            case Libc:
                for (int y = 0; y < s->h; ++y)
                    std::memset(s->Row(y), static_cast<int>(wd.pixel & 0xFF), static_cast<size_t>(s->w * wd.p));
                break;
#ifdef VANTU_BENCH_SDL2
            case Sdl:
                if (SDL_FillRect(s->sdl, nullptr, wd.pixel) != 0)
                    return false;
                break;
#endif
#ifdef VANTU_BENCH_PIXMAN
            case Pixman:
                if (!pixman_fill(reinterpret_cast<uint32_t *>(s->Bits()), s->pitch / 4, wd.bpp, 0, 0, s->w, s->h,
                                 wd.pixel))
                    return false;
                break;
#endif
            default: return false;
            }
        }
        return true;
    }
    Surf &dst = scene == FullUp ? wd.screenUp : wd.screen;
    for (const Place &pl : places) {
        Surf &src = *pl.src;
        switch (impl) {
        case Ours: rec->CopyBitmap(rec, dst.bm, src.bm, 0, 0, pl.dx, pl.dy, src.w, src.h, keyed); break;
        case Libc:
            for (int y = 0; y < src.h; ++y)
                std::memcpy(dst.Row(pl.dy + y) + pl.dx * wd.p, src.Row(y), static_cast<size_t>(src.w * wd.p));
            break;
#ifdef VANTU_BENCH_SDL2
        case Sdl: {
            SDL_Rect sr{0, 0, src.w, src.h}, dr{pl.dx, pl.dy, src.w, src.h};
            if (SDL_BlitSurface(src.sdl, &sr, dst.sdl, &dr) != 0)
                return false;
            break;
        }
#endif
#ifdef VANTU_BENCH_PIXMAN
        case Pixman:
            if (keyed ||
                !pixman_blt(reinterpret_cast<uint32_t *>(src.Bits()), reinterpret_cast<uint32_t *>(dst.Bits()),
                            src.pitch / 4, dst.pitch / 4, wd.bpp, wd.bpp, 0, 0, pl.dx, pl.dy, src.w, src.h))
                return false;
            break;
#endif
        case Loop:
            if (!keyed || wd.p == 3)
                return false;
            if (wd.p == 1)
                KeyedLoop<uint8_t>(dst, src, pl.dx, pl.dy);
            else if (wd.p == 2)
                KeyedLoop<uint16_t>(dst, src, pl.dx, pl.dy);
            else
                KeyedLoop<uint32_t>(dst, src, pl.dx, pl.dy);
            break;
        default: return false;
        }
    }
    return true;
}

void BM_Pixels(benchmark::State &state, int bpp, Op op, Scene scene, Impl impl) {
    World &wd = GetWorld(bpp);
    const std::vector<Place> places = Placements(wd, op, scene);
#ifdef VANTU_BENCH_SDL2
    for (int k = 0; k < 3; ++k)
        for (Surf *s : wd.AllSurfaces())
            SDL_SetColorKey(s->sdl, (op == KeyDisc || op == KeyNoise) ? 1 : 0, 0);
#endif
    // A peer must produce our bytes from the same starting content.
    std::vector<Surf *> written = wd.Written(op, scene);
    if (impl == Sdl || impl == Pixman || impl == Loop) {
        std::mt19937 rng(7);
        std::vector<std::vector<uint8_t>> start, ours;
        for (Surf *s : written) {
            for (uint8_t &b : s->mem)
                b = static_cast<uint8_t>(rng());
            start.push_back(s->mem);
        }
        Run(wd, Ours, op, scene, places);
        for (size_t i = 0; i < written.size(); ++i) {
            ours.push_back(written[i]->mem);
            written[i]->mem = start[i];
        }
        if (!Run(wd, impl, op, scene, places)) {
            state.SkipWithError("not supported by this implementation");
            return;
        }
        for (size_t i = 0; i < written.size(); ++i)
            if (written[i]->mem != ours[i]) {
                state.SkipWithError("output differs from ours");
                return;
            }
    }
    size_t bytes = 0;
    if (op == Clear)
        for (Surf *s : written)
            bytes += static_cast<size_t>(s->w * s->h * wd.p);
    else
        for (const Place &pl : places)
            bytes += static_cast<size_t>(pl.src->w * pl.src->h * wd.p);
    for (auto _ : state) {
        Run(wd, impl, op, scene, places);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

// The palette search as a plain loop over the entries: the baseline.
uint32_t PlainSearch(const uint32_t *entries, uint32_t colour) {
    const int r = static_cast<int8_t>(colour), g = static_cast<int8_t>(colour >> 8),
              b = static_cast<int8_t>(colour >> 16);
    int best = 0x7FFFFFFF;
    uint32_t index = 0;
    for (uint32_t i = 1; i < 256; ++i) {
        const uint32_t e = entries[i];
        const int d = std::abs(r - static_cast<int8_t>(e)) + std::abs(g - static_cast<int8_t>(e >> 8)) +
                      std::abs(b - static_cast<int8_t>(e >> 16));
        if (d < best) {
            best = d;
            index = i;
            if (d == 0)
                break;
        }
    }
    return index;
}

void BM_ScreenColor8(benchmark::State &state, bool plain) {
    World &wd = GetWorld(8);
    SCommonRec *rec = wd.rec;
    std::mt19937 rng(8);
    if (!wd.palette8) {
        uint32_t colours[256];
        for (uint32_t &c : colours)
            c = rng() & 0x7F7F7Fu;
        wd.palette8 = wd.driver.InitPalette(colours);
        if (!wd.driver.SetBitmapPalette(wd.driver.ScreenBitmap(), wd.palette8)) {
            state.SkipWithError("SetBitmapPalette refused");
            return;
        }
    }
    const SCommonPalette *palette = wd.palette8.Get();
    std::vector<uint32_t> words(1024);
    for (uint32_t &c : words)
        c = (rng() & 0x7F7F7Fu) | 1u;
    for (uint32_t c : words)
        if (rec->GetScreenColor(rec, rec->screenBitmap, c) != PlainSearch(palette->entries, c)) {
            state.SkipWithError("GetScreenColor differs from the plain search");
            return;
        }
    for (auto _ : state)
        for (uint32_t c : words)
            benchmark::DoNotOptimize(plain ? PlainSearch(palette->entries, c)
                                           : rec->GetScreenColor(rec, rec->screenBitmap, c));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(words.size()));
}

// The palette expansion kernel (8-bit indices to 32-bit pixels through a
// 256-entry table), as the window driver presents an 8-bit screen, against
// memcpy of the expanded bytes: the same rows of 32-bit pixels copied from
// another buffer. Called directly, as the driver's own code calls it.
void BM_Expand(benchmark::State &state, Scene scene, Impl impl) {
    const int w = scene == Full ? kScreenW : kMidW, h = scene == Full ? kScreenH : kMidH;
    const auto pixels = static_cast<size_t>(w) * static_cast<size_t>(h);
    std::mt19937 rng(20);
    std::vector<uint8_t> indices(pixels);
    for (uint8_t &i : indices)
        i = static_cast<uint8_t>(rng());
    std::vector<uint32_t> lut(256), out(pixels), other(pixels), expect(pixels);
    for (uint32_t &e : lut)
        e = static_cast<uint32_t>(rng());
    for (size_t i = 0; i < pixels; ++i)
        expect[i] = lut[indices[i]];
    const vantu::ExpandRectFn expand = vantu::ActiveKernels().expandPalette;
    auto *dst = reinterpret_cast<uint8_t *>(out.data());
    const ptrdiff_t dstPitch = static_cast<ptrdiff_t>(w) * 4;
    expand(dst, dstPitch, indices.data(), w, w, h, lut.data());
    if (out != expect) {
        state.SkipWithError("expansion differs from the table");
        return;
    }
    for (auto _ : state) {
        if (impl == Ours) {
            expand(dst, dstPitch, indices.data(), w, w, h, lut.data());
        } else {
            const auto *src = reinterpret_cast<const uint8_t *>(other.data());
            for (int y = 0; y < h; ++y)
                std::memcpy(dst + y * dstPitch, src + y * dstPitch, static_cast<size_t>(dstPitch));
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(pixels * 4));
}

// What the run was measured on, at the top of its output: the CPU's maker,
// family and model, its name, the instruction-set extensions the kernel
// levels use that it has, and the kernels chosen for this process.
void DescribeCpu() {
    const vantu::CpuFacts &cpu = vantu::Cpu();
    const char *vendor = cpu.vendor == vantu::CpuVendor::Intel ? "Intel"
                         : cpu.vendor == vantu::CpuVendor::Amd ? "AMD"
                                                               : "other";
    char facts[96];
    std::snprintf(facts, sizeof facts, "%s family %u (0x%x) model %u (0x%x)", vendor, cpu.family, cpu.family,
                  cpu.model, cpu.model);
    benchmark::AddCustomContext("cpu", facts);
    std::string name = "?";
    if (FILE *f = std::fopen("/proc/cpuinfo", "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, f) != nullptr)
            if (std::strncmp(line, "model name", 10) == 0) {
                const char *colon = std::strchr(line, ':');
                name = colon != nullptr ? colon + 2 : line;
                name.erase(name.find_last_not_of("\n ") + 1);
                break;
            }
        std::fclose(f);
    }
    benchmark::AddCustomContext("cpu_name", name);
    std::string flags;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    const std::pair<const char *, bool> known[] = {
        {"sse2", __builtin_cpu_supports("sse2")},         {"avx2", __builtin_cpu_supports("avx2")},
        {"avx512f", __builtin_cpu_supports("avx512f")},   {"avx512bw", __builtin_cpu_supports("avx512bw")},
        {"avx512vl", __builtin_cpu_supports("avx512vl")}, {"avx512vbmi", __builtin_cpu_supports("avx512vbmi")}};
    for (const auto &[flag, has] : known)
        if (has)
            flags += (flags.empty() ? "" : " ") + std::string(flag);
#endif
    benchmark::AddCustomContext("cpu_flags", flags.empty() ? "(none the kernels use)" : flags);
    const vantu::PixelKernels &k = vantu::ActiveKernels();
    benchmark::AddCustomContext("kernels", std::string(k.name) + (*k.variant != 0 ? "/" : "") + k.variant);
}

void Register() {
    std::vector<Impl> impls{Ours, Libc};
#ifdef VANTU_BENCH_SDL2
    impls.push_back(Sdl);
#endif
#ifdef VANTU_BENCH_PIXMAN
    impls.push_back(Pixman);
#endif
    impls.push_back(Loop);
    for (int bpp : {8, 16, 32, 24})
        for (Op op : {Clear, Copy, KeyDisc, KeyNoise})
            for (Scene scene : {Full, Mid, Sprites, FullUp, Small, Tiny}) {
                const bool keyed = op == KeyDisc || op == KeyNoise;
                if (bpp == 24 && scene != Full && scene != FullUp)
                    continue;
                if (scene == Tiny && !keyed)
                    continue;
                for (Impl impl : impls) {
                    if (impl == Pixman && (keyed || bpp == 24))
                        continue;
                    if (impl == Loop && scene != Tiny)
                        continue;
                    if (scene == FullUp && impl != Ours && impl != Libc) // the peers take no negative pitch
                        continue;
                    const std::string name = std::string(kOpNames[op]) + "/" + kSceneNames[scene] + "/" +
                                             std::to_string(bpp) + "/" + kImplNames[impl];
                    benchmark::RegisterBenchmark(name.c_str(), BM_Pixels, bpp, op, scene, impl)
                        ->Unit(benchmark::kMicrosecond);
                }
            }
    benchmark::RegisterBenchmark("screen_color/palette/8/ours", BM_ScreenColor8, false)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("screen_color/palette/8/plain", BM_ScreenColor8, true)
        ->Unit(benchmark::kMicrosecond);
    for (Scene scene : {Full, Mid})
        for (Impl impl : {Ours, Libc}) {
            const std::string name = std::string("expand/") + kSceneNames[scene] + "/8/" + kImplNames[impl];
            benchmark::RegisterBenchmark(name.c_str(), BM_Expand, scene, impl)->Unit(benchmark::kMicrosecond);
        }
}

} // namespace

int main(int argc, char **argv) {
    const char *simd = std::getenv("VANTU_SIMD");
    benchmark::AddCustomContext("VANTU_SIMD", simd != nullptr ? simd : "(highest the CPU has)");
    DescribeCpu();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    Register();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

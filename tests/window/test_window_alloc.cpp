// Every allocation the window driver makes fails in turn, alone and from that
// one on, through a host's scenario on a real X server: a full-screen record
// of 8 bits with a palette and a bitmap, a window-mode record, Flip,
// Dealloc, Done. An operation whose allocation failed gives false or null and
// leaves no screen and no window behind; it succeeds once memory is there
// again; and when the records are gone the driver holds no block. The
// driver's objects are linked here with --wrap (heap_faults.h); SDL's own
// allocations are SDL's and are not counted.
#include <vantu/driver.h>

#include <SDL.h>
#include <gtest/gtest.h>

#include <cstring>

#include "heap_faults.h"

namespace {

using vantu::test::Heap;

SDL_Window *DriverWindow() {
    for (Uint32 id = 0; id < 1000; ++id)
        if (SDL_Window *window = SDL_GetWindowFromID(id))
            if (std::strcmp(SDL_GetWindowTitle(window), "SDL screen driver") == 0)
                return window;
    return nullptr;
}

// Runs `step`; when it failed, expects `failed` to hold and runs it again,
// which must succeed: the failing allocation was the only one.
template <class Step, class Failed>
bool Retry(bool single, Step step, Failed failed) {
    if (step())
        return true;
    EXPECT_TRUE(failed());
    return single && step();
}

void Scenario(SDL_Window *host, bool single) {
    SCommonRec *r = VANTU_DLL_Init(0, nullptr);
    if (r == nullptr)
        return;
    const auto noScreen = [&] { return !r->allocated && r->screenBitmap == nullptr && DriverWindow() == nullptr; };
    if (Retry(single, [&] { return r->AllocFullScreen(r, 0, 0, 0, 64, 48, 8, 0, 0) != 0; }, noScreen)) {
        const uint32_t colours[2] = {0, 0x7F0000};
        SCommonPalette *palette = r->InitPalette(r, colours, 2);
        SCommonBitmap *bitmap = r->InitBitmap(r, 5, 7);
        EXPECT_TRUE(bitmap == nullptr || bitmap->info.bits != nullptr);
        r->SetBitmapPalette(r, r->screenBitmap, palette);
        EXPECT_TRUE(r->ClearBitmap(r, r->screenBitmap, 1));
        if (bitmap != nullptr) {
            EXPECT_TRUE(r->ClearBitmap(r, bitmap, 1));
            EXPECT_TRUE(r->CopyEntireBitmap(r, r->screenBitmap, bitmap, 3, 3, 1));
        }
        EXPECT_TRUE(r->Flip(r));
        r->DoneBitmap(r, bitmap);
        r->DonePalette(r, palette);
        EXPECT_TRUE(r->Dealloc(r));
    }
    SCommonRec *w = VANTU_DLL_Init(0, nullptr);
    if (w != nullptr) {
        const auto windowFree = [&] { return !w->allocated && SDL_GetRenderer(host) == nullptr; };
        if (Retry(single, [&] { return w->AllocWindow(w, 0, 0, SDL_GetWindowID(host)) != 0; }, windowFree))
            EXPECT_TRUE(w->Flip(w));
        EXPECT_TRUE(w->Done(w)); // Done deallocates
    }
    EXPECT_TRUE(r->Done(r));
}

TEST(WindowAllocationFailures, EveryAllocationFailingInTurn) {
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
    SDL_Window *host = SDL_CreateWindow("host", 0, 0, 40, 30, SDL_WINDOW_BORDERLESS);
    ASSERT_NE(host, nullptr);
    Heap().Start(0, false);
    Scenario(host, false);
    const int total = Heap().allocations;
    Heap().watching = false;
    EXPECT_EQ(Heap().live, 0u);
    ASSERT_GE(total, 8) << "two records, their placeholders, screens, back buffers, presenters, palette, bitmap";
    for (const bool onwards : {false, true})
        for (int n = 1; n <= total; ++n) {
            SCOPED_TRACE((onwards ? "from allocation " : "allocation ") + std::to_string(n));
            Heap().Start(n, onwards);
            Scenario(host, !onwards);
            Heap().watching = false;
            EXPECT_GE(Heap().failed, 1);
            EXPECT_EQ(Heap().live, 0u) << "blocks the driver still holds";
            EXPECT_EQ(DriverWindow(), nullptr);
        }
    SDL_DestroyWindow(host);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

} // namespace

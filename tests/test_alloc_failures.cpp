// Every allocation the driver makes fails in turn, alone and from that one
// on, through a whole host scenario: a record with callbacks, screens of 8,
// 16, 24 and 32 bits, palettes, bitmaps, clears and copies (overlapping ones
// included), Dealloc, AllocBuffer again, Done. An operation whose allocation
// failed gives false or null and leaves what a host sees as the failure
// leaves it; the same operation succeeds once memory is there again; every
// pixel equals the plain model's; and when the record is gone the driver
// holds no block. The harness (heap_faults.h) counts and fails the driver's
// allocations: the library's own objects linked with --wrap, or the 32-bit
// DLL through the PE loader's msvcrt shims.
#include <vantu/driver.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "heap_faults.h"
#include "support.h"

#if defined(VANTU_HOST_PE_LOADER)
#include "host_module.h"
#include "pe_internal.h"
#endif

#if defined(VANTU_HOST_PE_LOADER)
vantu::test::HeapFaults &vantu::test::Heap() {
    static HeapFaults heap;
    return heap;
}
#endif

namespace {

using namespace vantu::test;

VantuDllInitFunc Entry() {
#if defined(VANTU_HOST_PE_LOADER)
    static const bool watched = [] {
        static const pe_heap_watch watch = {[] { return Heap().Allow() ? 1 : 0; },
                                            [](void *gone, void *came) { Heap().Track(gone, came); }};
        pe_heap_watch_now = &watch;
        return true;
    }();
    (void)watched;
    return DriverInit();
#else
    return VANTU_DLL_Init;
#endif
}

vantu_bool VANTU_CALL Agree(SCommonRec *, uint32_t) { return 1; }
const SCommonCallbacks kCallbacks = {Agree, Agree, 0};

bool Succeeded(vantu_bool result) { return result != 0; }
template <class T>
bool Succeeded(T *result) {
    return result != nullptr;
}

size_t Length(const SCommonList &list) {
    size_t n = 0;
    for (const SCommonLink *link = list.first; link != nullptr; link = link->next)
        ++n;
    return n;
}

// One run of the scenario under one plan of failures.
class Plan {
  public:
    Plan(int failAt, bool onwards) { Heap().Start(failAt, onwards); }
    ~Plan() { Heap().watching = false; }
    Plan(const Plan &) = delete;
    Plan &operator=(const Plan &) = delete;

    // `op` under the plan. Failure must come from a failed allocation inside
    // it and leave `state` as it was; then `op` runs again with memory to
    // spare and must succeed. `tolerant`: the op may absorb a failed
    // allocation and still succeed.
    template <class Op, class State>
    auto Try(const char *what, Op op, State state, bool tolerant = false) {
        const auto before = state();
        const int failedBefore = Heap().failed;
        auto result = op();
        const bool injected = Heap().failed != failedBefore;
        if (Succeeded(result)) {
            EXPECT_TRUE(!injected || tolerant) << what << " succeeded although an allocation it made failed";
            return result;
        }
        EXPECT_TRUE(injected) << what << " failed with memory to spare";
        EXPECT_EQ(state(), before) << what << " failed and changed what a host sees";
        ++refused;
        Heap().paused = true;
        result = op();
        Heap().paused = false;
        EXPECT_TRUE(Succeeded(result)) << what << " failed again with memory there";
        return result;
    }

    int refused = 0;
};

// What an allocation's failure must leave as it was.
std::vector<uintptr_t> Lists(SCommonRec *r) { return {Length(r->palettes), Length(r->bitmaps)}; }
std::vector<uintptr_t> NotAllocated(SCommonRec *r) {
    return {r->allocated, r->allocMode, r->readied, r->surfacesAllocated, Length(r->bitmaps),
            reinterpret_cast<uintptr_t>(r->screenInfo.bits)};
}

// A bitmap of `r` over host memory that `info` describes, initialized without a write.
void PointAt(SCommonRec *r, SCommonBitmap *b, const SBitmapInfo &info) {
    SBitmapInfo *mine = r->LockBitmap(r, b);
    ASSERT_NE(mine, nullptr);
    mine->width = info.width, mine->height = info.height, mine->pitch = info.pitch, mine->bits = info.bits;
    EXPECT_TRUE(r->UnlockBitmap(r, b));
}

void Scenario(Plan &run) {
    SCommonRec *const r = run.Try(
        "VANTU_DLL_Init", [] { return Entry()(7, nullptr); }, [] { return 0; },
        true); // without its placeholder screen or its mutex a record still works
    ASSERT_NE(r, nullptr);
    ASSERT_TRUE(r->SetCallbacks(r, &kCallbacks, nullptr));
    if (r->drawMutex == nullptr)
        EXPECT_EQ(r->DrawBegin(r), nullptr) << "no mutex, no drawing";
    constexpr uint32_t kW = 40, kH = 6;
    for (const uint32_t bpp : {8u, 16u, 24u, 32u}) {
        SCOPED_TRACE(testing::Message() << bpp << " bits per pixel");
        const uint32_t p = bpp / 8, stride = 2 * kW * p; // every row followed by a row's worth of padding
        Arena arena(Extent(kW * p, kH, stride) + kW * p * kH), model(arena.Size());
        for (size_t i = 0; i < arena.Size(); ++i) // pixels wholly and partly 0 among the others
            arena.Data()[i] = uint8_t(i % 5 < 2 ? 0 : i * 13);
        model.bytes = arena.bytes;
        SBitmapInfo screen = Describe(arena, 0, kW, kH, bpp, stride, bpp == 16);
        screen.redMask = bpp == 16 ? 0xF800 : 0xFF0000, screen.greenMask = 0xFF00, screen.blueMask = 0xFF;
        const SBitmapInfo sprite = Describe(arena, Extent(kW * p, kH, stride), kW, kH, bpp, kW * p, false);
        auto check = [&](const char *after) {
            const auto differ = std::mismatch(arena.bytes.begin(), arena.bytes.end(), model.bytes.begin());
            ASSERT_TRUE(differ.first == arena.bytes.end())
                << "after " << after << ": byte " << (differ.first - arena.bytes.begin()) << " of the host's memory is "
                << int(*differ.first) << ", the model says " << int(*differ.second);
        };

        ASSERT_TRUE(run.Try("AllocBuffer", [&] { return r->AllocBuffer(r, 0, 0, &screen); },
                            [&] { return NotAllocated(r); }));
        SCommonBitmap *const scr = r->screenBitmap;
        ASSERT_TRUE(r->ClearBitmap(r, scr, 0x3C5A7E));
        ModelClear(Rebase(screen, arena, model), 0x3C5A7E);
        check("the screen's clear");

        const uint32_t colours[3] = {0, 0x7F7F7F, 0x102030};
        SCommonPalette *const palette =
            run.Try("InitPalette", [&] { return r->InitPalette(r, colours, 3); }, [&] { return Lists(r); });
        ASSERT_TRUE(r->SetBitmapPalette(r, scr, palette));
        EXPECT_NE(r->GetScreenColor(r, scr, 0x7F7F7F), 0u);

        SCommonBitmap *const bmp =
            run.Try("InitBitmap", [&] { return r->InitBitmap(r, kW, kH); }, [&] { return Lists(r); });
        PointAt(r, bmp, sprite);
        ASSERT_TRUE(r->ClearBitmap(r, bmp, 0));
        ModelClear(Rebase(sprite, arena, model), 0);
        for (int32_t x = 3; x < 30; x += 4)
            ASSERT_TRUE(r->CopyBitmap(r, bmp, scr, x, 1, x / 2, x % 5, 3, 4, 0));
        for (int32_t x = 3; x < 30; x += 4)
            ModelCopy(Rebase(sprite, arena, model), Rebase(screen, arena, model), x, 1, x / 2, x % 5, 3, 4, false);
        ASSERT_TRUE(r->CopyEntireBitmap(r, scr, bmp, -5, 2, 1));
        ModelCopy(Rebase(screen, arena, model), Rebase(sprite, arena, model), 0, 0, -5, 2, 0, 0, true);
        check("copies between the screen and a bitmap");

        // Over the screen's own memory: rows of the same bytes at another
        // pitch (they share bytes with the screen's: a temporary, which may
        // fail and then writes nothing), and rows that fall in the screen's
        // padding (they share none: no allocation at all).
        SBitmapInfo tight = screen, between = screen;
        tight.pitch = uint32_t(int32_t(screen.pitch) / 2), tight.height = kH * 2 - 1;
        between.bits = static_cast<uint8_t *>(screen.bits) + kW * p, between.pitch = 2 * screen.pitch,
        between.height = kH / 2;
        for (const bool keyed : {false, true}) {
            SCommonBitmap *const alias =
                run.Try("InitBitmap", [&] { return r->InitBitmap(r, kW, kH * 2 - 1); }, [&] { return Lists(r); });
            PointAt(r, alias, tight);
            const std::vector<uint8_t> was = arena.bytes;
            if (run.Try("a copy through a temporary",
                        [&] { return r->CopyBitmap(r, scr, alias, 1, 1, 3, 0, 30, 5, keyed); },
                        [&] { return arena.bytes == was; }))
                ModelCopy(Rebase(screen, arena, model), Rebase(tight, arena, model), 1, 1, 3, 0, 30, 5, keyed);
            check("a copy between overlapping surfaces");
            PointAt(r, alias, between);
            const int allocations = Heap().allocations;
            EXPECT_TRUE(r->CopyBitmap(r, alias, scr, 2, 0, 0, 0, 0, 0, keyed));
            EXPECT_EQ(Heap().allocations, allocations) << "rows that share no byte need no temporary";
            ModelCopy(Rebase(between, arena, model), Rebase(screen, arena, model), 2, 0, 0, 0, 0, 0, keyed);
            check("a copy between interleaved surfaces");
            EXPECT_TRUE(r->DoneBitmap(r, alias));
        }
        if (r->drawMutex != nullptr) {
            EXPECT_EQ(r->DrawBegin(r), &r->version);
            EXPECT_TRUE(r->DrawEnd(r));
        }
        EXPECT_TRUE(r->DoneBitmap(r, bmp));
        EXPECT_TRUE(r->DonePalette(r, palette));
        EXPECT_TRUE(r->Dealloc(r));
        EXPECT_TRUE(arena.GuardsIntact());
    }
    // Once more, and Done ends the allocation.
    std::vector<uint32_t> last(8 * 8);
    const SBitmapInfo again = {8, 8, 32, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0, last.data()};
    ASSERT_TRUE(run.Try("AllocBuffer again", [&] { return r->AllocBuffer(r, 0, 0, &again); },
                        [&] { return NotAllocated(r); }));
    EXPECT_TRUE(r->Done(r));
    std::string held;
    for (size_t i = 0; i < Heap().live; ++i)
        held += " " + std::to_string(Heap().made[i]);
    EXPECT_EQ(Heap().live, 0u) << "blocks the driver still holds after Done, made by allocations" << held;
}

TEST(AllocationFailures, EveryAllocationFailsInTurn) {
    ASSERT_NE(Entry(), nullptr); // loaded before the watch: what loading allocates is the loader's
    int allocations = 0;
    {
        Plan clean(0, false);
        Scenario(clean);
        allocations = Heap().allocations;
        EXPECT_EQ(clean.refused, 0);
    }
    ASSERT_GT(allocations, 20) << "the scenario reaches every kind of allocation";
    std::printf("the scenario makes %d allocations\n", allocations);
    for (int at = 1; at <= allocations; ++at)
        for (const bool onwards : {false, true}) {
            SCOPED_TRACE(testing::Message() << "allocation " << at << (onwards ? " and every later one" : "")
                                            << " fails");
            Plan run(at, onwards);
            Scenario(run);
            EXPECT_GE(Heap().failed, 1);
            if (HasFailure())
                return; // the first plan that fails says enough
        }
}

} // namespace

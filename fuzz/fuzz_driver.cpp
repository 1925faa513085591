// libFuzzer target: a careless host, decoded from the input (fuzz/make_corpus.py writes it), drives
// two driver records through their slots, writes any field of any bitmap description (surfaces in
// one guarded arena, top-down, bottom-up, over one another), shares palettes, raises and lowers the
// counts it holds, keeps former screen bitmaps and calls slots from its debug function. After every
// call it traps unless the arena, guards included, equals a copy on which the model of
// tests/support.h ran every clear and copy, the lists hold exactly the live objects both ways,
// counts equal the holders and the flags agree. All is released at the end, for LeakSanitizer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common.h"
#include "support.h"

namespace {

namespace model = vantu::test;

#define FUZZ_CHECK(cond)                                                                                             \
    ((cond) ? void() : (std::fprintf(stderr, "fuzz_driver: line %d: %s\n", __LINE__, #cond), __builtin_trap()))

// The input, byte by byte; zeros once it is used up.
struct Input {
    const uint8_t *data;
    size_t size, pos = 0;
    uint8_t Byte() { return pos < size ? data[pos++] : 0; }
    bool Bool() { return (Byte() & 1) != 0; }
    uint32_t U32() { return Byte() | uint32_t{Byte()} << 8 | uint32_t{Byte()} << 16 | uint32_t{Byte()} << 24; }
    size_t Below(size_t n) { return (Byte() | size_t{Byte()} << 8) % n; }
    int32_t Int() { // mostly -64..63, sometimes at or near the ends of the i32 range
        const uint8_t kind = Byte() % 8;
        return kind == 5   ? INT32_MIN + Byte() % 4
               : kind == 6 ? INT32_MAX - Byte() % 4
               : kind == 7 ? static_cast<int32_t>(U32())
                           : static_cast<int8_t>(Byte()) / 2;
    }
    uint32_t Size() { // mostly below 40, rows of over 1 KiB now and then
        const uint8_t kind = Byte() % 8;
        return static_cast<uint32_t>(kind == 0 ? Int() : kind == 1 ? 256 + Byte() : Byte() % 40);
    }
};

constexpr size_t kArenaBytes = 8192;
constexpr uint32_t kDepths[] = {8, 16, 32, 24, 16, 32, 12, 0, 40, 7};

// Counts as the host sees them: its own references, and the one the driver keeps on the screen
// bitmaps it made (the current one; superseded ones until the record's memory goes). record -1:
// the record's memory went, leaving the object detached.
struct BitmapModel {
    SCommonBitmap *ptr;
    int record, hostRefs;
    bool driverHeld;
    SCommonPalette *palette;
};
struct PaletteModel {
    SCommonPalette *ptr;
    int record, hostRefs;
};
struct RecordModel {
    SCommonRec *rec = nullptr;
    SCommonBitmap *screen = nullptr;
    int hostRefs = 1, reenter = 0; // reenter: messages and callbacks left at which the host calls a slot
    bool finalized = false, drawing = false, allocAnswer = true, deallocAnswer = true;
};
struct World {
    model::Arena arena{kArenaBytes}, shadow{kArenaBytes}; // the host's memory, and the model's copy
    RecordModel records[2];
    std::vector<BitmapModel> bitmaps;   // creation order, all records
    std::vector<PaletteModel> palettes; // creation order, all records
    Input *in = nullptr;
    int depth = 0;            // 1 while the host is called back
    unsigned long nested = 0; // steps taken while called back
} g;

void Step(Input &in);

template <typename Model, typename Ptr>
Model *Find(std::vector<Model> &models, const Ptr *ptr) {
    auto it = std::find_if(models.begin(), models.end(), [ptr](auto &m) { return ptr && m.ptr == ptr; });
    return it != models.end() ? &*it : nullptr;
}
int Holders(const SCommonPalette *p) {
    return static_cast<int>(
        std::count_if(g.bitmaps.begin(), g.bitmaps.end(), [p](auto &b) { return b.palette == p; }));
}
// Forgets what nobody holds any more: the driver freed it (a bitmap's palette reference with it).
void Forget() {
    std::erase_if(g.bitmaps, [](auto &b) { return b.hostRefs == 0 && !b.driverHeld; });
    std::erase_if(g.palettes, [](auto &p) { return p.hostRefs == 0 && Holders(p.ptr) == 0; });
}
// One of the models that pass `take`, or null.
template <typename Model, typename Take>
auto Pick(Input &in, const std::vector<Model> &from, Take take) {
    std::vector<decltype(Model::ptr)> ptrs;
    for (const Model &m : from)
        if (take(m))
            ptrs.push_back(m.ptr);
    const size_t i = in.Byte() % (ptrs.size() + 1);
    return i < ptrs.size() ? ptrs[i] : nullptr;
}
constexpr auto kAny = [](const auto &) { return true; };
SCommonBitmap *PickBitmap(Input &in) { return Pick(in, g.bitmaps, kAny); }

// ---- The host's memory -------------------------------------------------------------------------

int64_t Offset(const void *p) {
    return static_cast<int64_t>(reinterpret_cast<uintptr_t>(p) - reinterpret_cast<uintptr_t>(g.arena.Data()));
}
// Before pixel work the host takes back a description unless every pixel it reaches, read as the
// 32-bit machine reads it, lies in the arena, with no more pixels than bytes (rows over one another
// could make billions): the driver gave the bitmap a new size or format, or the host was careless.
void Withdraw(SCommonBitmap *b) {
    if (b == nullptr || b->info.bits == nullptr)
        return;
    const int64_t w = static_cast<int32_t>(b->info.width), h = static_cast<int32_t>(b->info.height);
    const int64_t p = b->info.bitsPerPixel / 8, last = (h - 1) * static_cast<int32_t>(b->info.pitch);
    const int64_t lo = Offset(b->info.bits) + std::min<int64_t>(last, 0), hi = lo + std::abs(last) + w * p;
    if (w > 0 && h > 0 && p > 0 && (lo < 0 || hi > int64_t{kArenaBytes} || w * h > int64_t{kArenaBytes}))
        b->info.bits = nullptr;
}
// pitch and bits for the description's size and format: rows 0 to 7 bytes apart beyond their
// pixels, top-down or bottom-up, at the arena's start, flush with its end, or anywhere between.
void Place(Input &in, SBitmapInfo &info) {
    const auto w = static_cast<uint32_t>(std::max(static_cast<int32_t>(info.width), 0));
    const auto h = static_cast<uint32_t>(std::max(static_cast<int32_t>(info.height), 0));
    const uint64_t row = uint64_t{w} * (info.bitsPerPixel / 8), stride = row + in.Byte() % 8;
    const uint64_t extent = model::Extent(row, h, stride);
    const uint8_t how = in.Byte();
    info.pitch = static_cast<uint32_t>(stride), info.bits = nullptr;
    if (extent > kArenaBytes)
        return;
    const size_t at = how % 4 == 0 ? kArenaBytes - extent : how % 4 == 1 ? 0 : in.Below(kArenaBytes - extent + 1);
    const SBitmapInfo d = model::Describe(g.arena, at, w, h, 8, info.pitch, (how & 4) != 0);
    info.pitch = d.pitch, info.bits = d.bits;
}

// ---- What the driver does behind the host's back -------------------------------------------------

// The record's screen bitmap is now `now`. A new one is the driver's. The one before is superseded
// (the driver keeps it until the record's memory goes) or given up; if it lives on, it no longer
// describes a buffer.
void Follow(int r, SCommonBitmap *now, bool superseded) {
    RecordModel &m = g.records[r];
    if (now == m.screen)
        return;
    if (BitmapModel *old = Find(g.bitmaps, m.screen)) {
        old->driverHeld = superseded;
        FUZZ_CHECK((!superseded && !old->hostRefs) || (old->ptr->info.bits == nullptr && old->ptr->info.pitch == 0));
    }
    if (now != nullptr && Find(g.bitmaps, now) == nullptr)
        g.bitmaps.push_back({now, r, 0, true, nullptr});
    m.screen = now;
    Forget();
}
// The driver calls the host back in the middle of an operation: the model catches up with the
// screen bitmap (a new one mid-call came from AllocBuffer, none means it was given up), and an
// armed host calls a slot of its own (neither Done, Dealloc nor AllocBuffer).
void Observe(SCommonRec *rec) {
    for (int r = 0; r < 2; ++r)
        if (rec != nullptr && g.records[r].rec == rec) {
            Follow(r, rec->screenBitmap, rec->screenBitmap != nullptr);
            if (g.depth == 0 && g.records[r].reenter > 0) {
                --g.records[r].reenter, ++g.depth, ++g.nested;
                Step(*g.in);
                --g.depth;
            }
        }
}
void VANTU_CALL HostDebug(SCommonRec *rec, const char *text) {
    FUZZ_CHECK(text != nullptr && std::strncmp(text, "VANTU: ", 7) == 0 && std::strlen(text) < 1000);
    Observe(rec);
}
// The driver calls the callbacks in force, read at their call, with their own user data.
template <bool Alloc>
vantu_bool VANTU_CALL HostSurfaces(SCommonRec *rec, uint32_t userData) {
    const RecordModel &m = g.records[rec == g.records[0].rec ? 0 : 1];
    FUZZ_CHECK(m.rec == rec && userData == rec->callbacks.userData &&
               (Alloc ? rec->callbacks.allocSurfaces : rec->callbacks.deallocSurfaces) == HostSurfaces<Alloc>);
    Observe(rec);
    return (Alloc ? m.allocAnswer : m.deallocAnswer) ? 1 : 0;
}

// ---- Invariants ----------------------------------------------------------------------------------

// Walks a list both ways and checks it holds exactly the models of record r, in order.
template <typename Model>
void CheckList(SCommonList &list, const std::vector<Model> &models, int r) {
    std::vector<SCommonLink *> expected;
    for (const Model &m : models)
        if (m.record == r)
            expected.push_back(&m.ptr->link);
    size_t i = 0;
    SCommonLink *prev = nullptr;
    for (SCommonLink *l = list.first; l != nullptr; prev = l, l = l->next, ++i)
        FUZZ_CHECK(i < expected.size() && l == expected[i] && l->list == &list && l->prev == prev);
    FUZZ_CHECK(i == expected.size() && list.last == prev);
    for (SCommonLink *l = list.last; l != nullptr; l = l->prev)
        FUZZ_CHECK(i > 0 && l == expected[--i]);
}
bool Detached(const SCommonLink &l) { return !l.next && !l.prev && !l.list; }
// The padding before `bits` is nobody's business.
bool SameInfo(const SBitmapInfo &a, const SBitmapInfo &b) {
    return a.bits == b.bits && !std::memcmp(&a, &b, offsetof(SBitmapInfo, formatOpaque2) + sizeof(uint32_t));
}

// Ready exactly while allocated, host surfaces only while ready, an allocation has a screen bitmap
// and a conversion, a Done closed the drawing mutex; the arena holds what the model wrote.
void CheckAll() {
    for (int r = 0; r < 2; ++r)
        if (const RecordModel &m = g.records[r]; SCommonRec *rec = m.rec) {
            FUZZ_CHECK(rec->header.refCount == m.hostRefs && rec->allocated <= 1 && rec->readied == rec->allocated &&
                       rec->surfacesAllocated <= rec->readied && rec->drawing == (m.drawing ? 1 : 0) &&
                       rec->allocMode == (rec->allocated ? 3u : 0u) && rec->screenBitmap == m.screen &&
                       (rec->drawMutex == nullptr) == m.finalized);
            FUZZ_CHECK(rec->allocated ? m.screen && m.screen->isScreen && rec->GetScreenColor != nullptr &&
                                            rec->GetScreenColor != CommonGetScreenColorFail
                                      : SameInfo(rec->bufferInfo, {}) && rec->allocFlags == 0 &&
                                            rec->subDevice == 0 && (m.screen || SameInfo(rec->screenInfo, {})));
            CheckList(rec->bitmaps, g.bitmaps, r);
            CheckList(rec->palettes, g.palettes, r);
        }
    for (const BitmapModel &b : g.bitmaps)
        FUZZ_CHECK(b.ptr->header.size == sizeof(SCommonBitmap) && b.ptr->header.destruct == BitmapDestruct &&
                   b.ptr->header.refCount == b.hostRefs + b.driverHeld && b.ptr->palette == b.palette &&
                   b.ptr->isLocked <= 1 && b.ptr->isScreen <= 1 && b.ptr->isAllocated <= 1 &&
                   b.ptr->isInitialized <= b.ptr->isAllocated &&
                   (b.record < 0 ? Detached(b.ptr->link) : b.ptr->isAllocated >= g.records[b.record].rec->readied));
    for (const PaletteModel &p : g.palettes)
        FUZZ_CHECK(p.ptr->header.size == sizeof(SCommonPalette) && p.ptr->header.destruct == PaletteDestruct &&
                   p.ptr->header.refCount == p.hostRefs + Holders(p.ptr) && (p.record >= 0 || Detached(p.ptr->link)));
    FUZZ_CHECK(g.arena.bytes == g.shadow.bytes);
}

// ---- Operations ----------------------------------------------------------------------------------

// Finalization every time; the memory goes at the last count, detaching what the host still holds
// and freeing the superseded screens nobody else holds.
void OpDoneRecord(Input &, SCommonRec *rec, int r) {
    RecordModel &m = g.records[r];
    FUZZ_CHECK(rec->Done(rec) == 1);
    m.finalized = true;
    Follow(r, nullptr, false);
    if (--m.hostRefs > 0)
        return;
    for (BitmapModel &b : g.bitmaps)
        if (b.record == r)
            b.record = -1, b.driverHeld = false;
    for (PaletteModel &p : g.palettes)
        p.record = p.record == r ? -1 : p.record;
    m = RecordModel{};
    Forget();
}

// Exactly as many colour words as the count asks for (0 to 256), so that reading past them is caught.
void OpInitPalette(Input &in, SCommonRec *rec, int r) {
    const size_t count = in.Byte();
    const std::vector<uint32_t> colours(count == 255 ? 256 : count, 0x10203);
    SCommonPalette *p = rec->InitPalette(rec, colours.data(), static_cast<int32_t>(colours.size()));
    FUZZ_CHECK(p != nullptr);
    g.palettes.push_back({p, r, 1});
}

// Made allocated on a ready driver; refused while allocated but not ready (only mid-call).
void OpInitBitmap(Input &in, SCommonRec *rec, int r) {
    const bool screen = in.Byte() % 4 == 0, ready = rec->readied;
    const uint32_t width = in.Size(), height = in.Size();
    SCommonBitmap *b = screen ? rec->InitScreenBitmap(rec)
                              : rec->InitBitmap(rec, static_cast<int32_t>(width), static_cast<int32_t>(height));
    FUZZ_CHECK((b == nullptr) == (rec->allocated && !ready) &&
               (!b || (b->isAllocated == ready && b->isScreen == screen && !b->isInitialized && !b->info.bits)));
    if (b != nullptr)
        g.bitmaps.push_back({b, r, 1, false, nullptr});
}

// The host raises a count, lowers one it holds above what others hold, or gives a reference back
// through this record's DonePalette or DoneBitmap: the record's own count, or any bitmap's or
// palette's, of either record or detached (keeping a screen bitmap is raising its count).
// DoneBitmap refuses this record's current screen bitmap, held or not.
void OpRefs(Input &in, SCommonRec *rec, int r) {
    const uint8_t how = in.Byte(), what = how % 3, act = how / 3 % 3;
    SCommonBitmap *b = what == 1 ? PickBitmap(in) : nullptr;
    SCommonPalette *p = what == 2 ? Pick(in, g.palettes, kAny) : nullptr;
    if (what != 0 && !b && !p)
        return;
    int32_t *count = b ? &b->header.refCount : p ? &p->header.refCount : &rec->header.refCount;
    int *held = b ? &Find(g.bitmaps, b)->hostRefs : p ? &Find(g.palettes, p)->hostRefs : &g.records[r].hostRefs;
    if (act == 0) {
        ++*count, ++*held;
    } else if (act == 1 || what == 0) {
        if (*count >= 2 && *held >= 1)
            --*count, --*held;
    } else if (b != nullptr && (*held > 0 || b == rec->screenBitmap)) {
        const vantu_bool result = rec->DoneBitmap(rec, b);
        FUZZ_CHECK(result == (b != rec->screenBitmap ? 1 : 0));
        *held -= result;
    } else if (p != nullptr && *held > 0) {
        FUZZ_CHECK(rec->DonePalette(rec, p) == 1), --*held;
    }
    Forget();
}

// The host writes one field of any bitmap's description, a whole layout in its memory, the layout
// of another bitmap shifted by a pixel or a row (scrolling through a second bitmap), or its palette
// (of either record).
void OpWrite(Input &in, SCommonRec *rec, int) {
    SCommonBitmap *b = PickBitmap(in);
    SBitmapInfo *info = rec->GetBitmapInfo(rec, b);
    FUZZ_CHECK(info == (b != nullptr ? &b->info : nullptr));
    const uint8_t field = in.Byte(), how = in.Byte();
    if (info == nullptr)
        return;
    const int64_t row = int64_t{static_cast<int32_t>(info->width)} * (info->bitsPerPixel / 8);
    switch (field % 9) {
    case 0: info->width = in.Size(); break;
    case 1: info->height = in.Size(); break;
    case 2: info->pitch = how & 1 ? in.U32() : static_cast<uint32_t>((row + how / 4 % 8) * (how & 2 ? -1 : 1)); break;
    case 3: info->bitsPerPixel = kDepths[how % std::size(kDepths)]; break;
    case 4: info->bits = how & 1 ? nullptr : g.arena.Data() + in.Below(kArenaBytes); break;
    case 5:
    case 6: info->width = in.Size(), info->height = in.Size(), Place(in, *info); break;
    case 7:
        if (SCommonBitmap *o = PickBitmap(in); o != nullptr && o->info.bits != nullptr) {
            const int64_t p = o->info.bitsPerPixel / 8, pitch = static_cast<int32_t>(o->info.pitch);
            const int64_t shifts[] = {0, p, -p, pitch, -pitch, pitch + p},
                          at = Offset(o->info.bits) + shifts[how % 6];
            *info = o->info;
            info->bits = at >= 0 && at <= int64_t{kArenaBytes} ? g.arena.Data() + at : o->info.bits;
        }
        break;
    default:
        SCommonPalette *p = Pick(in, g.palettes, kAny);
        FUZZ_CHECK(rec->SetBitmapPalette(rec, b, p) == 1);
        Find(g.bitmaps, b)->palette = p;
        Forget();
    }
}

// Lock, unlock and clear take allocated bitmaps only; a locked one cannot be cleared. A clear
// writes what the model writes, and even a refused one marks an allocated bitmap initialized.
void OpLockOrClear(Input &in, SCommonRec *rec, int) {
    SCommonBitmap *b = PickBitmap(in);
    const bool usable = b && b->isAllocated, locked = b && b->isLocked;
    if (const uint8_t how = in.Byte() % 3; how == 0) {
        FUZZ_CHECK(rec->LockBitmap(rec, b) == (usable && !locked ? &b->info : nullptr));
    } else if (how == 1) {
        FUZZ_CHECK(rec->UnlockBitmap(rec, b) == (usable && locked ? 1 : 0) &&
                   (!usable || !locked || b->isInitialized));
    } else {
        const uint32_t pixel = in.U32();
        Withdraw(b);
        const bool ok = usable && !locked && b->info.bits != nullptr;
        if (ok)
            model::ModelClear(model::Rebase(b->info, g.arena, g.shadow), pixel);
        FUZZ_CHECK(rec->ClearBitmap(rec, b, pixel) == (ok ? 1 : 0) && (!usable || b->isInitialized) &&
                   (!b || b->isLocked == locked) && g.arena.bytes == g.shadow.bytes);
    }
}

// Refused, writing nothing: unallocated bitmaps, a source never initialized, a copy onto itself,
// a locked bitmap, null bits, pixel sizes that differ. Otherwise true and the model's pixels.
void OpCopy(Input &in, SCommonRec *rec, int) {
    SCommonBitmap *dst = PickBitmap(in), *src = in.Byte() % 8 == 0 ? dst : PickBitmap(in);
    const bool entire = in.Bool(), keyed = in.Bool();
    int32_t sx = in.Int(), sy = in.Int(), w = in.Int(), h = in.Int();
    const int32_t dx = in.Int(), dy = in.Int();
    if (entire)
        sx = sy = w = h = 0;
    Withdraw(dst), Withdraw(src);
    const bool checked = dst && src && dst->isAllocated && src->isAllocated && src->isInitialized;
    const bool ok = checked && dst != src && !dst->isLocked && !src->isLocked && dst->info.bits && src->info.bits &&
                    dst->info.bitsPerPixel / 8 == src->info.bitsPerPixel / 8;
    const bool dstInit = dst && dst->isInitialized, dstLocked = dst && dst->isLocked,
               srcLocked = src && src->isLocked;
    if (ok)
        model::ModelCopy(model::Rebase(dst->info, g.arena, g.shadow), model::Rebase(src->info, g.arena, g.shadow), sx,
                         sy, dx, dy, w, h, keyed);
    const vantu_bool result = entire ? rec->CopyEntireBitmap(rec, dst, src, dx, dy, keyed)
                                     : rec->CopyBitmap(rec, dst, src, sx, sy, dx, dy, w, h, keyed);
    FUZZ_CHECK(result == (ok ? 1 : 0) && (!src || src->isLocked == srcLocked) && g.arena.bytes == g.shadow.bytes &&
               (!dst || (dst->isInitialized == (checked || dstInit) && dst->isLocked == dstLocked)));
}

// Allocated already: the allocation in force stays, only the description is recorded. Else a new
// screen bitmap over the buffer (in the arena, or none), superseding the one before.
void OpAllocBuffer(Input &in, SCommonRec *rec, int r) {
    static constexpr uint32_t kMasks[8][3] = {{0x7C00, 0x3E0, 0x1F},
                                              {0xF800, 0x7E0, 0x1F},
                                              {0xFF0000, 0xFF00, 0xFF},
                                              {0xFF, 0xFF00, 0xFF0000},
                                              {0, 0, 0},
                                              {0xF00, 0xF0, 0xF},
                                              {0x80000001, 6, 0x7FFFFFF0},
                                              {~0u, ~0u, 0}};
    const uint32_t flags = in.Byte();
    const int32_t sub = in.Bool() ? in.Int() : 0;
    const uint32_t width = in.Size(), height = in.Size(), depth = kDepths[in.Byte() % std::size(kDepths)];
    const uint32_t *masks = kMasks[in.Byte() % 8], opaque = in.Byte();
    SBitmapInfo d{width, height, 0, opaque, depth, masks[0], masks[1], masks[2], opaque, nullptr};
    if (in.Bool())
        Place(in, d);
    else
        d.pitch = in.U32();
    const bool wasAllocated = rec->allocated;
    SCommonBitmap *old = rec->screenBitmap;
    const unsigned long nested = g.nested;
    const vantu_bool result = rec->AllocBuffer(rec, flags, sub, &d);
    FUZZ_CHECK((!wasAllocated || (result && rec->screenBitmap == old)) && (!result || SameInfo(rec->bufferInfo, d)));
    Follow(r, rec->screenBitmap, g.records[r].screen == old);
    if (!wasAllocated && result == 1 && nested == g.nested) // unless the host wrote it meanwhile
        FUZZ_CHECK(rec->screenBitmap->isInitialized && SameInfo(rec->screenBitmap->info, d));
}

void OpDealloc(Input &, SCommonRec *rec, int r) {
    const bool wasAllocated = rec->allocated;
    SCommonBitmap *screen = rec->screenBitmap;
    const vantu_bool result = rec->Dealloc(rec);
    FUZZ_CHECK(wasAllocated ? result == (rec->screenBitmap == nullptr) : result && rec->screenBitmap == screen);
    Follow(r, rec->screenBitmap, false);
}

// Old callbacks release a ready driver's host surfaces, new ones take them up again; either may refuse.
void OpSetCallbacks(Input &in, SCommonRec *rec, int r) {
    const uint8_t sel = in.Byte();
    const SCommonCallbacks fresh{(sel & 1) ? HostSurfaces<true> : nullptr, (sel & 2) ? HostSurfaces<false> : nullptr,
                                 in.U32()};
    SCommonCallbacks old{};
    g.records[r].deallocAnswer = (sel & 16) != 0, g.records[r].allocAnswer = (sel & 32) != 0;
    FUZZ_CHECK(rec->SetCallbacks(rec, (sel & 4) ? nullptr : &fresh, (sel & 8) ? &old : nullptr) == 1);
    g.records[r].deallocAnswer = (sel & 64) != 0;
}

// A Done closed the mutex: drawing cannot begin again. The debug function may be armed to call a
// slot at each of the next few messages and callbacks.
void OpDrawing(Input &in, SCommonRec *rec, int r) {
    RecordModel &m = g.records[r];
    if (const uint8_t how = in.Byte(); how % 4 == 0) {
        void *const want = m.drawing || rec->drawMutex == nullptr ? nullptr : &rec->version;
        FUZZ_CHECK(rec->DrawBegin(rec) == want);
        m.drawing = m.drawing || want != nullptr;
    } else if (how % 4 == 1) {
        FUZZ_CHECK(rec->DrawEnd(rec) == (m.drawing ? 1 : 0)), m.drawing = false;
    } else if (how % 4 == 2) {
        FUZZ_CHECK(rec->Flip(rec) == !m.drawing && rec->Sync(rec) == (!m.drawing && rec->readied));
    } else {
        const uint8_t arg = in.Byte();
        FUZZ_CHECK(rec->SetDebugMsgFunc(rec, (arg & 1) ? HostDebug : nullptr) == 1);
        m.reenter = arg >> 1 & 7;
    }
}

constexpr void (*kOps[])(Input &, SCommonRec *, int) = {OpDoneRecord, OpInitPalette,  OpInitBitmap, OpRefs,
                                                        OpWrite,      OpLockOrClear,  OpCopy,       OpAllocBuffer,
                                                        OpDealloc,    OpSetCallbacks, OpDrawing};

// One step: an opcode byte (bit 7 the record, the rest modulo the count the operation; a step on a
// record not yet made makes it), then its arguments. A step the host takes from inside the driver
// neither makes records nor calls Done, AllocBuffer or Dealloc. VANTU_FUZZ_TRACE=1 prints the steps.
void Step(Input &in) {
    static const bool trace = std::getenv("VANTU_FUZZ_TRACE") != nullptr;
    const uint8_t op = in.Byte();
    const int r = op >> 7;
    const auto code = kOps[(op & 0x7F) % std::size(kOps)];
    if (trace)
        std::fprintf(stderr, "%srecord %d op %2zu: bitmaps %zu palettes %zu\n", g.depth ? "  inside: " : "", r,
                     (op & 0x7F) % std::size(kOps), g.bitmaps.size(), g.palettes.size());
    RecordModel &m = g.records[r];
    if (m.rec != nullptr && (!g.depth || (code != OpDoneRecord && code != OpAllocBuffer && code != OpDealloc))) {
        code(in, m.rec, r);
    } else if (m.rec == nullptr && !g.depth) { // a new record: its placeholder screen bitmap is the driver's
        const uint32_t handle = in.U32();
        m.rec = VANTU_DLL_Init(handle, in.Bool() ? HostDebug : nullptr);
        FUZZ_CHECK(m.rec != nullptr && m.rec->hostHandle == handle && m.rec->GetScreenColor == nullptr &&
                   m.rec->screenBitmap != nullptr && m.rec->screenBitmap->isScreen);
        Follow(r, m.rec->screenBitmap, false);
    }
    if (!g.depth)
        CheckAll();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Input in{data, size};
    g.in = &in;
    // The host's pixels; an even seed gives runs of 1, 2, 4 or 8 zero bytes, for keyed copies to skip.
    const uint8_t seed = in.Byte();
    for (size_t i = 0; i < kArenaBytes; ++i)
        g.arena.Data()[i] = !(seed & 1) && (i >> (seed >> 1 & 3)) % 3 == 0 ? 0 : uint8_t(seed + 31 * i + (i >> 6));
    g.shadow.bytes = g.arena.bytes;
    for (int steps = 0; steps < 2000 && in.pos < in.size; ++steps)
        Step(in);
    // The host lets go: Done until each record goes, then what it still holds, through a new record.
    ++g.depth;
    for (int r = 0; r < 2; ++r)
        while (g.records[r].rec != nullptr)
            OpDoneRecord(in, g.records[r].rec, r);
    CheckAll();
    SCommonRec *last = VANTU_DLL_Init(0, nullptr);
    for (BitmapModel &b : g.bitmaps)
        for (; b.hostRefs > 0; --b.hostRefs)
            FUZZ_CHECK(last->DoneBitmap(last, b.ptr) == 1);
    for (PaletteModel &p : g.palettes)
        for (; p.hostRefs > 0; --p.hostRefs)
            FUZZ_CHECK(last->DonePalette(last, p.ptr) == 1);
    FUZZ_CHECK(last->Done(last) == 1);
    --g.depth;
    Forget();
    FUZZ_CHECK(g.bitmaps.empty() && g.palettes.empty() && g.arena.bytes == g.shadow.bytes);
    return 0;
}

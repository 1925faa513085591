// libFuzzer target: a host drives one or two driver records through their slots, decoded from the
// input (fuzz/make_corpus.py writes it). After every call it traps unless both lists walk the same
// both ways and hold exactly the live objects, counts equal the holders, no guard byte or row padding
// changed and the flags agree. Everything is released at the end of an input, for LeakSanitizer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "common.h"

namespace {

#define FUZZ_CHECK(cond)                                                                                     \
    ((cond) ? void() : (std::fprintf(stderr, "fuzz_driver: line %d: %s\n", __LINE__, #cond), __builtin_trap()))

// The input, byte by byte; zeros once it is used up.
struct Input {
    const uint8_t *data;
    size_t size, pos = 0;
    uint8_t Byte() { return pos < size ? data[pos++] : 0; }
    bool Bool() { return (Byte() & 1) != 0; }
    uint32_t U32() { return Byte() | uint32_t{Byte()} << 8 | uint32_t{Byte()} << 16 | uint32_t{Byte()} << 24; }
    int32_t Int() { // mostly -64..63, sometimes at or near the ends of the i32 range
        const uint8_t kind = Byte() % 8;
        return kind == 5   ? INT32_MIN + Byte() % 4
               : kind == 6 ? INT32_MAX - Byte() % 4
               : kind == 7 ? static_cast<int32_t>(U32()) : static_cast<int8_t>(Byte()) / 2;
    }
    int32_t Size() { return Byte() % 4 == 0 ? Int() : Byte() % 40; } // mostly small enough to back with memory
};

// Memory the host describes with its true size; guard bytes around it and row padding hold kGuardByte.
constexpr size_t kGuard = 32;
constexpr uint8_t kGuardByte = 0xA5;
struct Buffer {
    uint64_t rowBytes, height, pitch;
    std::vector<uint8_t> mem;
    uint8_t *Bits() { return mem.data() + kGuard; }
    bool Intact() {
        auto guard = [](uint8_t byte) { return byte == kGuardByte; };
        bool ok = std::all_of(mem.begin(), mem.begin() + kGuard, guard) && std::all_of(mem.end() - kGuard, mem.end(), guard);
        for (uint64_t y = 0; ok && pitch > rowBytes && y + 1 < height; ++y) // at most 8 KiB rows then
            ok = std::all_of(Bits() + y * pitch + rowBytes, Bits() + (y + 1) * pitch, guard);
        return ok;
    }
};

// hostOwned false: a screen bitmap the driver made and frees itself.
struct BitmapModel { SCommonBitmap *ptr; int record; bool hostOwned; int refs; SCommonPalette *palette; };
struct PaletteModel { SCommonPalette *ptr; int record; bool hostHeld; };
struct RecordModel { SCommonRec *rec = nullptr; bool drawing = false, allocAnswer = true, deallocAnswer = true; };
struct World {
    RecordModel records[2];
    std::vector<BitmapModel> bitmaps;   // creation order, all records
    std::vector<PaletteModel> palettes; // creation order, all records
    std::vector<Buffer> buffers;        // moving one keeps its memory where it is
} g;

// Memory for the pixels `info` describes (its pitch goes to `info`), or null beyond 8 KiB. Pixels
// are zero-heavy when the seed is even, so transparent copies skip some.
uint8_t *MakeBuffer(Input &in, SBitmapInfo &info) {
    const uint64_t rowBytes = uint64_t{info.width} * (info.bitsPerPixel / 8), pitch = rowBytes + in.Byte() % 8;
    const uint64_t h = info.height, bytes = h == 0 ? 0 : (h - 1) * pitch + rowBytes;
    if (pitch > UINT32_MAX || bytes > 8192)
        return nullptr;
    Buffer &b = g.buffers.emplace_back(
        Buffer{rowBytes, h, pitch, std::vector<uint8_t>(static_cast<size_t>(bytes) + 2 * kGuard, kGuardByte)});
    const uint8_t seed = in.Byte();
    for (uint64_t y = 0; rowBytes != 0 && y < h; ++y)
        for (uint64_t x = 0; x < rowBytes; ++x)
            b.Bits()[y * pitch + x] = static_cast<uint8_t>(seed + 31 * x + 7 * y) & ((seed & 1) ? 0xFF : 3);
    info.pitch = static_cast<uint32_t>(pitch);
    return b.Bits();
}

void VANTU_CALL HostDebug(SCommonRec *, const char *text) {
    FUZZ_CHECK(text != nullptr && std::strncmp(text, "VANTU: ", 7) == 0 && std::strlen(text) < 1000);
}
// The driver calls the callbacks in force with their own user data.
template <bool Alloc> vantu_bool VANTU_CALL HostSurfaces(SCommonRec *rec, uint32_t userData) {
    const RecordModel &m = g.records[rec == g.records[0].rec ? 0 : 1];
    FUZZ_CHECK(m.rec == rec && userData == rec->callbacks.userData &&
               (Alloc ? rec->callbacks.allocSurfaces : rec->callbacks.deallocSurfaces) == HostSurfaces<Alloc>);
    return (Alloc ? m.allocAnswer : m.deallocAnswer) ? 1 : 0;
}

BitmapModel *FindBitmap(const SCommonBitmap *ptr) {
    auto it = std::find_if(g.bitmaps.begin(), g.bitmaps.end(), [ptr](auto &b) { return b.ptr == ptr; });
    return it != g.bitmaps.end() ? &*it : nullptr;
}
int PaletteHolders(const SCommonPalette *p) {
    return static_cast<int>(std::count_if(g.bitmaps.begin(), g.bitmaps.end(), [p](auto &b) { return b.palette == p; }));
}
// Forgets a bitmap the driver freed (null: none), then the palettes nobody holds: freed too.
void Forget(const SCommonBitmap *bitmap) {
    std::erase_if(g.bitmaps, [bitmap](auto &b) { return b.ptr == bitmap; });
    std::erase_if(g.palettes, [](auto &p) { return !p.hostHeld && PaletteHolders(p.ptr) == 0; });
}

// Walks a list both ways and checks it holds exactly the models of record r, in order.
template <typename Model> void CheckList(SCommonList &list, const std::vector<Model> &models, int r) {
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

// The padding before `bits` is nobody's business.
bool SameInfo(const SBitmapInfo &a, const SBitmapInfo &b) {
    return a.bits == b.bits && !std::memcmp(&a, &b, offsetof(SBitmapInfo, formatOpaque2) + sizeof(uint32_t));
}

// Ready exactly while allocated, host surfaces only while ready; an
// allocation has a screen bitmap of its format and a conversion.
void CheckRecord(const RecordModel &m, int r) {
    const SCommonRec *rec = m.rec;
    const SCommonBitmap *screen = rec->screenBitmap;
    const BitmapModel *screenModel = FindBitmap(screen);
    FUZZ_CHECK(rec->allocated <= 1 && rec->readied == rec->allocated && rec->surfacesAllocated <= rec->readied &&
               rec->drawing == (m.drawing ? 1 : 0) && rec->allocMode == (rec->allocated ? 3u : 0u) &&
               (screen == nullptr || (screenModel && !screenModel->hostOwned && screenModel->record == r)));
    if (rec->allocated)
        FUZZ_CHECK(screen && screen->isScreen && screen->info.bitsPerPixel == rec->screenInfo.bitsPerPixel &&
                   rec->GetScreenColor != nullptr && rec->GetScreenColor != CommonGetScreenColorFail);
    else
        FUZZ_CHECK(SameInfo(rec->bufferInfo, SBitmapInfo{}) && rec->allocFlags == 0 && rec->subDevice == 0 &&
                   (screen != nullptr || SameInfo(rec->screenInfo, SBitmapInfo{})));
    for (const BitmapModel &b : g.bitmaps)
        if (const SCommonBitmap *bm = b.ptr; b.record == r)
            FUZZ_CHECK(bm->header.size == sizeof(SCommonBitmap) && bm->header.refCount == b.refs &&
                       (b.hostOwned ? bm->header.destruct == BitmapDestruct : bm->header.destruct != nullptr) &&
                       bm->palette == b.palette && bm->isLocked <= 1 && bm->isScreen <= 1 && bm->isAllocated <= 1 &&
                       bm->isInitialized <= bm->isAllocated && bm->isAllocated >= rec->readied);
    for (const PaletteModel &p : g.palettes)
        FUZZ_CHECK(p.ptr->header.size == sizeof(SCommonPalette) && p.ptr->header.destruct == PaletteDestruct &&
                   p.ptr->header.refCount == (p.hostHeld ? 1 : 0) + PaletteHolders(p.ptr));
    CheckList(m.rec->bitmaps, g.bitmaps, r);
    CheckList(m.rec->palettes, g.palettes, r);
}

// Checks every buffer's guards. A description the driver changed (a bitmap that follows the screen's
// size, a new pixel format) may no longer fit the memory behind it: the host withdraws the memory,
// as it must before the next clear or copy. Memory described nowhere goes back to the host.
void HostCheckBuffers() {
    std::erase_if(g.buffers, [](Buffer &b) {
        FUZZ_CHECK(b.Intact());
        bool used = false;
        for (const BitmapModel &bm : g.bitmaps) {
            SBitmapInfo &info = bm.ptr->info;
            if (info.bits == b.Bits() && (info.pitch != b.pitch || info.height > b.height ||
                                           uint64_t{info.width} * (info.bitsPerPixel / 8) > b.rowBytes))
                info.bits = nullptr;
            used = used || info.bits == b.Bits();
        }
        for (const RecordModel &m : g.records)
            used = used || (m.rec != nullptr && m.rec->screenInfo.bits == b.Bits());
        return !used;
    });
}

// One of the models that pass `take`, or null.
template <typename Model, typename Take> auto Pick(Input &in, const std::vector<Model> &from, Take take) {
    std::vector<decltype(Model::ptr)> ptrs;
    for (const Model &m : from)
        if (take(m))
            ptrs.push_back(m.ptr);
    const size_t i = in.Byte() % (ptrs.size() + 1);
    return i < ptrs.size() ? ptrs[i] : nullptr;
}
// A bitmap of record r (of any record when r < 0), or null.
SCommonBitmap *PickBitmap(Input &in, int r = -1) {
    return Pick(in, g.bitmaps, [r](const BitmapModel &b) { return r < 0 || b.record == r; });
}

// The host gives back everything it holds and ends the record; the driver frees its screen bitmaps.
void OpDoneRecord(Input &, SCommonRec *rec, int r) {
    for (PaletteModel &p : g.palettes)
        if (p.record == r && std::exchange(p.hostHeld, false))
            FUZZ_CHECK(rec->DonePalette(rec, p.ptr) == 1);
    for (BitmapModel &b : g.bitmaps)
        for (; b.record == r && b.hostOwned && b.refs > 0; --b.refs)
            FUZZ_CHECK(rec->DoneBitmap(rec, b.ptr) == 1);
    FUZZ_CHECK(rec->Done(rec) == 1); // also ends a drawing left open
    std::erase_if(g.bitmaps, [r](const BitmapModel &b) { return b.record == r; });
    Forget(nullptr);
    g.records[r] = RecordModel{};
}

// Exactly as many colour words as a valid count asks for, so that reading past them is caught.
void OpInitPalette(Input &in, SCommonRec *rec, int r) {
    static constexpr int32_t kCounts[] = {0, 1, 3, 16, 256, 257, -1, INT32_MIN};
    const int32_t count = kCounts[in.Byte() % 8];
    const bool nullColours = in.Byte() % 8 == 0;
    std::vector<uint32_t> colours(static_cast<size_t>(std::clamp(count, 0, 256)));
    std::generate(colours.begin(), colours.end(), [&in] { return in.U32(); });
    SCommonPalette *p = rec->InitPalette(rec, nullColours ? nullptr : colours.data(), count);
    FUZZ_CHECK((p != nullptr) == (count >= 0 && count <= 256 && !(nullColours && count > 0)));
    if (p != nullptr)
        g.palettes.push_back({p, r, true});
}

void OpDonePalette(Input &in, SCommonRec *rec, int r) {
    SCommonPalette *p = Pick(in, g.palettes, [r](const PaletteModel &pm) { return pm.record == r && pm.hostHeld; });
    FUZZ_CHECK(rec->DonePalette(rec, p) == (p != nullptr ? 1 : 0));
    for (PaletteModel &pm : g.palettes)
        pm.hostHeld = pm.hostHeld && pm.ptr != p;
    Forget(nullptr);
}

// A new bitmap, or (when the host holds one) another reference to it.
void OpInitBitmap(Input &in, SCommonRec *rec, int r) {
    const uint8_t how = in.Byte() % 4;
    const int32_t width = in.Size(), height = in.Size();
    if (BitmapModel *bm = how == 3 ? FindBitmap(PickBitmap(in, r)) : nullptr; bm != nullptr && bm->hostOwned) {
        ++bm->ptr->header.refCount, ++bm->refs;
    } else if (how != 3) {
        SCommonBitmap *b = how == 0 ? rec->InitScreenBitmap(rec) : rec->InitBitmap(rec, width, height);
        FUZZ_CHECK(b != nullptr && b->isAllocated == rec->readied && b->isScreen == (how == 0 ? 1 : 0) &&
                   !b->isInitialized && b->info.bits == nullptr);
        g.bitmaps.push_back({b, r, true, 1, nullptr});
    }
}

// Drops one reference; the current screen bitmap is refused.
void OpDoneBitmap(Input &in, SCommonRec *rec, int r) {
    SCommonBitmap *b = PickBitmap(in, r);
    const vantu_bool result = rec->DoneBitmap(rec, b);
    FUZZ_CHECK(result == (b != nullptr && b != rec->screenBitmap ? 1 : 0));
    if (result == 1 && --FindBitmap(b)->refs == 0)
        Forget(b);
}

void OpSetPalette(Input &in, SCommonRec *rec, int r) {
    SCommonBitmap *b = PickBitmap(in, r);
    SCommonPalette *p = Pick(in, g.palettes, [r](const PaletteModel &pm) { return pm.record == r; });
    FUZZ_CHECK(rec->SetBitmapPalette(rec, b, p) == (b != nullptr ? 1 : 0));
    if (b != nullptr)
        FindBitmap(b)->palette = p;
    Forget(nullptr);
}

// The host writes memory of its own into a bitmap's description, or takes it away.
void OpDescribe(Input &in, SCommonRec *rec, int) {
    SCommonBitmap *b = PickBitmap(in);
    SBitmapInfo *info = rec->GetBitmapInfo(rec, b);
    FUZZ_CHECK(info == (b != nullptr ? &b->info : nullptr));
    if (info != nullptr)
        info->bits = in.Bool() ? MakeBuffer(in, *info) : nullptr;
}

// Lock, unlock and clear take allocated bitmaps only; a locked one cannot be cleared.
void OpLockOrClear(Input &in, SCommonRec *rec, int) {
    SCommonBitmap *b = PickBitmap(in);
    const bool usable = b != nullptr && b->isAllocated, locked = usable && b->isLocked;
    switch (in.Byte() % 3) {
    case 0: FUZZ_CHECK(rec->LockBitmap(rec, b) == (usable && !locked ? &b->info : nullptr)); break;
    case 1: FUZZ_CHECK(rec->UnlockBitmap(rec, b) == (locked ? 1 : 0) && (!locked || b->isInitialized)); break;
    default: // even a refused clear marks an allocated bitmap initialized
        FUZZ_CHECK(rec->ClearBitmap(rec, b, in.U32()) == (usable && !locked && b->info.bits != nullptr ? 1 : 0) &&
                   (!usable || b->isInitialized));
    }
}

// A copy onto itself, or from or onto a locked bitmap, is refused.
void OpCopy(Input &in, SCommonRec *rec, int) {
    SCommonBitmap *dst = PickBitmap(in);
    SCommonBitmap *src = in.Byte() % 8 == 0 ? dst : PickBitmap(in);
    const bool entire = in.Bool(), transparent = in.Bool();
    const int32_t srcX = in.Int(), srcY = in.Int(), w = in.Int(), h = in.Int(), dstX = in.Int(), dstY = in.Int();
    if (entire ? rec->CopyEntireBitmap(rec, dst, src, dstX, dstY, transparent)
               : rec->CopyBitmap(rec, dst, src, srcX, srcY, dstX, dstY, w, h, transparent))
        FUZZ_CHECK(dst != src && !dst->isLocked && !src->isLocked && dst->isInitialized);
}

// Allocated already: the allocation in force stays, only the description is recorded. Else a new
// screen bitmap over the buffer, or none; the previous one stays listed until Done.
void OpAllocBuffer(Input &in, SCommonRec *rec, int r) {
    static constexpr uint32_t kDepths[] = {8, 16, 32, 24, 16, 32, 12, 0};
    static constexpr uint32_t kMasks[8][3] = {{0x7C00, 0x3E0, 0x1F}, {0xF800, 0x7E0, 0x1F}, {0xFF0000, 0xFF00, 0xFF},
        {0xFF, 0xFF00, 0xFF0000}, {0, 0, 0}, {0xF00, 0xF0, 0xF}, {0x80000001, 6, 0x7FFFFFF0}, {~0u, ~0u, 0}};
    const uint32_t flags = in.Byte();
    const int32_t sub = in.Bool() ? in.Int() : 0;
    const auto width = static_cast<uint32_t>(in.Size()), height = static_cast<uint32_t>(in.Size());
    const uint32_t depth = kDepths[in.Byte() % 8], *masks = kMasks[in.Byte() % 8], opaque = in.Byte();
    SBitmapInfo d{width, height, 0, opaque, depth, masks[0], masks[1], masks[2], opaque, nullptr};
    if ((d.bits = in.Bool() ? MakeBuffer(in, d) : nullptr) == nullptr)
        d.pitch = in.U32();
    const bool wasAllocated = rec->allocated;
    SCommonBitmap *oldScreen = rec->screenBitmap;
    const vantu_bool result = rec->AllocBuffer(rec, flags, sub, &d);
    FUZZ_CHECK((!wasAllocated || (result == 1 && rec->screenBitmap == oldScreen)) &&
               (result == 0 || SameInfo(rec->bufferInfo, d)));
    if (SCommonBitmap *screen = rec->screenBitmap; !wasAllocated && result == 1) {
        FUZZ_CHECK(screen != nullptr && !FindBitmap(screen) && screen->isInitialized && SameInfo(screen->info, d));
        g.bitmaps.push_back({screen, r, false, 1, nullptr});
    }
}

void OpDealloc(Input &, SCommonRec *rec, int) {
    const bool wasAllocated = rec->allocated;
    SCommonBitmap *screen = rec->screenBitmap;
    const vantu_bool result = rec->Dealloc(rec);
    FUZZ_CHECK(wasAllocated ? result == 0 || rec->screenBitmap == nullptr : result == 1);
    if (wasAllocated && result == 1)
        Forget(screen);
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

// Only the colour word 0 becomes the transparent pixel.
void OpScreenColor(Input &in, SCommonRec *rec, int) {
    const GetScreenColorFunc slot = rec->GetScreenColor;
    SCommonBitmap *b = PickBitmap(in);
    const uint32_t colour = in.Bool() ? 0 : in.U32(), pixel = slot != nullptr ? slot(rec, b, colour) : 0;
    const bool eight = slot == CommonGetScreenColor8;
    const bool none = !slot || slot == CommonGetScreenColorFail || (eight && (!b || !b->palette));
    FUZZ_CHECK(none ? pixel == 0 : (pixel == 0) == (colour == 0) && (!eight || pixel < 256));
}

void OpDrawing(Input &in, SCommonRec *rec, int r) {
    bool &drawing = g.records[r].drawing;
    switch (in.Byte() % 4) {
    case 0: FUZZ_CHECK(rec->DrawBegin(rec) == (drawing ? nullptr : &rec->version)), drawing = true; break;
    case 1: FUZZ_CHECK(rec->DrawEnd(rec) == (drawing ? 1 : 0)), drawing = false; break;
    case 2: FUZZ_CHECK(rec->Flip(rec) == !drawing && rec->Sync(rec) == (!drawing && rec->allocated)); break;
    default: FUZZ_CHECK(rec->SetDebugMsgFunc(rec, in.Bool() ? HostDebug : nullptr) == 1); break;
    }
}

constexpr void (*kOps[])(Input &, SCommonRec *, int) = {
    OpDoneRecord,  OpInitPalette, OpDonePalette, OpInitBitmap, OpDoneBitmap,   OpSetPalette,  OpDescribe,
    OpLockOrClear, OpCopy,        OpAllocBuffer, OpDealloc,    OpSetCallbacks, OpScreenColor, OpDrawing};

// One step: an opcode byte (bit 7 the record, the rest modulo the count the operation; a step on a
// record not yet made makes it), then its arguments. VANTU_FUZZ_TRACE=1 prints the steps.
void Step(Input &in) {
    const uint8_t op = in.Byte();
    const int r = op >> 7, code = (op & 0x7F) % static_cast<int>(std::size(kOps));
    if (std::getenv("VANTU_FUZZ_TRACE") != nullptr)
        std::fprintf(stderr, "record %d op %2d: bitmaps %zu palettes %zu buffers %zu\n", r, code, g.bitmaps.size(),
                     g.palettes.size(), g.buffers.size());
    if (SCommonRec *&rec = g.records[r].rec; rec != nullptr) {
        kOps[code](in, rec, r);
    } else { // a new record: its placeholder screen bitmap is the driver's
        const uint32_t handle = in.U32();
        rec = VANTU_DLL_Init(handle, in.Bool() ? HostDebug : nullptr);
        FUZZ_CHECK(rec != nullptr && rec->hostHandle == handle && rec->GetScreenColor == nullptr &&
                   rec->screenBitmap != nullptr && rec->screenBitmap->isScreen);
        g.bitmaps.push_back({rec->screenBitmap, r, false, 1, nullptr});
    }
    for (int i = 0; i < 2; ++i)
        if (g.records[i].rec != nullptr)
            CheckRecord(g.records[i], i);
    HostCheckBuffers();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Input in{data, size};
    for (int steps = 0; steps < 2000 && in.pos < in.size; ++steps)
        Step(in);
    for (int r = 0; r < 2; ++r)
        if (g.records[r].rec != nullptr)
            OpDoneRecord(in, g.records[r].rec, r);
    HostCheckBuffers();
    FUZZ_CHECK(g.bitmaps.empty() && g.palettes.empty() && g.buffers.empty());
    return 0;
}

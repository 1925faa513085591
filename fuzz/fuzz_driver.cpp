// libFuzzer target: plays a host that drives one or two memory driver records
// through their slots, decoded from the input, and checks after every call
// that the driver did what a host may rely on.
//
// The harness keeps its own model of every record, palette and bitmap it can
// reach (which palette each bitmap holds, which bitmaps are locked, which
// callbacks are installed and what they answer, which host buffers describe
// which bitmaps) and stops with a trap on the first difference:
//   - both lists walk the same forwards and backwards and hold exactly the
//     live objects of the model, in creation order;
//   - reference counts equal the holders the model counts;
//   - the record's flags agree with each other and with the predicted results
//     of the slots (allocation, readiness, host surfaces, drawing);
//   - pixel memory the host owns changes only where a clear or a copy is
//     meant to write, checked against a per-pixel reference; guard bytes
//     around every buffer and the padding at the end of every row never change.
// Host buffers are only ever described to the driver with their true size:
// the host is trusted to describe its own memory correctly.
//
// At the end of each input every object is released and every record done,
// so LeakSanitizer reports anything the driver forgot to free.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "common.h"

namespace {

[[noreturn]] void Violation(const char *what, int line) {
    std::fprintf(stderr, "fuzz_driver: invariant violated at line %d: %s\n", line, what);
    __builtin_trap();
}
#define FUZZ_CHECK(cond)                                                                                     \
    do {                                                                                                     \
        if (!(cond))                                                                                         \
            Violation(#cond, __LINE__);                                                                      \
    } while (0)

// ---- Input decoding -----------------------------------------------------------------------

class Input {
  public:
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return pos_ >= size_; }
    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    bool Bool() { return (Byte() & 1) != 0; }
    uint32_t U32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<uint32_t>(Byte()) << (8 * i);
        return v;
    }
    // Coordinates: mostly small, sometimes at or near the ends of the i32 range.
    int32_t Coord() {
        const uint8_t sel = Byte();
        switch (sel % 16) {
        case 8: return 0;
        case 9: return INT32_MIN;
        case 10: return INT32_MAX;
        case 11: return INT32_MIN + (Byte() % 64);
        case 12: return INT32_MAX - (Byte() % 64);
        case 13: return (Byte() & 1) ? (1 << 30) : -(1 << 30);
        case 14: return static_cast<int32_t>(U32());
        case 15: return -1;
        default: return static_cast<int8_t>(Byte()) / 2;
        }
    }
    // Widths and heights: mostly small enough to back with memory.
    int32_t Size() {
        const uint8_t sel = Byte();
        switch (sel % 8) {
        case 5: return 0;
        case 6: return Coord();
        case 7: return static_cast<int32_t>(0x80000000u | U32());
        default: return Byte() % 40;
        }
    }

  private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

// ---- Host buffers -----------------------------------------------------------------------------

constexpr size_t kGuard = 32;
constexpr uint64_t kMaxBufferBytes = 8192;
constexpr uint8_t kGuardByte = 0xA5;

// Memory the host owns and describes to the driver: guard bytes around it,
// and a shadow copy of what it must hold.
struct Buffer {
    uint64_t width = 0, height = 0, pixelSize = 0, pitch = 0, bytes = 0;
    std::vector<uint8_t> mem;
    std::vector<uint8_t> shadow;
    uint8_t *Bits() { return mem.data() + kGuard; }
};

// Whether w x h pixels of p bytes fit a buffer the harness is willing to
// allocate; gives the pitch (at least a row's bytes) and the bytes needed.
bool PlanStorage(uint32_t w, uint32_t h, uint32_t p, uint32_t extra, uint64_t &pitch, uint64_t &bytes) {
    const uint64_t rowBytes = static_cast<uint64_t>(w) * p;
    if (h == 0) {
        pitch = extra;
        bytes = 0;
        return true;
    }
    if (rowBytes + extra > UINT32_MAX)
        return false;
    pitch = rowBytes + extra;
    bytes = (static_cast<uint64_t>(h) - 1) * pitch + rowBytes;
    return bytes <= kMaxBufferBytes;
}

std::unique_ptr<Buffer> MakeBuffer(Input &in, uint32_t w, uint32_t h, uint32_t p, uint64_t pitch,
                                   uint64_t bytes) {
    auto b = std::make_unique<Buffer>();
    b->width = w;
    b->height = h;
    b->pixelSize = p;
    b->pitch = pitch;
    b->bytes = bytes;
    b->mem.assign(static_cast<size_t>(bytes) + 2 * kGuard, kGuardByte);
    // Pixels get content from the input; the padding at the end of each row
    // keeps the guard value and must keep it.
    const uint8_t seed = in.Byte();
    const uint64_t rowBytes = static_cast<uint64_t>(w) * p;
    for (uint64_t y = 0; rowBytes != 0 && y < h; ++y)
        for (uint64_t x = 0; x < rowBytes; ++x)
            b->Bits()[y * pitch + x] = static_cast<uint8_t>(seed + 31 * x + 7 * y) & ((seed & 1) ? 0xFF : 0x03);
    b->shadow = b->mem;
    return b;
}

// ---- The model ------------------------------------------------------------------------------------

enum class Owner { Host, Screen, Leftover };

struct BitmapModel {
    SCommonBitmap *ptr;
    int record;
    Owner owner;
    int hostRefs;
    SCommonPalette *palette;
    bool locked;
    bool placeholder; // the screen bitmap a new record starts with
};

struct PaletteModel {
    SCommonPalette *ptr;
    int record;
    bool hostHeld;
};

struct CallbackState {
    bool allocInstalled = false, deallocInstalled = false;
    bool allocAnswer = true, deallocAnswer = true;
    uint32_t userData = 0;
    int allocCalls = 0, deallocCalls = 0;
};

struct RecordModel {
    SCommonRec *rec = nullptr;
    SCommonBitmap *screen = nullptr; // expected screenBitmap
    SBitmapInfo screenInfo{};
    SBitmapInfo bufferInfo{};
    uint32_t allocMode = 0, allocFlags = 0;
    int32_t subDevice = 0;
    bool allocated = false, surfaces = false, drawing = false;
    GetScreenColorFunc slot = nullptr;
    // False once a failed readying or unreadying has left bitmaps allocated
    // with a format other than the screen's.
    bool clean = true;
    CallbackState cb;
};

struct World {
    RecordModel records[2];
    std::vector<BitmapModel> bitmaps;   // creation order, all records
    std::vector<PaletteModel> palettes; // creation order, all records
    std::vector<std::unique_ptr<Buffer>> buffers;
    uint64_t messages = 0;
};

World *gWorld = nullptr;

void VANTU_CALL HostDebug(SCommonRec *, const char *text) {
    FUZZ_CHECK(text != nullptr);
    FUZZ_CHECK(std::strncmp(text, "VANTU: ", 7) == 0);
    FUZZ_CHECK(std::strlen(text) < 1000);
    ++gWorld->messages;
}

RecordModel *ModelOf(SCommonRec *rec) {
    for (RecordModel &m : gWorld->records)
        if (m.rec == rec && rec != nullptr)
            return &m;
    return nullptr;
}

// The driver calls the callbacks in force with their own user data.
vantu_bool VANTU_CALL HostAllocSurfaces(SCommonRec *rec, uint32_t userData) {
    RecordModel *m = ModelOf(rec);
    FUZZ_CHECK(m != nullptr && rec->callbacks.allocSurfaces == HostAllocSurfaces);
    FUZZ_CHECK(userData == rec->callbacks.userData);
    ++m->cb.allocCalls;
    return m->cb.allocAnswer ? 1 : 0;
}

vantu_bool VANTU_CALL HostDeallocSurfaces(SCommonRec *rec, uint32_t userData) {
    RecordModel *m = ModelOf(rec);
    FUZZ_CHECK(m != nullptr && rec->callbacks.deallocSurfaces == HostDeallocSurfaces);
    FUZZ_CHECK(userData == rec->callbacks.userData);
    ++m->cb.deallocCalls;
    return m->cb.deallocAnswer ? 1 : 0;
}

BitmapModel *FindBitmap(SCommonBitmap *ptr) {
    for (BitmapModel &b : gWorld->bitmaps)
        if (b.ptr == ptr)
            return &b;
    return nullptr;
}

PaletteModel *FindPalette(SCommonPalette *ptr) {
    for (PaletteModel &p : gWorld->palettes)
        if (p.ptr == ptr)
            return &p;
    return nullptr;
}

Buffer *FindBuffer(const void *bits) {
    for (auto &b : gWorld->buffers)
        if (b->Bits() == bits)
            return b.get();
    return nullptr;
}

int PaletteHolders(SCommonPalette *p) {
    int n = 0;
    for (const BitmapModel &b : gWorld->bitmaps)
        if (b.palette == p)
            ++n;
    return n;
}

// Drop palettes that nobody holds any more: the driver has freed them.
void ForgetDeadPalettes() {
    auto &ps = gWorld->palettes;
    for (size_t i = 0; i < ps.size();) {
        if (!ps[i].hostHeld && PaletteHolders(ps[i].ptr) == 0)
            ps.erase(ps.begin() + static_cast<ptrdiff_t>(i));
        else
            ++i;
    }
}

void ForgetBitmap(SCommonBitmap *ptr) {
    auto &bs = gWorld->bitmaps;
    for (size_t i = 0; i < bs.size(); ++i)
        if (bs[i].ptr == ptr) {
            bs.erase(bs.begin() + static_cast<ptrdiff_t>(i));
            break;
        }
    ForgetDeadPalettes();
}

// ---- Invariants --------------------------------------------------------------------------------

template <typename Member> Member *FromLink(SCommonLink *link) {
    return reinterpret_cast<Member *>(reinterpret_cast<char *>(link) - offsetof(Member, link));
}

// Walks a list both ways and returns its members in order.
template <typename Member> std::vector<Member *> WalkList(SCommonList &list) {
    std::vector<Member *> forward;
    SCommonLink *prev = nullptr;
    for (SCommonLink *l = list.first; l != nullptr; l = l->next) {
        FUZZ_CHECK(forward.size() < 100000);
        FUZZ_CHECK(l->list == &list);
        FUZZ_CHECK(l->prev == prev);
        forward.push_back(FromLink<Member>(l));
        prev = l;
    }
    FUZZ_CHECK(list.last == prev);
    size_t i = forward.size();
    for (SCommonLink *l = list.last; l != nullptr; l = l->prev) {
        FUZZ_CHECK(i > 0);
        FUZZ_CHECK(FromLink<Member>(l) == forward[--i]);
    }
    FUZZ_CHECK(i == 0);
    return forward;
}

bool SameInfo(const SBitmapInfo &a, const SBitmapInfo &b) {
    return a.width == b.width && a.height == b.height && a.pitch == b.pitch && a.formatOpaque1 == b.formatOpaque1 &&
           a.bitsPerPixel == b.bitsPerPixel && a.redMask == b.redMask && a.greenMask == b.greenMask &&
           a.blueMask == b.blueMask && a.formatOpaque2 == b.formatOpaque2 && a.bits == b.bits;
}

bool SameCallbacks(const SCommonCallbacks &a, const SCommonCallbacks &b) {
    return a.allocSurfaces == b.allocSurfaces && a.deallocSurfaces == b.deallocSurfaces && a.userData == b.userData;
}

bool SameFormat(const SBitmapInfo &a, const SBitmapInfo &b) {
    return a.formatOpaque1 == b.formatOpaque1 && a.bitsPerPixel == b.bitsPerPixel && a.redMask == b.redMask &&
           a.greenMask == b.greenMask && a.blueMask == b.blueMask && a.formatOpaque2 == b.formatOpaque2;
}

void CheckRecord(int r) {
    World &w = *gWorld;
    RecordModel &m = w.records[r];
    SCommonRec *rec = m.rec;
    if (rec == nullptr)
        return;
    FUZZ_CHECK(rec->header.size == sizeof(SMEMRec) && rec->header.refCount == 1);
    FUZZ_CHECK(rec->version == 2 && rec->build == 2);

    // Flags: host surfaces only while ready, ready exactly while allocated.
    FUZZ_CHECK(rec->allocated == (m.allocated ? 1 : 0));
    FUZZ_CHECK(rec->readied == rec->allocated);
    FUZZ_CHECK(rec->surfacesAllocated == (m.surfaces ? 1 : 0));
    FUZZ_CHECK(!rec->surfacesAllocated || rec->readied);
    FUZZ_CHECK(rec->drawing == (m.drawing ? 1 : 0));
    FUZZ_CHECK(rec->screenBitmap == m.screen);
    FUZZ_CHECK(SameInfo(rec->screenInfo, m.screenInfo));
    FUZZ_CHECK(SameInfo(rec->bufferInfo, m.bufferInfo));
    FUZZ_CHECK(rec->allocMode == m.allocMode);
    FUZZ_CHECK(rec->allocFlags == m.allocFlags && rec->subDevice == m.subDevice);
    FUZZ_CHECK(rec->GetScreenColor == m.slot);
    if (m.slot == nullptr || m.slot == CommonGetScreenColorFail) {
        const SColourShift zero{};
        FUZZ_CHECK(std::memcmp(&rec->colourShift, &zero, sizeof zero) == 0);
    }

    // Bitmaps: exactly the model's, in creation order.
    std::vector<SCommonBitmap *> listed = WalkList<SCommonBitmap>(rec->bitmaps);
    size_t k = 0;
    for (const BitmapModel &b : w.bitmaps) {
        if (b.record != r)
            continue;
        FUZZ_CHECK(k < listed.size() && listed[k] == b.ptr);
        ++k;
        SCommonBitmap *bm = b.ptr;
        FUZZ_CHECK(bm->header.size == sizeof(SCommonBitmap));
        FUZZ_CHECK(b.placeholder ? bm->header.destruct != nullptr : bm->header.destruct == BitmapDestruct);
        FUZZ_CHECK(bm->header.refCount == (b.owner == Owner::Host ? b.hostRefs : 1));
        FUZZ_CHECK(bm->palette == b.palette);
        FUZZ_CHECK(bm->isLocked == (b.locked ? 1 : 0));
        FUZZ_CHECK(bm->isAllocated <= 1 && bm->isInitialized <= 1 && bm->isScreen <= 1);
        if (rec->readied)
            FUZZ_CHECK(bm->isAllocated);
        if (m.clean && rec->readied) {
            FUZZ_CHECK(SameFormat(bm->info, rec->screenInfo));
            if (bm->isScreen)
                FUZZ_CHECK(bm->info.width == rec->screenInfo.width && bm->info.height == rec->screenInfo.height);
        }
        if (m.clean && !rec->allocated) {
            FUZZ_CHECK(!bm->isAllocated && !bm->isInitialized);
            FUZZ_CHECK(SameFormat(bm->info, SBitmapInfo{}));
        }
        if (!bm->isAllocated)
            FUZZ_CHECK(!bm->isInitialized);
        if (bm->info.bits != nullptr)
            FUZZ_CHECK(FindBuffer(bm->info.bits) != nullptr);
    }
    FUZZ_CHECK(k == listed.size());

    // Palettes: exactly the model's, each counted once per holder.
    std::vector<SCommonPalette *> pals = WalkList<SCommonPalette>(rec->palettes);
    k = 0;
    for (const PaletteModel &p : w.palettes) {
        if (p.record != r)
            continue;
        FUZZ_CHECK(k < pals.size() && pals[k] == p.ptr);
        ++k;
        FUZZ_CHECK(p.ptr->header.size == sizeof(SCommonPalette) && p.ptr->header.destruct == PaletteDestruct);
        FUZZ_CHECK(p.ptr->header.refCount == (p.hostHeld ? 1 : 0) + PaletteHolders(p.ptr));
    }
    FUZZ_CHECK(k == pals.size());
}

void CheckAll() {
    CheckRecord(0);
    CheckRecord(1);
}

// ---- Host bookkeeping around the calls ------------------------------------------------------------

void CompareBuffer(Buffer &b) { FUZZ_CHECK(b.mem == b.shadow); }

void CompareAllBuffers() {
    for (auto &b : gWorld->buffers)
        CompareBuffer(*b);
}

// A description the driver changed (a bitmap that follows the screen's size,
// a new pixel format) may no longer fit the memory behind it; the host then
// withdraws the memory, as it must before the next clear or copy.
void HostFixDescriptions() {
    for (BitmapModel &bm : gWorld->bitmaps) {
        SBitmapInfo &info = bm.ptr->info;
        if (info.bits == nullptr)
            continue;
        Buffer *buf = FindBuffer(info.bits);
        FUZZ_CHECK(buf != nullptr);
        const uint64_t p = info.bitsPerPixel / 8;
        const bool fits = info.pitch == buf->pitch && info.height <= buf->height &&
                          (info.height == 0 || static_cast<uint64_t>(info.width) * p <= buf->width * buf->pixelSize);
        if (!fits) {
            info.bits = nullptr;
            info.pitch = 0;
        }
    }
}

// Memory the driver no longer describes anywhere goes back to the host, once
// it is checked to hold exactly what it should.
void HostCollectBuffers() {
    auto &bufs = gWorld->buffers;
    for (size_t i = 0; i < bufs.size();) {
        const void *bits = bufs[i]->Bits();
        bool used = false;
        for (const BitmapModel &bm : gWorld->bitmaps)
            used = used || bm.ptr->info.bits == bits;
        for (const RecordModel &m : gWorld->records)
            used = used || (m.rec != nullptr && m.rec->screenInfo.bits == bits);
        if (used) {
            ++i;
            continue;
        }
        CompareBuffer(*bufs[i]);
        bufs.erase(bufs.begin() + static_cast<ptrdiff_t>(i));
    }
}

// ---- Choosing arguments -----------------------------------------------------------------------------

// Any live bitmap of any record, or null.
SCommonBitmap *PickBitmap(Input &in) {
    const size_t n = gWorld->bitmaps.size();
    const size_t i = in.Byte() % (n + 1);
    return i < n ? gWorld->bitmaps[i].ptr : nullptr;
}

// A bitmap of record r (any owner), or null.
SCommonBitmap *PickOwnBitmap(Input &in, int r) {
    std::vector<SCommonBitmap *> own;
    for (const BitmapModel &b : gWorld->bitmaps)
        if (b.record == r)
            own.push_back(b.ptr);
    const size_t i = in.Byte() % (own.size() + 1);
    return i < own.size() ? own[i] : nullptr;
}

// A palette of record r, or null: one the host still holds, or (when
// `anyLive`) one it reaches only through a bitmap's palette field.
SCommonPalette *PickHeldPalette(Input &in, int r, bool anyLive = false) {
    std::vector<SCommonPalette *> held;
    for (const PaletteModel &p : gWorld->palettes)
        if (p.record == r && (p.hostHeld || anyLive))
            held.push_back(p.ptr);
    const size_t i = in.Byte() % (held.size() + 1);
    return i < held.size() ? held[i] : nullptr;
}

uint32_t PixelSizeOf(const SBitmapInfo &info) { return info.bitsPerPixel / 8; }

uint8_t *ShadowPixel(Buffer &buf, uint64_t x, uint64_t y, uint32_t p) {
    return buf.shadow.data() + kGuard + y * buf.pitch + x * p;
}

// ---- Operations -----------------------------------------------------------------------------------

void OpNewRecord(Input &in, int r) {
    RecordModel &m = gWorld->records[r];
    if (m.rec != nullptr)
        return;
    const uint32_t handle = in.U32();
    SCommonRec *rec = VANTU_DLL_Init(handle, in.Bool() ? HostDebug : nullptr);
    FUZZ_CHECK(rec != nullptr);
    FUZZ_CHECK(rec->hostHandle == handle && rec->GetScreenColor == nullptr);
    m = RecordModel{};
    m.rec = rec;
    m.screen = rec->screenBitmap;
    FUZZ_CHECK(m.screen != nullptr && m.screen->isScreen);
    gWorld->bitmaps.push_back({m.screen, r, Owner::Screen, 1, nullptr, false, true});
}

// The host gives back everything it holds, then ends the record. Screen
// bitmaps the driver made and a later allocation superseded (the placeholder,
// or one a failed unreadying left behind) are the driver's to free at Done.
void OpDoneRecord(Input &in, int r) {
    RecordModel &m = gWorld->records[r];
    SCommonRec *rec = m.rec;
    if (rec == nullptr)
        return;
    for (PaletteModel &p : gWorld->palettes)
        if (p.record == r && p.hostHeld) {
            FUZZ_CHECK(rec->DonePalette(rec, p.ptr) == 1);
            p.hostHeld = false;
        }
    ForgetDeadPalettes();
    std::vector<BitmapModel> mine;
    for (const BitmapModel &b : gWorld->bitmaps)
        if (b.record == r && b.ptr != m.screen && !b.placeholder && b.owner != Owner::Leftover)
            mine.push_back(b);
    for (const BitmapModel &b : mine) {
        const int refs = b.owner == Owner::Host ? b.hostRefs : 1;
        for (int i = 0; i < refs; ++i)
            FUZZ_CHECK(rec->DoneBitmap(rec, b.ptr) == 1);
        ForgetBitmap(b.ptr);
    }
    CheckRecord(r);
    if (m.drawing && in.Bool()) {
        FUZZ_CHECK(rec->DrawEnd(rec) == 1);
        m.drawing = false;
    }
    const bool wasAllocated = m.allocated;
    const bool surfaces = m.surfaces;
    const int deallocCalls = m.cb.deallocCalls;
    FUZZ_CHECK(rec->Done(rec) == 1);
    // Done deallocates first, telling the host's surfaces if they were allocated.
    FUZZ_CHECK(m.cb.deallocCalls == deallocCalls + (wasAllocated && surfaces && m.cb.deallocInstalled ? 1 : 0));
    std::vector<SCommonBitmap *> gone;
    for (const BitmapModel &b : gWorld->bitmaps)
        if (b.record == r)
            gone.push_back(b.ptr);
    for (SCommonBitmap *b : gone)
        ForgetBitmap(b);
    m = RecordModel{};
    for (const BitmapModel &b : gWorld->bitmaps)
        FUZZ_CHECK(b.record != r);
    for (const PaletteModel &p : gWorld->palettes)
        FUZZ_CHECK(p.record != r);
}

void OpInitPalette(Input &in, SCommonRec *rec, int r) {
    int32_t count;
    switch (in.Byte() % 8) {
    case 0: count = 0; break;
    case 1: count = 256; break;
    case 2: count = 257; break;
    case 3: count = -1; break;
    case 4: count = in.Coord(); break;
    default: count = in.Byte() % 64; break;
    }
    const bool nullColours = in.Byte() % 8 == 0;
    // Exactly as many colour words as a valid count asks for, so that reading
    // past them is caught.
    const size_t provided = count < 0 ? 0 : static_cast<size_t>(count > 256 ? 256 : count);
    std::unique_ptr<uint32_t[]> colours(new uint32_t[provided]);
    for (size_t i = 0; i < provided; ++i)
        colours[i] = in.U32();
    const uint32_t *arg = nullColours ? nullptr : colours.get();
    SCommonPalette *p = rec->InitPalette(rec, arg, count);
    const bool valid = count >= 0 && count <= 256 && !(arg == nullptr && count > 0);
    FUZZ_CHECK((p != nullptr) == valid);
    if (p == nullptr)
        return;
    for (int i = 0; i < 256; ++i)
        FUZZ_CHECK(p->entries[i] == (i < count ? colours[static_cast<size_t>(i)] : 0u));
    gWorld->palettes.push_back({p, r, true});
}

void OpDonePalette(Input &in, SCommonRec *rec, int r) {
    SCommonPalette *p = PickHeldPalette(in, r);
    FUZZ_CHECK(rec->DonePalette(rec, p) == (p != nullptr ? 1 : 0));
    if (p != nullptr) {
        FindPalette(p)->hostHeld = false;
        ForgetDeadPalettes();
    }
}

void OpInitBitmap(Input &in, SCommonRec *rec, int r) {
    const bool screenSized = in.Byte() % 4 == 0;
    const int32_t width = in.Size(), height = in.Size();
    SCommonBitmap *b = screenSized ? rec->InitScreenBitmap(rec) : rec->InitBitmap(rec, width, height);
    // With the memory driver's hooks the driver is never allocated but not ready.
    FUZZ_CHECK(b != nullptr);
    FUZZ_CHECK(b->isAllocated == rec->readied && b->isScreen == (screenSized ? 1 : 0));
    FUZZ_CHECK(!b->isInitialized && !b->isLocked && b->palette == nullptr);
    FUZZ_CHECK(b->info.pitch == 0 && b->info.bits == nullptr);
    if (screenSized)
        FUZZ_CHECK(b->info.width == rec->screenInfo.width && b->info.height == rec->screenInfo.height);
    else
        FUZZ_CHECK(b->info.width == static_cast<uint32_t>(width) && b->info.height == static_cast<uint32_t>(height));
    gWorld->bitmaps.push_back({b, r, Owner::Host, 1, nullptr, false, false});
}

void OpDoneBitmap(Input &in, SCommonRec *rec, int r) {
    SCommonBitmap *b = PickOwnBitmap(in, r);
    BitmapModel *bm = b != nullptr ? FindBitmap(b) : nullptr;
    const vantu_bool result = rec->DoneBitmap(rec, b);
    if (b == nullptr || b == rec->screenBitmap) {
        FUZZ_CHECK(result == 0);
        return;
    }
    FUZZ_CHECK(result == 1);
    if (bm->owner == Owner::Host && bm->hostRefs > 1) {
        --bm->hostRefs;
        return;
    }
    ForgetBitmap(b);
}

void OpAddRef(Input &in, int r) {
    SCommonBitmap *b = PickOwnBitmap(in, r);
    BitmapModel *bm = b != nullptr ? FindBitmap(b) : nullptr;
    if (bm == nullptr || bm->owner != Owner::Host || bm->hostRefs >= 4)
        return;
    ++b->header.refCount;
    ++bm->hostRefs;
}

void OpSetPalette(Input &in, SCommonRec *rec, int r) {
    SCommonBitmap *b = PickOwnBitmap(in, r);
    SCommonPalette *p = PickHeldPalette(in, r, true);
    FUZZ_CHECK(rec->SetBitmapPalette(rec, b, p) == (b != nullptr ? 1 : 0));
    if (b == nullptr)
        return;
    FindBitmap(b)->palette = p;
    ForgetDeadPalettes();
}

// The host writes its own memory into a bitmap's description, or takes it away.
void OpDescribe(Input &in, SCommonRec *rec) {
    SCommonBitmap *b = PickBitmap(in);
    SBitmapInfo *info = rec->GetBitmapInfo(rec, b);
    FUZZ_CHECK(info == (b != nullptr ? &b->info : nullptr));
    if (info == nullptr)
        return;
    if (in.Byte() % 4 == 0) {
        info->bits = nullptr;
        return;
    }
    const uint32_t p = PixelSizeOf(*info);
    uint64_t pitch = 0, bytes = 0;
    if (!PlanStorage(info->width, info->height, p, in.Byte() % 8, pitch, bytes))
        return;
    auto buf = MakeBuffer(in, info->width, info->height, p, pitch, bytes);
    info->pitch = static_cast<uint32_t>(pitch);
    info->bits = buf->Bits();
    gWorld->buffers.push_back(std::move(buf));
}

void OpLock(Input &in, SCommonRec *rec) {
    SCommonBitmap *b = PickBitmap(in);
    BitmapModel *bm = b != nullptr ? FindBitmap(b) : nullptr;
    if (in.Bool()) {
        const bool expected = bm != nullptr && b->isAllocated && !bm->locked;
        SBitmapInfo *info = rec->LockBitmap(rec, b);
        FUZZ_CHECK(info == (expected ? &b->info : nullptr));
        if (expected)
            bm->locked = true;
    } else {
        const bool expected = bm != nullptr && b->isAllocated && bm->locked;
        FUZZ_CHECK(rec->UnlockBitmap(rec, b) == (expected ? 1 : 0));
        if (expected) {
            bm->locked = false;
            FUZZ_CHECK(b->isInitialized);
        }
    }
}

void OpClear(Input &in, SCommonRec *rec) {
    SCommonBitmap *b = PickBitmap(in);
    const uint32_t pixel = in.U32();
    BitmapModel *bm = b != nullptr ? FindBitmap(b) : nullptr;
    const bool expected = bm != nullptr && b->isAllocated && !bm->locked && b->info.bits != nullptr;
    const bool marks = b != nullptr && b->isAllocated;
    if (expected) {
        const SBitmapInfo &info = b->info;
        const uint32_t p = PixelSizeOf(info);
        Buffer *buf = FindBuffer(info.bits);
        if (p >= 1 && p <= 4 && info.width != 0)
            for (uint64_t y = 0; y < info.height; ++y)
                for (uint64_t x = 0; x < info.width; ++x)
                    for (uint32_t i = 0; i < p; ++i)
                        ShadowPixel(*buf, x, y, p)[i] = static_cast<uint8_t>(pixel >> (8 * i));
    }
    FUZZ_CHECK(rec->ClearBitmap(rec, b, pixel) == (expected ? 1 : 0));
    if (marks)
        FUZZ_CHECK(b->isInitialized);
    CompareAllBuffers();
}

void OpCopy(Input &in, SCommonRec *rec, bool entire) {
    SCommonBitmap *dst = PickBitmap(in);
    SCommonBitmap *src = in.Byte() % 8 == 0 ? dst : PickBitmap(in);
    int32_t srcX = 0, srcY = 0, w = 0, h = 0;
    if (!entire) {
        srcX = in.Coord();
        srcY = in.Coord();
        w = in.Byte() % 4 == 0 ? 0 : in.Coord();
        h = in.Byte() % 4 == 0 ? 0 : in.Coord();
    }
    const int32_t dstX = in.Coord(), dstY = in.Coord();
    const bool transparent = in.Bool();

    BitmapModel *dm = dst != nullptr ? FindBitmap(dst) : nullptr;
    BitmapModel *sm = src != nullptr ? FindBitmap(src) : nullptr;
    const bool checked = dm != nullptr && sm != nullptr && dst->isAllocated && src->isAllocated && src->isInitialized;
    const bool expected = checked && !dm->locked && !sm->locked && dst != src && dst->info.bits != nullptr &&
                          src->info.bits != nullptr && PixelSizeOf(dst->info) == PixelSizeOf(src->info);
    if (expected) {
        // Per-pixel reference: rectangle pixel (i, j) lands when it lies inside both surfaces.
        const SBitmapInfo &di = dst->info, &si = src->info;
        const uint32_t p = PixelSizeOf(si);
        const int64_t cw = w != 0 ? w : static_cast<int64_t>(si.width > INT32_MAX ? INT32_MAX : si.width);
        const int64_t ch = h != 0 ? h : static_cast<int64_t>(si.height > INT32_MAX ? INT32_MAX : si.height);
        Buffer *db = FindBuffer(di.bits);
        Buffer *sb = FindBuffer(si.bits);
        if (p > 0 && di.width != 0)
            for (uint64_t y = 0; y < di.height; ++y)
                for (uint64_t x = 0; x < di.width; ++x) {
                    const int64_t i = static_cast<int64_t>(x) - dstX, j = static_cast<int64_t>(y) - dstY;
                    if (i < 0 || j < 0 || i >= cw || j >= ch)
                        continue;
                    const int64_t sx = srcX + i, sy = srcY + j;
                    if (sx < 0 || sy < 0 || sx >= static_cast<int64_t>(si.width) ||
                        sy >= static_cast<int64_t>(si.height))
                        continue;
                    const uint8_t *from = sb->Bits() + static_cast<uint64_t>(sy) * sb->pitch +
                                          static_cast<uint64_t>(sx) * p;
                    bool zero = true;
                    for (uint32_t k = 0; k < p; ++k)
                        zero = zero && from[k] == 0;
                    if (transparent && (p > 4 || zero))
                        continue;
                    std::memcpy(ShadowPixel(*db, x, y, p), from, p);
                }
    }
    const vantu_bool result = entire ? rec->CopyEntireBitmap(rec, dst, src, dstX, dstY, transparent ? 1 : 0)
                                     : rec->CopyBitmap(rec, dst, src, srcX, srcY, dstX, dstY, w, h,
                                                       transparent ? 1 : 0);
    FUZZ_CHECK(result == (expected ? 1 : 0));
    if (checked)
        FUZZ_CHECK(dst->isInitialized);
    CompareAllBuffers();
}

GetScreenColorFunc ExpectedSlot(const SBitmapInfo &s) {
    if (s.bitsPerPixel == 8)
        return CommonGetScreenColor8;
    if (s.bitsPerPixel == 16 && s.redMask == 0x7C00)
        return CommonGetScreenColor555;
    if (s.bitsPerPixel == 16 && s.redMask == 0xF800)
        return CommonGetScreenColor565;
    if (s.bitsPerPixel == 32 && s.redMask == 0xFF0000)
        return CommonGetScreenColor888;
    return CommonGetScreenColorRGB;
}

struct BitmapFlags {
    SCommonBitmap *ptr;
    uint8_t allocated;
    uint8_t initialized;
};

std::vector<BitmapFlags> SnapshotFlags(int r) {
    std::vector<BitmapFlags> out;
    for (const BitmapModel &b : gWorld->bitmaps)
        if (b.record == r)
            out.push_back({b.ptr, b.ptr->isAllocated, b.ptr->isInitialized});
    return out;
}

void OpAllocBuffer(Input &in, SCommonRec *rec, int r) {
    RecordModel &m = gWorld->records[r];
    const uint32_t flags = in.U32();
    const int32_t sub = in.Byte() % 4 == 0 ? in.Coord() : 0;
    if (in.Byte() % 8 == 0) {
        // No description: refused, and nothing changes, not even a message.
        std::vector<uint8_t> before(reinterpret_cast<uint8_t *>(rec), reinterpret_cast<uint8_t *>(rec) + sizeof(SMEMRec));
        const uint64_t messages = gWorld->messages;
        FUZZ_CHECK(rec->AllocBuffer(rec, flags, sub, nullptr) == 0);
        FUZZ_CHECK(std::memcmp(before.data(), rec, sizeof(SMEMRec)) == 0);
        FUZZ_CHECK(gWorld->messages == messages);
        return;
    }
    SBitmapInfo d{};
    d.width = static_cast<uint32_t>(in.Size());
    d.height = static_cast<uint32_t>(in.Size());
    static constexpr uint32_t kDepths[] = {8, 16, 32, 24, 16, 32};
    const uint8_t depthSel = in.Byte();
    d.bitsPerPixel = depthSel % 8 < 6 ? kDepths[depthSel % 8] : in.Byte() % 41;
    static constexpr uint32_t kMasks[][3] = {{0x7C00, 0x3E0, 0x1F},
                                             {0xF800, 0x7E0, 0x1F},
                                             {0xFF0000, 0xFF00, 0xFF},
                                             {0xFF, 0xFF00, 0xFF0000},
                                             {0, 0, 0}};
    const uint8_t maskSel = in.Byte() % 8;
    if (maskSel < 5) {
        d.redMask = kMasks[maskSel][0];
        d.greenMask = kMasks[maskSel][1];
        d.blueMask = kMasks[maskSel][2];
    } else {
        d.redMask = in.U32();
        d.greenMask = in.U32();
        d.blueMask = in.U32();
    }
    d.formatOpaque1 = in.Byte();
    d.formatOpaque2 = in.Byte();
    uint64_t pitch = 0, bytes = 0;
    Buffer *buf = nullptr;
    if (in.Byte() % 8 != 0 && PlanStorage(d.width, d.height, d.bitsPerPixel / 8, in.Byte() % 8, pitch, bytes)) {
        auto owned = MakeBuffer(in, d.width, d.height, d.bitsPerPixel / 8, pitch, bytes);
        buf = owned.get();
        gWorld->buffers.push_back(std::move(owned));
        d.pitch = static_cast<uint32_t>(pitch);
        d.bits = buf->Bits();
    } else {
        d.pitch = in.U32();
    }

    const bool wasAllocated = m.allocated;
    const std::vector<BitmapFlags> before = SnapshotFlags(r);
    const int allocCalls = m.cb.allocCalls;
    const vantu_bool result = rec->AllocBuffer(rec, flags, sub, &d);
    if (wasAllocated) {
        // The allocation in force stays; only the new description is recorded.
        FUZZ_CHECK(result == 1);
        m.bufferInfo = d;
        m.allocMode = 3;
        return;
    }
    const bool expected = !m.cb.allocInstalled || m.cb.allocAnswer;
    FUZZ_CHECK(result == (expected ? 1 : 0));
    FUZZ_CHECK(m.cb.allocCalls == allocCalls + (m.cb.allocInstalled ? 1 : 0));
    // The previous screen bitmap (the placeholder, or one an unreadying could
    // not drop) is superseded and stays listed.
    if (m.screen != nullptr)
        FindBitmap(m.screen)->owner = Owner::Leftover;
    m.slot = ExpectedSlot(d);
    if (!expected) {
        // The new screen is dropped again and the record left not allocated;
        // bitmaps allocated on the way keep the failed screen's format.
        m.clean = false;
        m.screen = nullptr;
        m.screenInfo = SBitmapInfo{};
        m.allocMode = 0;
        return;
    }
    SCommonBitmap *screen = rec->screenBitmap;
    FUZZ_CHECK(screen != nullptr && FindBitmap(screen) == nullptr);
    FUZZ_CHECK(SameInfo(screen->info, d) && screen->isScreen && screen->isAllocated && screen->isInitialized);
    gWorld->bitmaps.push_back({screen, r, Owner::Screen, 1, nullptr, false, false});
    m.screen = screen;
    m.allocated = true;
    m.surfaces = true;
    m.screenInfo = d;
    m.bufferInfo = d;
    m.allocMode = 3;
    m.allocFlags = flags;
    m.subDevice = sub > 0 ? 0 : sub;
    // Bitmaps that had no surface get one, uninitialized; the others are left alone.
    for (const BitmapFlags &f : before) {
        if (f.allocated)
            FUZZ_CHECK(f.ptr->isAllocated && f.ptr->isInitialized == f.initialized);
        else
            FUZZ_CHECK(f.ptr->isAllocated && !f.ptr->isInitialized);
    }
}

void OpDealloc(SCommonRec *rec, int r) {
    RecordModel &m = gWorld->records[r];
    const bool wasAllocated = m.allocated;
    const bool calls = wasAllocated && m.surfaces && m.cb.deallocInstalled;
    const bool ok = !calls || m.cb.deallocAnswer;
    const int deallocCalls = m.cb.deallocCalls;
    FUZZ_CHECK(rec->Dealloc(rec) == (ok ? 1 : 0));
    FUZZ_CHECK(m.cb.deallocCalls == deallocCalls + (calls ? 1 : 0));
    m.allocMode = 0;
    if (!wasAllocated)
        return;
    m.allocated = false;
    m.surfaces = false;
    m.bufferInfo = SBitmapInfo{};
    m.allocFlags = 0;
    m.subDevice = 0;
    m.slot = CommonGetScreenColorFail;
    if (!ok) {
        // The host kept its surfaces: every bitmap keeps its surface, and the
        // screen bitmap and description stay until the next allocation.
        m.clean = false;
        return;
    }
    if (m.screen != nullptr)
        ForgetBitmap(m.screen);
    m.screen = nullptr;
    m.screenInfo = SBitmapInfo{};
}

void OpSetCallbacks(Input &in, SCommonRec *rec, int r) {
    RecordModel &m = gWorld->records[r];
    const uint8_t sel = in.Byte();
    SCommonCallbacks fresh{};
    fresh.allocSurfaces = (sel & 1) ? HostAllocSurfaces : nullptr;
    fresh.deallocSurfaces = (sel & 2) ? HostDeallocSurfaces : nullptr;
    fresh.userData = in.U32();
    const bool clear = (sel & 4) != 0;
    const bool askOld = (sel & 8) != 0;
    const SCommonCallbacks next = clear ? SCommonCallbacks{} : fresh;
    const SCommonCallbacks inForce = rec->callbacks;
    SCommonCallbacks old{};

    // A ready driver lets the old callbacks release the host surfaces and the
    // new ones take them up again at once.
    const bool ready = m.allocated;
    const bool oldDeallocRuns = ready && m.surfaces && m.cb.deallocInstalled;
    const bool newAllocRuns = ready && next.allocSurfaces != nullptr;
    const int deallocCalls = m.cb.deallocCalls, allocCalls = m.cb.allocCalls;
    m.cb.deallocAnswer = (sel & 16) != 0;
    m.cb.allocAnswer = (sel & 32) != 0;
    FUZZ_CHECK(rec->SetCallbacks(rec, clear ? nullptr : &fresh, askOld ? &old : nullptr) == 1);
    if (askOld)
        FUZZ_CHECK(SameCallbacks(old, inForce));
    FUZZ_CHECK(SameCallbacks(rec->callbacks, next));
    FUZZ_CHECK(m.cb.deallocCalls == deallocCalls + (oldDeallocRuns ? 1 : 0));
    FUZZ_CHECK(m.cb.allocCalls == allocCalls + (newAllocRuns ? 1 : 0));
    m.cb.allocInstalled = next.allocSurfaces != nullptr;
    m.cb.deallocInstalled = next.deallocSurfaces != nullptr;
    m.cb.userData = next.userData;
    m.cb.deallocAnswer = (sel & 64) != 0;
    if (ready)
        m.surfaces = !newAllocRuns || m.cb.allocAnswer;
}

void OpScreenColor(Input &in, SCommonRec *rec) {
    if (rec->GetScreenColor == nullptr)
        return;
    SCommonBitmap *b = PickBitmap(in);
    if (rec->GetScreenColor == CommonGetScreenColor8 && b == nullptr)
        return;
    const uint32_t colour = in.Byte() % 4 == 0 ? 0 : in.U32();
    const uint32_t pixel = rec->GetScreenColor(rec, b, colour);
    if (rec->GetScreenColor == CommonGetScreenColorFail) {
        FUZZ_CHECK(pixel == 0);
        return;
    }
    if (rec->GetScreenColor == CommonGetScreenColor8) {
        FUZZ_CHECK(pixel < 256);
        if (b->palette == nullptr) {
            FUZZ_CHECK(pixel == 0);
            return;
        }
    }
    // Only the colour word 0 becomes the transparent pixel.
    FUZZ_CHECK((pixel == 0) == (colour == 0));
}

void OpDrawing(Input &in, SCommonRec *rec, int r) {
    RecordModel &m = gWorld->records[r];
    switch (in.Byte() % 5) {
    case 0: {
        void *p = rec->DrawBegin(rec);
        FUZZ_CHECK(p == (m.drawing ? nullptr : static_cast<void *>(&rec->version)));
        m.drawing = true;
        break;
    }
    case 1:
        FUZZ_CHECK(rec->DrawEnd(rec) == (m.drawing ? 1 : 0));
        m.drawing = false;
        break;
    case 2: FUZZ_CHECK(rec->Flip(rec) == (m.drawing ? 0 : 1)); break;
    case 3: FUZZ_CHECK(rec->FlipToPrimary(rec) == (m.drawing ? 0 : 1)); break;
    default: FUZZ_CHECK(rec->Sync(rec) == (!m.drawing && m.allocated ? 1 : 0)); break;
    }
}

// Calls that must answer without changing the record: the refused modes,
// queries, and every slot given a null record or a null object.
void OpNoChange(Input &in, SCommonRec *rec) {
    std::vector<uint8_t> before(reinterpret_cast<uint8_t *>(rec), reinterpret_cast<uint8_t *>(rec) + sizeof(SMEMRec));
    SCommonBitmap *b = PickBitmap(in);
    unsigned char bitmapBefore[sizeof(SCommonBitmap)] = {};
    if (b != nullptr)
        std::memcpy(bitmapBefore, b, sizeof bitmapBefore);
    switch (in.Byte() % 12) {
    case 0: FUZZ_CHECK(rec->AllocWindow(rec, in.U32(), in.Coord(), in.U32()) == 0); break;
    case 1:
        FUZZ_CHECK(rec->AllocFullScreen(rec, in.U32(), in.Coord(), in.U32(), in.U32(), in.U32(), in.U32(),
                                        in.U32(), in.U32()) == 0);
        break;
    case 2: FUZZ_CHECK(rec->IsBitmapInitialized(rec, b) == (b != nullptr ? b->isInitialized : 0)); break;
    case 3: FUZZ_CHECK(rec->Done(nullptr) == 0 && rec->Dealloc(nullptr) == 0); break;
    case 4: FUZZ_CHECK(rec->AllocBuffer(nullptr, 0, 0, &rec->screenInfo) == 0); break;
    case 5: FUZZ_CHECK(rec->InitPalette(nullptr, nullptr, 0) == nullptr); break;
    case 6: FUZZ_CHECK(rec->InitBitmap(nullptr, 4, 4) == nullptr && rec->InitScreenBitmap(nullptr) == nullptr); break;
    case 7: FUZZ_CHECK(rec->DoneBitmap(nullptr, b) == 0 && rec->DonePalette(rec, nullptr) == 0); break;
    case 8: FUZZ_CHECK(rec->LockBitmap(nullptr, b) == nullptr && rec->UnlockBitmap(rec, nullptr) == 0); break;
    case 9: FUZZ_CHECK(rec->ClearBitmap(nullptr, b, in.U32()) == 0 && rec->ClearBitmap(rec, nullptr, 0) == 0); break;
    case 10:
        FUZZ_CHECK(rec->CopyBitmap(nullptr, b, b, 0, 0, 0, 0, 0, 0, 0) == 0 &&
                   rec->CopyEntireBitmap(rec, nullptr, b, 0, 0, 1) == 0 &&
                   rec->CopyEntireBitmap(rec, b, nullptr, 0, 0, 0) == 0);
        break;
    default:
        FUZZ_CHECK(rec->DrawBegin(nullptr) == nullptr && rec->DrawEnd(nullptr) == 0 && rec->Sync(nullptr) == 0 &&
                   rec->Flip(nullptr) == 0 && rec->SetCallbacks(nullptr, nullptr, nullptr) == 0 &&
                   rec->SetDebugMsgFunc(nullptr, nullptr) == 0);
        break;
    }
    FUZZ_CHECK(std::memcmp(before.data(), rec, sizeof(SMEMRec)) == 0);
    if (b != nullptr)
        FUZZ_CHECK(std::memcmp(bitmapBefore, b, sizeof bitmapBefore) == 0);
}

// VANTU_FUZZ_TRACE=1 prints each decoded step, for reading a reproducer.
bool Tracing() {
    static const bool on = std::getenv("VANTU_FUZZ_TRACE") != nullptr;
    return on;
}

constexpr const char *kOpNames[24] = {
    "NewRecord", "DoneRecord", "InitPalette", "InitPalette", "DonePalette", "InitBitmap", "InitBitmap",
    "DoneBitmap", "AddRef", "SetBitmapPalette", "Describe", "Describe", "Lock/Unlock", "Clear", "Clear",
    "Copy", "Copy", "CopyEntire", "AllocBuffer", "Dealloc", "SetCallbacks", "GetScreenColor", "Drawing",
    "NoChange/SetDebugMsgFunc"};

void Trace(int r, int opcode) {
    if (!Tracing())
        return;
    const RecordModel &m = gWorld->records[r];
    std::fprintf(stderr, "record %d: %-24s allocated %d surfaces %d drawing %d bitmaps %zu palettes %zu buffers %zu\n",
                 r, kOpNames[opcode], m.allocated, m.surfaces, m.drawing, gWorld->bitmaps.size(),
                 gWorld->palettes.size(), gWorld->buffers.size());
}

void RunOne(Input &in) {
    World &w = *gWorld;
    const uint8_t op = in.Byte();
    const int r = (op >> 7) & 1;
    Trace(r, (op & 0x7F) % 24);
    if (w.records[r].rec == nullptr && (op & 0x7F) % 24 != 1) {
        OpNewRecord(in, r);
        return;
    }
    SCommonRec *rec = w.records[r].rec;
    HostFixDescriptions();
    switch ((op & 0x7F) % 24) {
    case 0: OpNewRecord(in, r); break;
    case 1: OpDoneRecord(in, r); break;
    case 2:
    case 3: OpInitPalette(in, rec, r); break;
    case 4: OpDonePalette(in, rec, r); break;
    case 5:
    case 6: OpInitBitmap(in, rec, r); break;
    case 7: OpDoneBitmap(in, rec, r); break;
    case 8: OpAddRef(in, r); break;
    case 9: OpSetPalette(in, rec, r); break;
    case 10:
    case 11: OpDescribe(in, rec); break;
    case 12: OpLock(in, rec); break;
    case 13:
    case 14: OpClear(in, rec); break;
    case 15:
    case 16: OpCopy(in, rec, false); break;
    case 17: OpCopy(in, rec, true); break;
    case 18: OpAllocBuffer(in, rec, r); break;
    case 19: OpDealloc(rec, r); break;
    case 20: OpSetCallbacks(in, rec, r); break;
    case 21: OpScreenColor(in, rec); break;
    case 22: OpDrawing(in, rec, r); break;
    default:
        if (in.Byte() % 4 == 0)
            FUZZ_CHECK(rec->SetDebugMsgFunc(rec, in.Bool() ? HostDebug : nullptr) == 1);
        else
            OpNoChange(in, rec);
        break;
    }
    CheckAll();
    HostCollectBuffers();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    World world;
    gWorld = &world;
    Input in(data, size);
    for (int steps = 0; steps < 2000 && !in.Empty(); ++steps)
        RunOne(in);
    Input rest(nullptr, 0);
    OpDoneRecord(rest, 0);
    OpDoneRecord(rest, 1);
    FUZZ_CHECK(world.bitmaps.empty() && world.palettes.empty());
    HostCollectBuffers();
    FUZZ_CHECK(world.buffers.empty());
    CommonDefaultDebugMsgFunc = nullptr;
    gWorld = nullptr;
    return 0;
}

// Bringing a driver record to life and ending it, and the debug message
// channel through which lifecycle, allocation and the bitmap walks report.
#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

#include "common.h"
#include "platform.h"

namespace {

constexpr uint32_t kVersion = 2;
constexpr uint32_t kBuild = 2;
constexpr size_t kMessageBytes = 1000;

// The first output function that exists: the record's own, the entry
// point's, then the module default; only the module default without a record.
DebugMsgFunc OutputFunction(const SCommonRec *record) {
    if (record != nullptr) {
        if (record->debugMsgFunc != nullptr)
            return record->debugMsgFunc;
        if (record->hostDebugFunc != nullptr)
            return record->hostDebugFunc;
    }
    return CommonDefaultDebugMsgFunc;
}

// ---- Screen bitmaps the driver holds -------------------------------------------------------
//
// The driver holds one reference to every screen bitmap it makes (the
// placeholder a record starts with, and each screen over a host buffer) until
// it gives that bitmap up; a bitmap a later screen supersedes stays listed
// and held until the record's memory is freed, and then goes with it, since
// nothing can reach it any more. Which bitmaps those are is kept here, beside
// the records rather than in them, so that no record's layout changes: one
// small table for the whole library, guarded by a spin lock because records
// may live on different threads. An entry leaves the table when the driver
// gives its reference up or when the bitmap's last reference goes, whoever
// drops it, so no entry ever names freed memory.

struct HeldScreen {
    SCommonBitmap *bitmap;
    SCommonRec *record;
};

struct HeldTable {
    std::atomic_flag busy = ATOMIC_FLAG_INIT;
    HeldScreen *entries = nullptr;
    size_t count = 0;
    size_t capacity = 0;
} g_held;

class HeldLock {
  public:
    HeldLock() {
        while (g_held.busy.test_and_set(std::memory_order_acquire)) {
        }
    }
    ~HeldLock() { g_held.busy.clear(std::memory_order_release); }
    HeldLock(const HeldLock &) = delete;
    HeldLock &operator=(const HeldLock &) = delete;
};

// A held bitmap for which the table has no room is simply not tracked: it is
// then not freed with its record (memory was exhausted already).
void Hold(SCommonRec *record, SCommonBitmap *bitmap) {
    const HeldLock lock;
    if (g_held.count == g_held.capacity) {
        const size_t capacity = g_held.capacity != 0 ? 2 * g_held.capacity : 8;
        auto *grown = static_cast<HeldScreen *>(std::realloc(g_held.entries, capacity * sizeof(HeldScreen)));
        if (grown == nullptr)
            return;
        g_held.entries = grown;
        g_held.capacity = capacity;
    }
    g_held.entries[g_held.count++] = {bitmap, record};
}

// Takes `bitmap` out of the table (any bitmap when `bitmap` is null) if it is
// held for `record` (for any record when `record` is null); the one taken out,
// or null.
SCommonBitmap *Unhold(const SCommonRec *record, const SCommonBitmap *bitmap) {
    const HeldLock lock;
    for (size_t i = 0; i < g_held.count; ++i) {
        const HeldScreen entry = g_held.entries[i];
        if ((bitmap == nullptr || entry.bitmap == bitmap) && (record == nullptr || entry.record == record)) {
            g_held.entries[i] = g_held.entries[--g_held.count];
            if (g_held.count == 0) { // nothing left behind for a leak checker
                std::free(g_held.entries);
                g_held.entries = nullptr;
                g_held.capacity = 0;
            }
            return entry.bitmap;
        }
    }
    return nullptr;
}

// The bitmap stops describing the screen's buffer: otherwise the next readying
// would give it the new screen's size over the old buffer.
void ForgetBuffer(SCommonBitmap *bitmap) {
    bitmap->info.pitch = 0;
    bitmap->info.bits = nullptr;
}

// The record's memory is about to be freed: the bitmaps the driver still holds
// go with it, and whatever the host left in its lists is detached, so that a
// later release of one of those (a palette shared with another record's
// bitmap, say) touches no freed memory.
void EndRecord(void *last) {
    auto *record = static_cast<SCommonRec *>(last);
    while (SCommonBitmap *held = Unhold(record, nullptr))
        CommonDoneBitmap(record, held);
    CommonDetachList(&record->palettes);
    CommonDetachList(&record->bitmaps);
}

} // namespace

extern "C" {

DebugMsgFunc CommonDefaultDebugMsgFunc = nullptr;

SCommonRec *CommonInit(uint32_t hostHandle) {
    SCommonRec *record = CommonNewRecord<SCommonRec>();
    return record != nullptr ? CommonDoInit(record, hostHandle) : nullptr;
}

SCommonRec *CommonInitFail(uint32_t) { return nullptr; }

SCommonRec *CommonDoInit(SCommonRec *record, uint32_t hostHandle) {
    if (record == nullptr)
        return nullptr;
    if (record->name == nullptr)
        record->name = "<unknown> screen driver";
    record->version = kVersion;
    record->build = kBuild;
    CommonDebugMsg(record, "Initializing: %s (version: %d, build: %d)\n", record->name, static_cast<int>(kVersion),
                   static_cast<int>(kBuild));
    record->allocated = 0;
    if (record->screenBitmap == nullptr)
        CommonSetScreenBitmap(record, CommonBitmapInit(nullptr, record, 1, 0, 0));
    record->hostHandle = hostHandle;
    // A mutex that cannot be created shows later as every DrawBegin failing.
    record->drawMutex = vantu::platform::MutexCreate();
    record->opaque228 = 0;
    return record;
}

vantu_bool CommonDoDone(SCommonRec *record) {
    if (record == nullptr)
        return 0;
    if (record->allocated) {
        // Through the slot, so that a driver's own deallocation runs.
        CallOrCommon(record->Dealloc, CommonDealloc, record);
    }
    if (record->drawMutex != nullptr)
        vantu::platform::MutexClose(record->drawMutex);
    record->hostHandle = 0;
    record->drawMutex = nullptr;
    // A screen the host could not let go of (its deallocSurfaces refused) is
    // given up here; a record that lives on (the host raised its count) has
    // no screen left to describe.
    CommonReleaseScreenBitmap(record);
    record->screenInfo = SBitmapInfo{};
    CommonDebugMsg(record, "Finalizing: %s\n", record->name);
    return 1;
}

vantu_bool VANTU_CALL CommonDone(SCommonRec *record) {
    if (record == nullptr)
        return 0;
    const vantu_bool result = CommonDoDone(record);
    CommonReleaseWith(record, EndRecord);
    return result;
}

vantu_bool VANTU_CALL CommonSetDebugMsgFunc(SCommonRec *record, DebugMsgFunc func) {
    if (record == nullptr)
        return 0;
    record->debugMsgFunc = func;
    return 1;
}

void CommonDebugMsg(SCommonRec *record, const char *format, ...) {
    const DebugMsgFunc output = OutputFunction(record);
    if (output == nullptr)
        return;
    // Both texts are cut at the buffer's end when longer.
    char text[kMessageBytes];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    char line[kMessageBytes];
    std::snprintf(line, sizeof line, "VANTU: %.*s", static_cast<int>(sizeof line - 8), text);
    output(record, line);
}

void VANTU_CALL CommonDebugFuncNull(SCommonRec *, const char *) {}

void CommonSetScreenBitmap(SCommonRec *record, SCommonBitmap *bitmap) {
    if (SCommonBitmap *superseded = record->screenBitmap)
        ForgetBuffer(superseded);
    record->screenBitmap = bitmap;
    if (bitmap != nullptr)
        Hold(record, bitmap);
}

void CommonReleaseScreenBitmap(SCommonRec *record) {
    SCommonBitmap *screen = record->screenBitmap;
    if (screen == nullptr)
        return;
    // Cleared first because DoneBitmap refuses the record's current screen bitmap.
    record->screenBitmap = nullptr;
    ForgetBuffer(screen);
    Unhold(record, screen);
    CommonDoneBitmap(record, screen);
}

void CommonForgetHeldBitmap(const SCommonBitmap *bitmap) { Unhold(nullptr, bitmap); }

} // extern "C"

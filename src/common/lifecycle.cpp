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
    return std::atomic_ref<DebugMsgFunc>(CommonDefaultDebugMsgFunc).load(std::memory_order_relaxed);
}

// ---- Screen bitmaps the driver holds -------------------------------------------------------
//
// The driver holds one reference to every screen bitmap it makes (the
// placeholder a record starts with, and each screen a concrete driver makes)
// until it gives that bitmap up; a bitmap a later screen supersedes stays
// listed and held until the record's memory is freed, and then goes with it,
// since nothing can reach it any more. The record's bookkeeping lists them,
// through the bitmaps' own tails: nothing is allocated for it and no other
// record is looked at. A bitmap leaves the list when the driver gives its
// reference up or when its last reference goes, whoever drops it, so the list
// never names freed memory.

void Hold(SCommonRec *record, SCommonBitmap *bitmap) {
    CommonRecordPrivate &own = CommonPrivateOf(record);
    CommonTailOf(bitmap).nextHeld = own.held;
    own.held = bitmap;
}

// Takes `bitmap` out of the record's held bitmaps; false when it is not one.
bool Unhold(SCommonRec *record, SCommonBitmap *bitmap) {
    for (SCommonBitmap **at = &CommonPrivateOf(record).held; *at != nullptr; at = &CommonTailOf(*at).nextHeld)
        if (*at == bitmap) {
            *at = CommonTailOf(bitmap).nextHeld;
            CommonTailOf(bitmap).nextHeld = nullptr;
            return true;
        }
    return false;
}

// The bitmap stops describing the screen's buffer: otherwise the next readying
// would give it the new screen's size over the old buffer.
void ForgetBuffer(SCommonBitmap *bitmap) {
    bitmap->info.pitch = 0;
    bitmap->info.bits = nullptr;
}

// The record's memory is about to be freed. Whatever the host did while Done
// ran (a new screen from the "Finalizing" message, say) is undone the way
// Done undoes it, with no new screen made meanwhile; the bitmaps the driver
// still holds go, and whatever the host left in the lists is detached, so
// that a later release of one of those (a palette shared with another
// record's bitmap, say) touches no freed memory.
void EndRecord(void *last) {
    auto *record = static_cast<SCommonRec *>(last);
    CommonRecordPrivate &own = CommonPrivateOf(record);
    own.ending = true;
    if (record->allocated)
        CallOrCommon(record->Dealloc, CommonDealloc, record);
    CommonReleaseScreenBitmap(record);
    while (SCommonBitmap *held = own.held) {
        Unhold(record, held);
        CommonDoneBitmap(record, held);
    }
    CommonDetachList(&record->palettes);
    CommonDetachList(&record->bitmaps);
    CommonFreeDriverRecord(record);
}

} // namespace

extern "C" {

DebugMsgFunc CommonDefaultDebugMsgFunc = nullptr;

void CommonSetDefaultDebugMsgFunc(DebugMsgFunc func) {
    std::atomic_ref<DebugMsgFunc>(CommonDefaultDebugMsgFunc).store(func, std::memory_order_relaxed);
}

void CommonFillDriverRecord(SCommonRec *record, const SCommonRec &table, const char *name,
                            DebugMsgFunc hostDebugFunc) {
    const SCommonHeader header = record->header;
    *record = table;
    record->header = header;
    CommonSetDefaultDebugMsgFunc(hostDebugFunc);
    record->hostDebugFunc = hostDebugFunc;
    record->name = name;
}

SCommonRec *CommonInit(uint32_t hostHandle) {
    SCommonRec *record = CommonNewDriverRecord<SCommonRec>();
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

void CommonForgetHeldBitmap(SCommonBitmap *bitmap) {
    // A held bitmap stays in its record's list until the record goes.
    if (SCommonList *list = bitmap->link.list)
        Unhold(CommonRecordOfBitmaps(list), bitmap);
}

} // extern "C"

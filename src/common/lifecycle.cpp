// Bringing a driver record to life and ending it, and the debug message
// channel through which lifecycle, allocation and the bitmap walks report.
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

// Screen bitmaps the driver made itself and that a later screen superseded
// (the placeholder, or a screen kept by a failed unreadying) are held by
// nobody; finalization frees them rather than leak them.
void ReleaseSupersededScreens(SCommonRec *record) {
    for (SCommonLink *link = record->bitmaps.first; link != nullptr;) {
        SCommonLink *next = link->next;
        auto *bitmap = reinterpret_cast<SCommonBitmap *>(reinterpret_cast<char *>(link) -
                                                          offsetof(SCommonBitmap, link));
        if (bitmap->header.destruct == ScreenBitmapDestruct && bitmap != record->screenBitmap)
            CommonDoneBitmap(record, bitmap);
        link = next;
    }
}

} // namespace

extern "C" {

DebugMsgFunc CommonDefaultDebugMsgFunc = nullptr;

SCommonRec *CommonInit(uint32_t hostHandle) {
    auto *record = static_cast<SCommonRec *>(std::calloc(1, sizeof(SCommonRec)));
    if (record == nullptr)
        return nullptr;
    record->header.size = sizeof(SCommonRec);
    record->header.refCount = 1;
    return CommonDoInit(record, hostHandle);
}

SCommonRec *CommonDoInit(SCommonRec *record, uint32_t hostHandle) {
    if (record == nullptr)
        return nullptr;
    if (record->name == nullptr)
        record->name = "<unknown> screen driver";
    record->version = kVersion;
    record->build = kBuild;
    CommonDebugMsg(record, "Initializing: %s (version: %d, build: %d)\n", record->name,
                   static_cast<int>(kVersion), static_cast<int>(kBuild));
    record->allocated = 0;
    if (record->screenBitmap == nullptr) {
        record->screenBitmap = CommonBitmapInit(nullptr, record, 1, 0, 0);
        if (record->screenBitmap != nullptr)
            record->screenBitmap->header.destruct = ScreenBitmapDestruct;
    }
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
        if (record->Dealloc != nullptr)
            record->Dealloc(record);
        else
            CommonDealloc(record);
    }
    if (record->drawMutex != nullptr)
        vantu::platform::MutexClose(record->drawMutex);
    record->hostHandle = 0;
    record->drawMutex = nullptr;
    if (SCommonBitmap *screen = record->screenBitmap) {
        // Cleared first because DoneBitmap refuses the current screen bitmap.
        record->screenBitmap = nullptr;
        CommonDoneBitmap(record, screen);
    }
    ReleaseSupersededScreens(record);
    CommonDebugMsg(record, "Finalizing: %s\n", record->name);
    return 1;
}

vantu_bool VANTU_CALL CommonDone(SCommonRec *record) {
    if (record == nullptr)
        return 0;
    const vantu_bool result = CommonDoDone(record);
    release(record);
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

void VANTU_CALL ScreenBitmapDestruct(void *bitmap) { BitmapDestruct(bitmap); }

} // extern "C"

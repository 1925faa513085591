// The memory screen driver: the library's one export, the record it hands to
// the host, and the two hooks that turn the host's buffer into the screen.
#include "common.h"

#include <cstdlib>

namespace {

constexpr const char kDriverName[] = "Memory screen driver";

vantu_bool VANTU_CALL DoAllocSurfaces(SCommonRec *record);
vantu_bool VANTU_CALL DoDeallocSurfaces(SCommonRec *record);

// The record the memory driver starts from: every slot and hook it installs,
// every other field zero. GetScreenColor stays null until the first readying
// chooses the conversion for the screen's format.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers" // the omitted fields are meant to be zero
#endif
constexpr SCommonRec kTable = {
    .Done = CommonDone,
    .AllocWindow = CommonAllocWindowFail,
    .AllocFullScreen = CommonAllocFullScreenFail,
    .AllocBuffer = CommonAllocBuffer,
    .Dealloc = CommonDealloc,
    .SetDebugMsgFunc = CommonSetDebugMsgFunc,
    .SetCallbacks = CommonSetCallbacks,
    .DrawBegin = CommonDrawBegin,
    .DrawEnd = CommonDrawEnd,
    .Flip = CommonFlip,
    .FlipToPrimary = CommonFlipToPrimary,
    .Sync = CommonSync,
    .InitPalette = CommonInitPalette,
    .DonePalette = CommonDonePalette,
    .InitBitmap = CommonInitBitmap,
    .InitScreenBitmap = CommonInitScreenBitmap,
    .DoneBitmap = CommonDoneBitmap,
    .SetBitmapPalette = CommonSetBitmapPalette,
    .GetBitmapInfo = CommonGetBitmapInfo,
    .IsBitmapInitialized = CommonIsBitmapInitialized,
    .ClearBitmap = CommonClearBitmapSW,
    .CopyBitmap = CommonCopyBitmapSW,
    .CopyEntireBitmap = CommonCopyEntireBitmapSW,
    .LockBitmap = CommonLockBitmap,
    .UnlockBitmap = CommonUnlockBitmap,

    .DoAlloc = CommonDoAlloc,
    .DoDealloc = CommonDoDealloc,
    .DoAllocSurfaces = DoAllocSurfaces,
    .DoDeallocSurfaces = DoDeallocSurfaces,
    .AllocScreenBitmap = CommonAllocBitmap,
    .AllocBitmap = CommonAllocBitmap,
    .DeallocScreenBitmap = CommonDeallocBitmap,
    .DeallocBitmap = CommonDeallocBitmap,
    .RestoreLostSurfaces = CommonRestoreLostSurfaces,
};
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// The screen is the host's buffer: a bitmap over the description that
// AllocBuffer stored, then the common readying. A readying that fails drops
// the new screen again, so a failed allocation leaves no screen behind.
vantu_bool VANTU_CALL DoAllocSurfaces(SCommonRec *record) {
    if (record == nullptr)
        return 0;
    CommonSetScreenBitmap(record, CommonBitmapInitScr(nullptr, record, 1, &record->bufferInfo));
    if (record->screenBitmap == nullptr)
        return 0;
    record->screenInfo = record->bufferInfo;
    if (CommonDoAllocSurfaces(record))
        return 1;
    DoDeallocSurfaces(record);
    return 0;
}

// Unready, then drop the screen bitmap. The host's buffer is never touched.
vantu_bool VANTU_CALL DoDeallocSurfaces(SCommonRec *record) {
    if (record == nullptr)
        return 0;
    if (!CommonDoDeallocSurfaces(record))
        return 0;
    CommonReleaseScreenBitmap(record);
    record->screenInfo = SBitmapInfo{};
    return 1;
}

} // namespace

extern "C" VANTU_EXPORT SCommonRec *VANTU_CALL VANTU_DLL_Init(uint32_t hostHandle, DebugMsgFunc hostDebugFunc) {
    auto *mem = CommonNewDriverRecord<SMEMRec>();
    if (mem == nullptr)
        return nullptr;
    SCommonRec *record = &mem->common;
    CommonFillDriverRecord(record, kTable, kDriverName, hostDebugFunc);
    return CommonDoInit(record, hostHandle);
}

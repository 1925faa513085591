// Allocation and readiness: the three nested stages a record passes through
// before the host can draw (allocated, ready, host surfaces allocated), and
// back. The public halves call into the concrete driver through the record's
// hooks.
#include <cinttypes>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common.h"

namespace {

// windowArg up to and including subDevice are zeroed as one block when an
// allocation ends.
constexpr size_t kParamsBegin = offsetof(SCommonRec, windowArg);
constexpr size_t kParamsEnd = offsetof(SCommonRec, subDevice) + sizeof(int32_t);
static_assert(kParamsBegin < offsetof(SCommonRec, bufferInfo) && kParamsEnd <= offsetof(SCommonRec, colourShift));

void ZeroAllocParams(SCommonRec *record) {
    std::memset(reinterpret_cast<unsigned char *>(record) + kParamsBegin, 0, kParamsEnd - kParamsBegin);
}

// Shared tail of the three public allocations: the hook, and on failure the
// whole deallocation so the record ends not allocated with mode 0.
vantu_bool RunDoAlloc(SCommonRec *record, uint32_t flags, int32_t subDevice) {
    if (CallOrCommon(record->DoAlloc, CommonDoAlloc, record, flags, subDevice))
        return 1;
    CommonDealloc(record);
    return 0;
}

} // namespace

extern "C" {

vantu_bool VANTU_CALL CommonAllocWindow(SCommonRec *record, uint32_t flags, int32_t subDevice, uint32_t windowArg) {
    if (record == nullptr)
        return 0;
    record->allocMode = 1;
    record->windowArg = windowArg;
    CommonDebugMsg(record, "CommonAllocWindow\n");
    return RunDoAlloc(record, flags, subDevice);
}

vantu_bool VANTU_CALL CommonAllocFullScreen(SCommonRec *record, uint32_t flags, int32_t subDevice,
                                            uint32_t fullScreenArg, uint32_t width, uint32_t height,
                                            uint32_t bitsPerPixel, uint32_t fullScreenArg2, uint32_t fullScreenArg3) {
    if (record == nullptr)
        return 0;
    record->fullScreenArg3 = fullScreenArg3;
    record->fullScreenArg2 = fullScreenArg2;
    record->fullScreenArg = fullScreenArg;
    record->allocMode = 2;
    record->fullScreenWidth = width;
    record->fullScreenHeight = height;
    record->fullScreenDepth = bitsPerPixel;
    CommonDebugMsg(record, "CommonAllocFullScreen: %dx%dx%d\n", static_cast<int>(width), static_cast<int>(height),
                   static_cast<int>(bitsPerPixel));
    return RunDoAlloc(record, flags, subDevice);
}

vantu_bool VANTU_CALL CommonAllocBuffer(SCommonRec *record, uint32_t flags, int32_t subDevice,
                                        const SBitmapInfo *buffer) {
    if (record == nullptr || buffer == nullptr)
        return 0;
    record->allocMode = 3;
    record->bufferInfo = *buffer;
    // The whole address, at least eight hex digits, on 32- and 64-bit builds.
    CommonDebugMsg(record, "CommonAllocBuffer: %dx%dx%d - %08" PRIxPTR "\n", static_cast<int>(buffer->width),
                   static_cast<int>(buffer->height), static_cast<int>(buffer->bitsPerPixel),
                   reinterpret_cast<uintptr_t>(buffer->bits));
    return RunDoAlloc(record, flags, subDevice);
}

vantu_bool VANTU_CALL CommonDealloc(SCommonRec *record) {
    if (record == nullptr)
        return 0;
    const vantu_bool result = CallOrCommon(record->DoDealloc, CommonDoDealloc, record);
    record->allocMode = 0;
    CommonDebugMsg(record, "CommonDealloc\n");
    return result;
}

vantu_bool VANTU_CALL CommonDoAlloc(SCommonRec *record, uint32_t flags, int32_t subDevice) {
    if (record == nullptr)
        return 0;
    // A second allocation keeps the screen, flags and sub-device in force.
    if (record->allocated)
        return 1;
    // A record whose memory is being freed makes no new screen (a host's
    // debug function may ask for one from the messages of that last Dealloc).
    if (CommonPrivateOf(record).ending)
        return 0;
    record->allocFlags = flags;
    record->subDevice = subDevice > record->numSubDevices ? 0 : subDevice;
    CommonDebugMsg(record, "Allocating (flags: %08x, subdev: %d)\n", static_cast<unsigned>(flags),
                   static_cast<int>(record->subDevice));
    record->allocated = 1;
    if (CallOrFail(record->DoAllocSurfaces, record))
        return 1;
    CommonDoDealloc(record);
    return 0;
}

vantu_bool VANTU_CALL CommonDoDealloc(SCommonRec *record) {
    if (record == nullptr)
        return 0;
    if (!record->allocated)
        return 1;
    const vantu_bool result = CallOrFail(record->DoDeallocSurfaces, record);
    ZeroAllocParams(record);
    record->allocated = 0;
    // allocMode is CommonDealloc's to clear.
    CommonDebugMsg(record, "Deallocating\n");
    return result;
}

vantu_bool CommonDoAllocSurfaces(SCommonRec *record) {
    if (record == nullptr)
        return 0;
    if (record->readied)
        return 1;
    record->readied = 1;
    CommonDebugMsg(record, "Readying\n");
    CommonChooseScreenColor(record);
    CommonAllocAllBitmaps(record);
    // A failure here leaves the conversion and the bitmaps as they are; with
    // readied false the following unreadying will not undo them either.
    if (!CommonDoAllocExtSurfaces(record)) {
        record->readied = 0;
        return 0;
    }
    CommonDebugMsg(record, "Readied\n");
    return 1;
}

vantu_bool CommonDoDeallocSurfaces(SCommonRec *record) {
    if (record == nullptr)
        return 0;
    if (!record->readied)
        return 1;
    CommonDebugMsg(record, "Unreadying\n");
    // Bitmaps keep their surfaces when the host could not let go of its own.
    vantu_bool result = 0;
    if (CommonDoDeallocExtSurfaces(record)) {
        CommonDeallocAllBitmaps(record);
        result = 1;
    }
    // A host that installs callbacks from inside (SetCallbacks from its debug
    // function or its deallocSurfaces) takes its surfaces up again, since the
    // driver is still ready until here: they are let go once more, and
    // whatever the host does in that call, none stay taken up by a driver that
    // is no longer ready.
    if (record->surfacesAllocated)
        CommonDoDeallocExtSurfaces(record);
    record->surfacesAllocated = 0;
    CommonResetScreenColor(record);
    record->readied = 0;
    CommonDebugMsg(record, "Unreadied\n");
    return result;
}

vantu_bool CommonDoAllocExtSurfaces(SCommonRec *record) {
    if (record == nullptr || !record->readied)
        return 0;
    if (record->surfacesAllocated)
        return 1;
    record->surfacesAllocated = 1;
    if (record->callbacks.allocSurfaces == nullptr)
        return 1;
    CommonDebugMsg(record, "Allocating surfaces\n");
    // Read again: the debug function may have cleared it meanwhile.
    const SurfaceCallbackFunc allocSurfaces = record->callbacks.allocSurfaces;
    if (allocSurfaces == nullptr)
        return 1;
    if (!allocSurfaces(record, record->callbacks.userData)) {
        record->surfacesAllocated = 0;
        return 0;
    }
    CommonDebugMsg(record, "Surfaces allocated\n");
    return 1;
}

vantu_bool CommonDoDeallocExtSurfaces(SCommonRec *record) {
    if (record == nullptr || !record->readied)
        return 0;
    if (!record->surfacesAllocated)
        return 1;
    // Cleared before the callback: a failing host is not asked again.
    record->surfacesAllocated = 0;
    if (record->callbacks.deallocSurfaces == nullptr)
        return 1;
    CommonDebugMsg(record, "Deallocating surfaces\n");
    const SurfaceCallbackFunc deallocSurfaces = record->callbacks.deallocSurfaces;
    if (deallocSurfaces == nullptr)
        return 1;
    if (!deallocSurfaces(record, record->callbacks.userData))
        return 0;
    CommonDebugMsg(record, "Surfaces deallocated\n");
    return 1;
}

vantu_bool VANTU_CALL CommonSetCallbacks(SCommonRec *record, const SCommonCallbacks *callbacks,
                                         SCommonCallbacks *oldCallbacks) {
    if (record == nullptr)
        return 0;
    if (oldCallbacks != nullptr)
        *oldCallbacks = record->callbacks;
    // The old callbacks let go of the host surfaces, the new ones take them
    // up again at once if the driver is ready.
    CommonDoDeallocExtSurfaces(record);
    record->callbacks = callbacks != nullptr ? *callbacks : SCommonCallbacks{};
    CommonDoAllocExtSurfaces(record);
    return 1;
}

vantu_bool VANTU_CALL CommonRestoreLostSurfaces(SCommonRec *) { return 1; }

vantu_bool VANTU_CALL CommonAllocWindowFail(SCommonRec *, uint32_t, int32_t, uint32_t) { return 0; }

vantu_bool VANTU_CALL CommonAllocFullScreenFail(SCommonRec *, uint32_t, int32_t, uint32_t, uint32_t, uint32_t,
                                                uint32_t, uint32_t, uint32_t) {
    return 0;
}

vantu_bool VANTU_CALL CommonAllocBufferFail(SCommonRec *, uint32_t, int32_t, const SBitmapInfo *) { return 0; }

vantu_bool VANTU_CALL CommonDeallocFail(SCommonRec *) { return 0; }

} // extern "C"

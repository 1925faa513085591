// The window screen driver: the library's one export, the record it hands to
// the host, and the hooks that make a window (or a display, in full screen)
// the screen. The screen is a back buffer in system memory that the driver
// owns; Flip shows it through the presentation backend (present.h).
#include <cstdint>
#include <cstdlib>
#include <type_traits>

#include "common.h"
#include "frame_convert.h"
#include "present.h"

namespace {

using vantu::window::Frame;
using vantu::window::PlatformBackend;
using vantu::window::Presenter;

constexpr const char kDriverName[] = "SDL screen driver";

// The driver's record: the common record, then what only the driver reads.
struct SWindowRec {
    SCommonRec common;
    Presenter *presenter; // while a screen is shown
    void *backBuffer;     // the screen bitmap's pixels; kept while that bitmap is the screen
    SBitmapInfo back;     // what the back buffer is, as the screen was made
    uint8_t video;        // the backend for this record: kVideoNone, kVideoHeld, kVideoGone
};
static_assert(std::is_standard_layout_v<SWindowRec> && offsetof(SWindowRec, common) == 0,
              "an SWindowRec is used as its SCommonRec");

SWindowRec *Own(SCommonRec *record) { return reinterpret_cast<SWindowRec *>(record); }

// Acquired at the record's creation (again at an allocation if that failed),
// given back with the record's last reference, and never taken again then.
enum : uint8_t { kVideoNone, kVideoHeld, kVideoGone };

vantu_bool VANTU_CALL DoAlloc(SCommonRec *record, uint32_t flags, int32_t subDevice);
vantu_bool VANTU_CALL DoAllocSurfaces(SCommonRec *record);
vantu_bool VANTU_CALL DoDeallocSurfaces(SCommonRec *record);
vantu_bool VANTU_CALL Flip(SCommonRec *record);
vantu_bool VANTU_CALL RestoreLostSurfaces(SCommonRec *record);

// The record the window driver starts from: the memory driver's table turned
// round (windows and full screen instead of host buffers), presentation of
// its own, and memory-backed pixels for every bitmap but the screen's, whose
// pixels are the back buffer.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers" // the omitted fields are meant to be zero
#endif
constexpr SCommonRec kTable = {
    .Done = CommonDone,
    .AllocWindow = CommonAllocWindow,
    .AllocFullScreen = CommonAllocFullScreen,
    .AllocBuffer = CommonAllocBufferFail,
    .Dealloc = CommonDealloc,
    .SetDebugMsgFunc = CommonSetDebugMsgFunc,
    .SetCallbacks = CommonSetCallbacks,
    .DrawBegin = CommonDrawBegin,
    .DrawEnd = CommonDrawEnd,
    .Flip = Flip,
    .FlipToPrimary = Flip,
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

    .DoAlloc = DoAlloc,
    .DoDealloc = CommonDoDealloc,
    .DoAllocSurfaces = DoAllocSurfaces,
    .DoDeallocSurfaces = DoDeallocSurfaces,
    .AllocScreenBitmap = CommonAllocBitmap,
    .AllocBitmap = CommonAllocBitmapMem,
    .DeallocScreenBitmap = CommonDeallocBitmap,
    .DeallocBitmap = CommonDeallocBitmapMem,
    .RestoreLostSurfaces = RestoreLostSurfaces,
};
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

bool HoldVideo(SWindowRec *window) {
    if (window->video == kVideoNone && PlatformBackend().Acquire())
        window->video = kVideoHeld;
    return window->video == kVideoHeld;
}

void ClosePresenter(SWindowRec *window) {
    PlatformBackend().Close(window->presenter);
    window->presenter = nullptr;
}

void FreeBackBuffer(SWindowRec *window) {
    std::free(window->backBuffer);
    window->backBuffer = nullptr;
    window->back = SBitmapInfo{};
}

// The pixel formats a screen can have: 8 (palette), 5-6-5, 3-byte and 4-byte 8-8-8.
bool ScreenFormat(uint32_t bitsPerPixel, SBitmapInfo &info) {
    switch (bitsPerPixel) {
    case 8: info.redMask = info.greenMask = info.blueMask = 0; break;
    case 16: info.redMask = 0xF800, info.greenMask = 0x07E0, info.blueMask = 0x001F; break;
    case 24:
    case 32: info.redMask = 0xFF0000, info.greenMask = 0xFF00, info.blueMask = 0xFF; break;
    default: return false;
    }
    info.bitsPerPixel = bitsPerPixel;
    return true;
}

// Rows of whole 4-byte words, as device-independent bitmaps have them.
bool Layout(int32_t width, int32_t height, SBitmapInfo &info) {
    if (width <= 0 || height <= 0)
        return false;
    const int64_t pitch = (int64_t{width} * (info.bitsPerPixel / 8) + 3) & ~int64_t{3};
    if (pitch > INT32_MAX || static_cast<uint64_t>(pitch) * static_cast<uint64_t>(height) > SIZE_MAX / 2)
        return false;
    info.width = static_cast<uint32_t>(width);
    info.height = static_cast<uint32_t>(height);
    info.pitch = static_cast<uint32_t>(pitch);
    return true;
}

// The screen the allocation in force asks for: its presenter and a
// zero-filled back buffer described by `info`. Nothing is kept on failure.
bool OpenScreen(SWindowRec *window, Presenter *&presenter, SBitmapInfo &info) {
    SCommonRec *record = &window->common;
    if (!HoldVideo(window))
        return false;
    const auto &backend = PlatformBackend();
    if (record->allocMode == 1) {
        int32_t width = 0, height = 0;
        presenter = backend.OpenWindow(record->windowArg, &width, &height);
        if (presenter == nullptr)
            return false;
        if (!ScreenFormat(32, info) || !Layout(width, height, info)) {
            backend.Close(presenter);
            return false;
        }
    } else if (record->allocMode == 2) {
        const auto width = static_cast<int32_t>(record->fullScreenWidth);
        const auto height = static_cast<int32_t>(record->fullScreenHeight);
        if (!ScreenFormat(record->fullScreenDepth, info) || !Layout(width, height, info))
            return false;
        // Sub-device n is display n; a negative one is display 0.
        presenter = backend.OpenFullScreen(record->subDevice < 0 ? 0 : record->subDevice, width, height,
                                           record->name);
        if (presenter == nullptr)
            return false;
    } else {
        return false;
    }
    info.bits = std::calloc(size_t{info.pitch} * info.height, 1);
    if (info.bits == nullptr) {
        backend.Close(presenter);
        return false;
    }
    return true;
}

// The displays are counted again for each allocation (and SDL started if it
// could not be at the record's creation).
vantu_bool VANTU_CALL DoAlloc(SCommonRec *record, uint32_t flags, int32_t subDevice) {
    if (record == nullptr)
        return 0;
    if (!record->allocated && HoldVideo(Own(record)))
        record->numSubDevices = PlatformBackend().HighestDisplay();
    return CommonDoAlloc(record, flags, subDevice);
}

// The screen is a back buffer of the driver's: a bitmap over it, then the
// common readying. The screen bitmap before (the placeholder, or a screen
// whose unreadying the host refused) is superseded whether or not the new
// screen comes about, as the memory driver's is; a readying that fails drops
// the new screen again.
vantu_bool VANTU_CALL DoAllocSurfaces(SCommonRec *record) {
    if (record == nullptr)
        return 0;
    SWindowRec *window = Own(record);
    ClosePresenter(window); // none: every unreadying closes it
    Presenter *presenter = nullptr;
    SBitmapInfo info{};
    const bool opened = OpenScreen(window, presenter, info);
    SCommonBitmap *screen = opened ? CommonBitmapInitScr(nullptr, record, 1, &info) : nullptr;
    CommonSetScreenBitmap(record, screen);
    FreeBackBuffer(window); // a superseded screen's: its bitmap no longer points at it
    if (screen == nullptr) {
        if (opened) {
            PlatformBackend().Close(presenter);
            std::free(info.bits);
        }
        return 0;
    }
    window->presenter = presenter;
    window->backBuffer = info.bits;
    window->back = info;
    record->screenInfo = info;
    if (CommonDoAllocSurfaces(record))
        return 1;
    DoDeallocSurfaces(record);
    return 0;
}

// Unready, close the presenter (and a full-screen window), then drop the
// screen bitmap and its pixels. When the host refuses to let its surfaces go,
// the screen and its pixels stay, as the memory driver's screen does, until
// the next screen supersedes them or the record goes.
vantu_bool VANTU_CALL DoDeallocSurfaces(SCommonRec *record) {
    if (record == nullptr)
        return 0;
    SWindowRec *window = Own(record);
    const vantu_bool unreadied = CommonDoDeallocSurfaces(record);
    ClosePresenter(window);
    if (!unreadied)
        return 0;
    CommonReleaseScreenBitmap(record);
    record->screenInfo = SBitmapInfo{};
    FreeBackBuffer(window);
    return 1;
}

vantu_bool VANTU_CALL RestoreLostSurfaces(SCommonRec *record) {
    if (record == nullptr)
        return 0;
    Presenter *presenter = Own(record)->presenter;
    return presenter == nullptr || PlatformBackend().Restore(presenter) ? 1 : 0;
}

// What the common layer's Flip says (false while drawing, the result of
// RestoreLostSurfaces), then the back buffer is shown. The frame is read from
// the driver's own description of the back buffer, whatever a host wrote
// into the screen bitmap's.
vantu_bool VANTU_CALL Flip(SCommonRec *record) {
    if (!CommonFlip(record))
        return 0;
    const SWindowRec *window = Own(record);
    if (window->presenter == nullptr)
        return 1;
    const SBitmapInfo &back = window->back;
    uint32_t colours[256];
    Frame frame{static_cast<const uint8_t *>(window->backBuffer),
                static_cast<ptrdiff_t>(back.pitch),
                static_cast<int32_t>(back.width),
                static_cast<int32_t>(back.height),
                back.bitsPerPixel,
                nullptr};
    if (back.bitsPerPixel == 8) {
        const SCommonBitmap *screen = record->screenBitmap;
        vantu::window::PaletteColours(screen != nullptr ? screen->palette : nullptr, colours);
        frame.palette = colours;
    }
    return PlatformBackend().Present(window->presenter, frame) ? 1 : 0;
}

// The record's last reference: a screen made after finalization (from the
// host's debug function, say) is deallocated as Done would, and whatever the
// driver still has goes (a screen the host would not let go of, the backend).
void VANTU_CALL Destruct(void *record) {
    SCommonRec *common = static_cast<SCommonRec *>(record);
    SWindowRec *window = Own(common);
    if (common->allocated)
        CallOrCommon(common->Dealloc, CommonDealloc, common);
    ClosePresenter(window);
    CommonReleaseScreenBitmap(common);
    common->screenInfo = SBitmapInfo{};
    FreeBackBuffer(window);
    if (window->video == kVideoHeld)
        PlatformBackend().Release();
    window->video = kVideoGone;
}

} // namespace

extern "C" VANTU_EXPORT SCommonRec *VANTU_CALL VANTU_DLL_Init(uint32_t hostHandle, DebugMsgFunc hostDebugFunc) {
    auto *window = CommonNewDriverRecord<SWindowRec>();
    if (window == nullptr)
        return nullptr;
    SCommonRec *record = &window->common;
    CommonFillDriverRecord(record, kTable, kDriverName, hostDebugFunc);
    record->header.destruct = Destruct;
    if (HoldVideo(window))
        record->numSubDevices = PlatformBackend().HighestDisplay();
    return CommonDoInit(record, hostHandle);
}

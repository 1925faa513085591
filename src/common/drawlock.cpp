// The drawing lock and presentation: DrawBegin/DrawEnd bracket the host's
// drawing with the record's mutex, Flip and FlipToPrimary present, Sync tells
// whether the driver can be drawn to.
#include "common.h"

#include "platform.h"

namespace {

using vantu::platform::WaitResult;

vantu_bool RestoreSurfaces(SCommonRec *record) {
    return CallOrCommon(record->RestoreLostSurfaces, CommonRestoreLostSurfaces, record) != 0;
}

// Flip and FlipToPrimary: nothing is presented in the middle of drawing.
vantu_bool Present(SCommonRec *record) {
    if (record == nullptr || record->drawing != 0) {
        return 0;
    }
    return RestoreSurfaces(record);
}

} // namespace

extern "C" {

void *VANTU_CALL CommonDrawBegin(SCommonRec *record) {
    if (record == nullptr) {
        return nullptr;
    }
    // The flag is tested before the wait, so a DrawBegin while drawing is in
    // progress fails at once, on the drawing thread as well as on any other.
    if (record->drawing != 0) {
        return nullptr;
    }
    if (!RestoreSurfaces(record)) {
        return nullptr;
    }
    switch (vantu::platform::MutexWait(record->drawMutex, kDrawWaitMs)) {
    case WaitResult::Acquired: break;
    case WaitResult::Abandoned:
        // The previous drawer ended without DrawEnd. This wait made us the
        // owner; give the mutex back so it is not left owned while not drawing.
        vantu::platform::MutexRelease(record->drawMutex);
        return nullptr;
    case WaitResult::TimedOut:
    case WaitResult::Failed: return nullptr;
    }
    record->drawing = 1;
    return &record->version;
}

vantu_bool VANTU_CALL CommonDrawEnd(SCommonRec *record) {
    if (record == nullptr || record->drawing == 0) {
        return 0;
    }
    record->drawing = 0;
    // One release for the one wait of DrawBegin. Only the drawing thread owns
    // the mutex; from any other thread this release is refused and changes nothing.
    vantu::platform::MutexRelease(record->drawMutex);
    return 1;
}

vantu_bool VANTU_CALL CommonFlip(SCommonRec *record) { return Present(record); }

vantu_bool VANTU_CALL CommonFlipToPrimary(SCommonRec *record) { return Present(record); }

vantu_bool VANTU_CALL CommonSync(SCommonRec *record) {
    if (record == nullptr) {
        return 0;
    }
    return record->drawing == 0 && record->readied != 0 ? 1 : 0;
}

} // extern "C"

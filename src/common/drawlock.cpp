// The drawing lock and presentation: DrawBegin/DrawEnd bracket the host's
// drawing with the record's mutex, Flip and FlipToPrimary present, Sync tells
// whether the driver can be drawn to.
//
// The mutex is owned by the drawing thread exactly while `drawing` is true.
// Threads may meet on the flag: two may pass DrawBegin's test of it together
// (the second then waits for the first's DrawEnd), so it is read and written
// as a relaxed atomic byte; the mutex orders everything else.
#include <atomic>

#include "common.h"

#include "platform.h"

namespace {

using vantu::platform::WaitResult;

static_assert(std::atomic_ref<uint8_t>::required_alignment == alignof(uint8_t));

std::atomic_ref<uint8_t> Drawing(SCommonRec *record) { return std::atomic_ref<uint8_t>(record->drawing); }

bool IsDrawing(SCommonRec *record) { return Drawing(record).load(std::memory_order_relaxed) != 0; }

void SetDrawing(SCommonRec *record, bool drawing) {
    Drawing(record).store(drawing ? 1 : 0, std::memory_order_relaxed);
}

vantu_bool RestoreSurfaces(SCommonRec *record) {
    return CallOrCommon(record->RestoreLostSurfaces, CommonRestoreLostSurfaces, record) != 0;
}

// Flip and FlipToPrimary: nothing is presented in the middle of drawing.
vantu_bool Present(SCommonRec *record) {
    if (record == nullptr || IsDrawing(record))
        return 0;
    return RestoreSurfaces(record);
}

} // namespace

extern "C" {

void *VANTU_CALL CommonDrawBegin(SCommonRec *record) {
    if (record == nullptr)
        return nullptr;
    // The flag is tested before the wait, so a DrawBegin while drawing is in
    // progress fails at once, on the drawing thread as well as on any other.
    if (IsDrawing(record))
        return nullptr;
    if (!RestoreSurfaces(record))
        return nullptr;
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
    SetDrawing(record, true);
    return &record->version;
}

vantu_bool VANTU_CALL CommonDrawEnd(SCommonRec *record) {
    if (record == nullptr || !IsDrawing(record))
        return 0;
    // Only the drawing thread may end the drawing. A wait that does not block
    // tells which thread this is: the drawer owns the mutex and takes it once
    // more; another thread finds it owned and changes nothing. A mutex found
    // free means the drawer ended its drawing meanwhile.
    void *const mutex = record->drawMutex;
    if (mutex == nullptr) {
        // Done closed the lock while drawing went on: there is no owner to
        // ask, and nothing left to release.
        SetDrawing(record, false);
        return 1;
    }
    switch (vantu::platform::MutexWait(mutex, 0)) {
    case WaitResult::Acquired:
        if (!IsDrawing(record)) {
            vantu::platform::MutexRelease(mutex);
            return 0;
        }
        // The drawer: the flag goes first, then one release for this wait
        // and one for DrawBegin's.
        SetDrawing(record, false);
        vantu::platform::MutexRelease(mutex);
        vantu::platform::MutexRelease(mutex);
        return 1;
    case WaitResult::Abandoned:
        // The drawing thread ended without DrawEnd and this wait made us the
        // owner: its drawing ends here, and the lock is free again.
        SetDrawing(record, false);
        vantu::platform::MutexRelease(mutex);
        return 1;
    case WaitResult::TimedOut:
    case WaitResult::Failed: return 0;
    }
    return 0;
}

vantu_bool VANTU_CALL CommonFlip(SCommonRec *record) { return Present(record); }

vantu_bool VANTU_CALL CommonFlipToPrimary(SCommonRec *record) { return Present(record); }

vantu_bool VANTU_CALL CommonSync(SCommonRec *record) {
    if (record == nullptr)
        return 0;
    return !IsDrawing(record) && record->readied != 0 ? 1 : 0;
}

} // extern "C"

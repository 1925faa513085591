// The few operating-system services the driver needs, behind one small API:
// a mutex with the semantics of a Windows kernel mutex. On Windows these are
// the kernel objects themselves; elsewhere they are written on POSIX threads.
#pragma once

#include <cstdint>

namespace vantu::platform {

enum class WaitResult {
    Acquired,  // the caller owns the mutex, taken in the ordinary way
    Abandoned, // the caller owns the mutex, but its previous owner ended without releasing it
    TimedOut,  // not acquired within the time-out
    Failed,    // no mutex, or the wait itself failed
};

// An unnamed mutex owned by no thread; null if it cannot be created.
void *MutexCreate();

// Wait at most `timeoutMs` milliseconds to own the mutex. The owner may wait
// again (the mutex counts its acquisitions, as a kernel mutex does).
WaitResult MutexWait(void *mutex, uint32_t timeoutMs);

// Release one acquisition; false when the calling thread does not own it.
bool MutexRelease(void *mutex);

// Destroy the mutex; false for null.
bool MutexClose(void *mutex);

} // namespace vantu::platform

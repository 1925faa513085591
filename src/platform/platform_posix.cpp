// The mutex on POSIX threads. A kernel mutex counts its owner's acquisitions,
// can be released only by its owner and tells the next waiter when its owner
// ended without releasing it. The pthread mutex underneath is robust (for the
// last point) and error-checking; owner and count are kept here, so that a
// release from the wrong thread is refused before pthreads is asked at all.
//
// Robust mutexes need the kernel's robust futex list. Where glibc could not
// register one (user-mode emulators do not provide it) it refuses to create
// robust mutexes; the mutex is then created without, and a wait for a mutex
// whose owner died simply times out.
#include "platform.h"

#include <atomic>
#include <cerrno>
#include <ctime>
#include <cstdlib>
#include <new>
#include <pthread.h>

#if defined(__SANITIZE_THREAD__)
#define VANTU_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VANTU_TSAN 1
#endif
#endif

namespace vantu::platform {
namespace {

// Windows' INFINITE: wait without a time-out.
constexpr uint32_t kInfinite = 0xFFFFFFFFu;

struct PosixMutex {
    pthread_mutex_t mutex;
    bool robust;
    // Id (see ThreadId) of the owning thread, 0 when none. Other threads read
    // it only to learn that they are not the owner.
    std::atomic<uint32_t> owner;
    uint32_t count; // acquisitions by the owner; touched only by the owner
};

// A per-thread number that no later thread receives again, unlike pthread_t
// values and kernel thread ids, which are reused: a new thread must never
// mistake itself for the dead owner of an abandoned mutex.
uint32_t ThreadId() {
    static std::atomic<uint32_t> next{0};
    thread_local uint32_t id = 0;
    while (id == 0) {
        id = next.fetch_add(1, std::memory_order_relaxed) + 1;
    }
    return id;
}

bool InitMutex(pthread_mutex_t *mutex, bool robust) {
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0) {
        return false;
    }
    bool ok = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ERRORCHECK) == 0;
    if (ok && robust) {
        ok = pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0;
    }
    if (ok) {
        ok = pthread_mutex_init(mutex, &attr) == 0;
    }
    pthread_mutexattr_destroy(&attr);
    return ok;
}

// Absolute time `timeoutMs` from now on `clock`.
timespec Deadline(clockid_t clock, uint32_t timeoutMs) {
    timespec now{};
    clock_gettime(clock, &now);
    constexpr long kNsPerSec = 1000000000L;
    long nsec = now.tv_nsec + static_cast<long>(timeoutMs % 1000u) * 1000000L;
    time_t sec = now.tv_sec + static_cast<time_t>(timeoutMs / 1000u);
    if (nsec >= kNsPerSec) {
        nsec -= kNsPerSec;
        ++sec;
    }
    timespec deadline{};
    deadline.tv_sec = sec;
    deadline.tv_nsec = nsec;
    return deadline;
}

int TimedLock(pthread_mutex_t *mutex, uint32_t timeoutMs) {
    if (timeoutMs == kInfinite) {
        return pthread_mutex_lock(mutex);
    }
    // Try first: a free or abandoned mutex is taken without reading a clock
    // (and the thread sanitizer sees an abandoned one only through trylock).
    const int rc = pthread_mutex_trylock(mutex);
    if (rc != EBUSY) {
        return rc;
    }
    if (timeoutMs == 0) {
        return ETIMEDOUT;
    }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 30)) && !defined(VANTU_TSAN)
    // The monotonic clock: setting the wall clock must not stretch or cut a wait.
    const timespec deadline = Deadline(CLOCK_MONOTONIC, timeoutMs);
    return pthread_mutex_clocklock(mutex, CLOCK_MONOTONIC, &deadline);
#else
    // Also the thread sanitizer's choice: it does not see clocklock acquisitions.
    const timespec deadline = Deadline(CLOCK_REALTIME, timeoutMs);
    return pthread_mutex_timedlock(mutex, &deadline);
#endif
}

void Destroy(PosixMutex *m) {
    m->~PosixMutex();
    std::free(m);
}

void TakeOwnership(PosixMutex *m, uint32_t self) {
    m->count = 1;
    m->owner.store(self, std::memory_order_relaxed);
}

} // namespace

void *MutexCreate() {
    // malloc and placement new: the library carries no C++ runtime allocator.
    void *memory = std::malloc(sizeof(PosixMutex));
    if (memory == nullptr) {
        return nullptr;
    }
    auto *m = new (memory) PosixMutex{};
    if (InitMutex(&m->mutex, true)) {
        m->robust = true;
        return m;
    }
    if (InitMutex(&m->mutex, false)) {
        m->robust = false;
        return m;
    }
    Destroy(m);
    return nullptr;
}

WaitResult MutexWait(void *mutex, uint32_t timeoutMs) {
    if (mutex == nullptr) {
        return WaitResult::Failed;
    }
    auto *m = static_cast<PosixMutex *>(mutex);
    const uint32_t self = ThreadId();
    if (m->owner.load(std::memory_order_relaxed) == self) {
        if (m->count == UINT32_MAX) {
            return WaitResult::Failed;
        }
        ++m->count;
        return WaitResult::Acquired;
    }
    switch (TimedLock(&m->mutex, timeoutMs)) {
    case 0: TakeOwnership(m, self); return WaitResult::Acquired;
    case ETIMEDOUT: return WaitResult::TimedOut;
    case EOWNERDEAD:
        // The caller holds the lock now, with all of the dead owner's
        // acquisitions dropped; marked consistent, it stays usable after
        // this owner releases it, as an abandoned kernel mutex does.
        if (m->robust && pthread_mutex_consistent(&m->mutex) == 0) {
            TakeOwnership(m, self);
            return WaitResult::Abandoned;
        }
        pthread_mutex_unlock(&m->mutex);
        return WaitResult::Failed;
    default:
        // ENOTRECOVERABLE and the like.
        return WaitResult::Failed;
    }
}

bool MutexRelease(void *mutex) {
    if (mutex == nullptr) {
        return false;
    }
    auto *m = static_cast<PosixMutex *>(mutex);
    if (m->owner.load(std::memory_order_relaxed) != ThreadId()) {
        return false;
    }
    if (--m->count == 0) {
        m->owner.store(0, std::memory_order_relaxed);
        pthread_mutex_unlock(&m->mutex);
    }
    return true;
}

bool MutexClose(void *mutex) {
    if (mutex == nullptr) {
        return false;
    }
    auto *m = static_cast<PosixMutex *>(mutex);
    // A kernel mutex may be closed while owned. A locked robust mutex sits in
    // its owner's robust list, which the kernel walks when that thread ends, so
    // its memory may only go once nobody owns it.
    int rc = 0;
    if (m->owner.load(std::memory_order_relaxed) != ThreadId()) {
        rc = pthread_mutex_trylock(&m->mutex);
        if (rc == EOWNERDEAD && m->robust) {
            rc = pthread_mutex_consistent(&m->mutex);
        }
    }
    if (rc == 0) {
        pthread_mutex_unlock(&m->mutex);
    } else if (rc != ENOTRECOVERABLE) {
        // Owned by another thread: the handle is closed, the few bytes stay.
        return true;
    }
    pthread_mutex_destroy(&m->mutex);
    Destroy(m);
    return true;
}

} // namespace vantu::platform

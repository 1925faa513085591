// The mutex on Windows: the kernel mutex object itself.
#include "platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace vantu::platform {

void *MutexCreate() {
    // Unnamed, default security, not owned by the creating thread.
    return CreateMutexA(nullptr, FALSE, nullptr);
}

WaitResult MutexWait(void *mutex, uint32_t timeoutMs) {
    if (mutex == nullptr) {
        return WaitResult::Failed;
    }
    switch (WaitForSingleObject(static_cast<HANDLE>(mutex), static_cast<DWORD>(timeoutMs))) {
    case WAIT_OBJECT_0: return WaitResult::Acquired;
    case WAIT_ABANDONED: return WaitResult::Abandoned;
    case WAIT_TIMEOUT: return WaitResult::TimedOut;
    default: return WaitResult::Failed;
    }
}

bool MutexRelease(void *mutex) {
    if (mutex == nullptr) {
        return false;
    }
    return ReleaseMutex(static_cast<HANDLE>(mutex)) != FALSE;
}

bool MutexClose(void *mutex) {
    if (mutex == nullptr) {
        return false;
    }
    return CloseHandle(static_cast<HANDLE>(mutex)) != FALSE;
}

} // namespace vantu::platform

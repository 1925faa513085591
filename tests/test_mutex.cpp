// The platform mutex: kernel-mutex semantics on every platform.
#include <gtest/gtest.h>

#include <chrono>

#include "platform.h"
#include "thread_helpers.h"

#if defined(__linux__)
#include <sys/syscall.h>
#include <unistd.h>
#endif

using namespace vantu::platform;

// Robust futexes let a wait see that the owner died; user-mode qemu (the
// 32-bit test runs) answers the robust-list calls with ENOSYS.
bool OwnerDeathDetectable() {
#if defined(__linux__)
    void *head = nullptr;
    size_t len = 0;
    return syscall(SYS_get_robust_list, 0, &head, &len) == 0;
#else
    return true;
#endif
}

namespace {

// What another thread's wait gets; it lets go again of what it took.
WaitResult PollFromOtherThread(void *mutex, uint32_t timeoutMs) {
    return OnOtherThread([=] {
        const WaitResult r = MutexWait(mutex, timeoutMs);
        if (r == WaitResult::Acquired || r == WaitResult::Abandoned)
            MutexRelease(mutex);
        return r;
    });
}

TEST(Mutex, OwnershipIsCountedAndOwnerOnly) {
    EXPECT_EQ(MutexWait(nullptr, 0), WaitResult::Failed);
    EXPECT_FALSE(MutexRelease(nullptr));
    EXPECT_FALSE(MutexClose(nullptr));
    void *mutex = MutexCreate();
    ASSERT_NE(mutex, nullptr);
    EXPECT_FALSE(MutexRelease(mutex)) << "created unowned";
    ASSERT_EQ(MutexWait(mutex, 0), WaitResult::Acquired);
    ASSERT_EQ(MutexWait(mutex, 50), WaitResult::Acquired) << "the owner waits again";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(PollFromOtherThread(mutex, 50), WaitResult::TimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(45));
    EXPECT_FALSE(OnOtherThread([=] { return MutexRelease(mutex); })) << "not the owner";
    EXPECT_TRUE(MutexRelease(mutex));
    EXPECT_EQ(PollFromOtherThread(mutex, 0), WaitResult::TimedOut) << "one acquisition left";
    EXPECT_TRUE(MutexRelease(mutex));
    EXPECT_FALSE(MutexRelease(mutex)) << "one release too many";
    EXPECT_EQ(PollFromOtherThread(mutex, 0), WaitResult::Acquired);
    EXPECT_TRUE(MutexClose(mutex));
}

TEST(Mutex, OwnerEndingWithoutReleaseAbandonsIt) {
    if (!OwnerDeathDetectable())
        GTEST_SKIP() << kNoOwnerDeath;
    void *mutex = MutexCreate();
    // Taken twice: abandonment drops the whole count at once.
    EXPECT_TRUE(OnOtherThread(
        [=] { return MutexWait(mutex, 0) == WaitResult::Acquired && MutexWait(mutex, 0) == WaitResult::Acquired; }));
    EXPECT_EQ(MutexWait(mutex, 1000), WaitResult::Abandoned);
    EXPECT_EQ(PollFromOtherThread(mutex, 0), WaitResult::TimedOut) << "the waiter owns it now";
    EXPECT_TRUE(MutexRelease(mutex));
    EXPECT_FALSE(MutexRelease(mutex));
    EXPECT_EQ(PollFromOtherThread(mutex, 0), WaitResult::Acquired) << "usable again";
    EXPECT_TRUE(MutexClose(mutex));
}

} // namespace

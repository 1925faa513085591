// Small helpers shared by the tests that use threads.
#pragma once

#include <thread>

// False where a thread that ends owning a mutex cannot be detected.
bool OwnerDeathDetectable();
inline constexpr const char *kNoOwnerDeath =
    "robust futexes are unavailable (user-mode emulation): a dead owner cannot be detected";

// Runs `f` on a thread of its own and returns its result.
template <class F>
auto OnOtherThread(F f) {
    decltype(f()) result{};
    std::thread t([&] { result = f(); });
    t.join();
    return result;
}

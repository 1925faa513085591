// Chooses the pixel kernels once, from the CPU's features, capped by the
// VANTU_SIMD environment variable.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "levels.h"
#include "pixels.h"

namespace vantu {
namespace {

#if defined(VANTU_X86_KERNELS) && (defined(__GNUC__) || defined(__clang__))
KernelLevel DetectCpuLevel() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl"))
        return KernelLevel::AVX512;
    if (__builtin_cpu_supports("avx2"))
        return KernelLevel::AVX2;
    if (__builtin_cpu_supports("sse2"))
        return KernelLevel::SSE2; // the portable level, built for SSE2 on x86, comes with it
    return KernelLevel::Reference;
}
#elif defined(VANTU_PORTABLE_KERNELS)
KernelLevel DetectCpuLevel() { return KernelLevel::Portable; }
#else
KernelLevel DetectCpuLevel() { return KernelLevel::Reference; }
#endif

// Cached in plain atomics rather than function-local statics: the library
// links no C++ runtime, whose guarded statics would pull one in. Threads that
// race on the first call compute the same answer.
std::atomic<int> g_cpuLevel{-1};
std::atomic<const PixelKernels *> g_active{nullptr};

KernelLevel CpuLevel() {
    int level = g_cpuLevel.load(std::memory_order_relaxed);
    if (level < 0) {
        level = static_cast<int>(DetectCpuLevel());
        g_cpuLevel.store(level, std::memory_order_relaxed);
    }
    return static_cast<KernelLevel>(level);
}

// The level VANTU_SIMD asks for, or the highest one when it is unset or unknown.
KernelLevel RequestedLevel() {
    const char *env = std::getenv("VANTU_SIMD");
    if (env == nullptr)
        return KernelLevel::AVX512;
    static constexpr struct {
        const char *name;
        KernelLevel level;
    } kNames[] = {{"reference", KernelLevel::Reference},
                  {"portable", KernelLevel::Portable},
                  {"sse2", KernelLevel::SSE2},
                  {"avx2", KernelLevel::AVX2},
                  {"avx512", KernelLevel::AVX512}};
    for (const auto &entry : kNames)
        if (std::strcmp(env, entry.name) == 0)
            return entry.level;
    return KernelLevel::AVX512;
}

} // namespace

const PixelKernels *KernelsForLevel(KernelLevel level) {
    if (static_cast<int>(level) > static_cast<int>(CpuLevel()))
        return nullptr;
    switch (level) {
    case KernelLevel::Reference: return &ReferenceKernels();
#if defined(VANTU_PORTABLE_KERNELS)
    case KernelLevel::Portable: return &PortableKernels();
#endif
#if defined(VANTU_X86_KERNELS)
    case KernelLevel::SSE2: return &Sse2Kernels();
    case KernelLevel::AVX2: return &Avx2Kernels();
    case KernelLevel::AVX512: return &Avx512Kernels();
#endif
    default: return nullptr;
    }
}

const PixelKernels &ActiveKernels() {
    if (const PixelKernels *active = g_active.load(std::memory_order_acquire))
        return *active;
    int level = static_cast<int>(RequestedLevel());
    if (level > static_cast<int>(CpuLevel()))
        level = static_cast<int>(CpuLevel());
    const PixelKernels *chosen = &ReferenceKernels();
    for (; level > 0; --level)
        if (const PixelKernels *kernels = KernelsForLevel(static_cast<KernelLevel>(level))) {
            chosen = kernels;
            break;
        }
    g_active.store(chosen, std::memory_order_release);
    return *chosen;
}

} // namespace vantu

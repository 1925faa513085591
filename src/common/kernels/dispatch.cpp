// Chooses the pixel kernels once, from the CPU's features, maker, family and
// model (tuning.h), capped by the VANTU_SIMD environment variable.
#include <atomic>
#include <cstdlib>
#include <cstring>

#if defined(VANTU_X86_KERNELS) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#endif

#include "levels.h"
#include "pixels.h"
#include "tuning.h"

namespace vantu {
namespace {

#if defined(VANTU_X86_KERNELS) && (defined(__GNUC__) || defined(__clang__))
CpuFacts DetectCpu() {
    CpuFacts facts{CpuVendor::Other, 0, 0, 0, KernelLevel::Reference};
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(0, &a, &b, &c, &d) != 0) {
        char vendor[12];
        std::memcpy(vendor, &b, 4);
        std::memcpy(vendor + 4, &d, 4);
        std::memcpy(vendor + 8, &c, 4);
        if (std::memcmp(vendor, "GenuineIntel", 12) == 0)
            facts.vendor = CpuVendor::Intel;
        else if (std::memcmp(vendor, "AuthenticAMD", 12) == 0)
            facts.vendor = CpuVendor::Amd;
    }
    if (__get_cpuid(1, &a, &b, &c, &d) != 0) {
        const uint32_t family = (a >> 8) & 0xFu, model = (a >> 4) & 0xFu;
        facts.family = family == 0xFu ? family + ((a >> 20) & 0xFFu) : family;
        facts.model = family == 0x6u || family == 0xFu ? model + (((a >> 16) & 0xFu) << 4) : model;
    }
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl"))
        facts.level = KernelLevel::AVX512;
    else if (__builtin_cpu_supports("avx2"))
        facts.level = KernelLevel::AVX2;
    else if (__builtin_cpu_supports("sse2"))
        facts.level = KernelLevel::SSE2; // the portable level, built for SSE2 on x86, comes with it
    if (__builtin_cpu_supports("avx512vbmi"))
        facts.features |= kCpuAvx512Vbmi;
    return facts;
}
#elif defined(VANTU_PORTABLE_KERNELS)
CpuFacts DetectCpu() { return {CpuVendor::Other, 0, 0, 0, KernelLevel::Portable}; }
#else
CpuFacts DetectCpu() { return {CpuVendor::Other, 0, 0, 0, KernelLevel::Reference}; }
#endif

// Cached behind plain atomics rather than in function-local statics: the
// library links no C++ runtime, whose guarded statics would pull one in.
// The first caller fills the facts; one that comes meanwhile waits the few
// instructions that takes.
CpuFacts g_cpu{};
std::atomic<int> g_cpuState{0}; // 0 unknown, 1 being found, 2 known
std::atomic<const PixelKernels *> g_active{nullptr};

// The variants of `level` in the order the level lists them (before any
// check of the CPU); count 0 where this build lacks the level.
VariantList VariantsOf(KernelLevel level) {
    static constexpr LevelVariant kNone[] = {{nullptr, 0}};
    switch (level) {
    case KernelLevel::Reference: return {kNone, 1};
#if defined(VANTU_X86_KERNELS)
    case KernelLevel::AVX512: return Avx512Variants();
#endif
    default: return {kNone, 1};
    }
}

// The single table of a level without variants.
const PixelKernels *SingleTable(KernelLevel level) {
    switch (level) {
    case KernelLevel::Reference: return &ReferenceKernels();
#if defined(VANTU_PORTABLE_KERNELS)
    case KernelLevel::Portable: return &PortableKernels();
#endif
#if defined(VANTU_X86_KERNELS)
    case KernelLevel::SSE2: return &Sse2Kernels();
    case KernelLevel::AVX2: return &Avx2Kernels();
#endif
    default: return nullptr;
    }
}

// The first variant of `level` this CPU runs whose name is `variant` (any
// name when null).
const PixelKernels *Named(KernelLevel level, const char *variant, size_t length) {
    for (int i = 0;; ++i) {
        const PixelKernels *k = KernelVariant(level, i);
        if (k == nullptr)
            return nullptr;
        if (variant == nullptr ||
            (std::strlen(k->variant) == length && std::strncmp(k->variant, variant, length) == 0))
            return k;
    }
}

// The variant tuning.h names for this CPU at `level`.
const PixelKernels *Chosen(KernelLevel level) {
    const CpuFacts &cpu = Cpu();
    for (const TuningRow &row : kTuning)
        if (row.level == level && row.vendor == cpu.vendor && cpu.family >= row.familyFirst &&
            cpu.family <= row.familyLast && cpu.model >= row.modelFirst && cpu.model <= row.modelLast)
            if (const PixelKernels *k = Named(level, row.variant, std::strlen(row.variant)))
                return k;
    return Named(level, nullptr, 0); // the level's first variant
}

// The level VANTU_SIMD asks for, or the highest one when it is unset or
// unknown; `variant` points at the name after a '/', if any.
KernelLevel RequestedLevel(const char *&variant, size_t &length) {
    variant = nullptr;
    length = 0;
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
    const char *slash = std::strchr(env, '/');
    const size_t levelLength = slash != nullptr ? static_cast<size_t>(slash - env) : std::strlen(env);
    for (const auto &entry : kNames)
        if (std::strlen(entry.name) == levelLength && std::strncmp(env, entry.name, levelLength) == 0) {
            if (slash != nullptr) {
                variant = slash + 1;
                length = std::strlen(variant);
            }
            return entry.level;
        }
    return KernelLevel::AVX512;
}

} // namespace

const CpuFacts &Cpu() {
    if (g_cpuState.load(std::memory_order_acquire) == 2)
        return g_cpu;
    const CpuFacts facts = DetectCpu();
    int expected = 0;
    if (g_cpuState.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
        g_cpu = facts;
        g_cpuState.store(2, std::memory_order_release);
    }
    while (g_cpuState.load(std::memory_order_acquire) != 2) {
    }
    return g_cpu;
}

const PixelKernels *KernelVariant(KernelLevel level, int index) {
    if (static_cast<int>(level) > static_cast<int>(Cpu().level) || index < 0)
        return nullptr;
    if (const PixelKernels *single = SingleTable(level))
        return index == 0 ? single : nullptr;
    const VariantList list = VariantsOf(level);
    for (int i = 0; i < list.count; ++i) {
        const LevelVariant &v = list.items[i];
        if (v.kernels == nullptr || (v.needs & ~Cpu().features) != 0)
            continue;
        if (index-- == 0)
            return v.kernels;
    }
    return nullptr;
}

const PixelKernels *KernelsForLevel(KernelLevel level) { return Chosen(level); }

const PixelKernels &ActiveKernels() {
    if (const PixelKernels *active = g_active.load(std::memory_order_acquire))
        return *active;
    const char *variant = nullptr;
    size_t length = 0;
    const KernelLevel requested = RequestedLevel(variant, length);
    int level = static_cast<int>(requested);
    if (level > static_cast<int>(Cpu().level))
        level = static_cast<int>(Cpu().level);
    const PixelKernels *chosen = &ReferenceKernels();
    for (; level > 0; --level) {
        const auto l = static_cast<KernelLevel>(level);
        const PixelKernels *kernels = l == requested && variant != nullptr ? Named(l, variant, length) : nullptr;
        if (kernels == nullptr)
            kernels = KernelsForLevel(l);
        if (kernels != nullptr) {
            chosen = kernels;
            break;
        }
    }
    g_active.store(chosen, std::memory_order_release);
    return *chosen;
}

} // namespace vantu

// The PE loader itself: what it refuses and says, relocation, the order of
// the load notifications, and every shim's calling convention. (What the
// shims do is tested by the host suite, which runs the real DLL on them.)
#include "pe_internal.h"
#include "pe_loader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

const std::string kProbe = PROBE_DIR "/probe.dll";

// An export by name, as the given function type.
template <class F> F Export(void *module, const char *name) {
    void *address = pe_symbol(module, name);
    EXPECT_NE(address, nullptr) << name;
    F f;
    std::memcpy(&f, &address, sizeof f);
    return f;
}

// ---- Loading -----------------------------------------------------------------------

TEST(PeLoader, RefusesWhatItCannotRunAndSaysWhy) {
    const std::string truncated = testing::TempDir() + "truncated.dll";
    {
        std::vector<char> bytes(2048); // the headers, not the sections
        FILE *in = std::fopen(kProbe.c_str(), "rb");
        ASSERT_NE(in, nullptr);
        ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), in), bytes.size());
        std::fclose(in);
        FILE *out = std::fopen(truncated.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(out);
    }
    const struct {
        std::string path;
        std::vector<std::string> said;
    } cases[] = {
        {PROBE_DIR "/unknown.dll", {"refused: no shim for", "KERNEL32.dll!Beep", "msvcrt.dll!_strdup", "USER32.dll!MessageBeep"}},
        {PROBE_DIR "/no-such.dll", {"no such file"}},
        {"/proc/self/exe", {"not a PE file"}},
        {truncated, {"section", "outside the image or the file"}},
    };
    for (const auto &c : cases) {
        testing::internal::CaptureStderr();
        void *module = pe_load(c.path.c_str());
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(module, nullptr) << c.path;
        for (const std::string &text : c.said)
            EXPECT_NE(said.find(text), std::string::npos) << c.path << ": " << said;
    }
}

TEST(PeLoader, RelocatesEachCopyWhereverItLands) {
    const std::string copy = testing::TempDir() + "probe-copy.dll";
    std::filesystem::copy_file(kProbe, copy, std::filesystem::copy_options::overwrite_existing);
    void *first = pe_load(kProbe.c_str());
    void *second = pe_load(copy.c_str());
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    for (void *module : {first, second}) {
        auto word = Export<const char *(*)(int)>(module, "probe_word");
        EXPECT_STREQ(word(0), "zero");
        EXPECT_STREQ(word(2), "two");
        EXPECT_GE(reinterpret_cast<uintptr_t>(word(1)), reinterpret_cast<uintptr_t>(module));
    }
    EXPECT_EQ(pe_symbol(first, "no_such_export"), nullptr);
    EXPECT_EQ(pe_load(kProbe.c_str()), first) << "a second load counts a reference";
    pe_unload(first);
    EXPECT_STREQ(Export<const char *(*)(int)>(first, "probe_word")(1), "one") << "still loaded once";
    pe_unload(first);
    pe_unload(second);
}

TEST(PeLoader, CallsTlsCallbacksAndEntryPointInWindowsOrder) {
    void *module = pe_load(kProbe.c_str());
    ASSERT_NE(module, nullptr);
    int events[8] = {};
    ASSERT_EQ(Export<int (*)(int *, int)>(module, "probe_events")(events, 8), 2);
    EXPECT_EQ(events[0], 100 + DLL_PROCESS_ATTACH) << "TLS callback first";
    EXPECT_EQ(events[1], 200 + DLL_PROCESS_ATTACH) << "then DllMain";
    int detach[8] = {};
    Export<void (*)(int *)>(module, "probe_log_detach_to")(detach);
    pe_unload(module);
    EXPECT_EQ(detach[0], 200 + DLL_PROCESS_DETACH) << "DllMain first";
    EXPECT_EQ(detach[1], 100 + DLL_PROCESS_DETACH) << "then the TLS callback";
}

// ---- Calling conventions -------------------------------------------------------------

// Calls `function` as 32-bit Windows code may: arguments pushed right to left
// on a stack aligned to 4 bytes but not to 16 (the entry's stack pointer is
// 4 modulo 16), and returns how many bytes of arguments it removed.
extern "C" uint32_t CallAsWindows(const void *function, const uint32_t *args, uint32_t count, uint32_t pad);
asm(R"(
    .text
    .globl CallAsWindows
CallAsWindows:
    push %ebp
    mov %esp, %ebp
    push %ebx
    push %esi
    push %edi
    mov 8(%ebp), %ebx
    mov 12(%ebp), %edx
    mov 16(%ebp), %ecx
    and $-16, %esp
    sub 20(%ebp), %esp
1:  test %ecx, %ecx
    jz 2f
    push -4(%edx,%ecx,4)
    dec %ecx
    jmp 1b
2:  mov %esp, %esi
    call *%ebx
    mov %esp, %eax
    sub %esi, %eax
    lea -12(%ebp), %esp
    pop %edi
    pop %esi
    pop %ebx
    pop %ebp
    ret
)");

uint32_t BytesRemoved(const char *dll, const char *name, std::vector<uint32_t> args) {
    const uint32_t count = uint32_t(args.size());
    const uint32_t pad = (16u - (8u + 4u * count) % 16u) % 16u; // the entry's %esp is then 4 modulo 16
    return CallAsWindows(pe_shim_address(dll, name), args.data(), count, pad);
}

uint32_t Word(const void *p) { return uint32_t(reinterpret_cast<uintptr_t>(p)); }

TEST(Shims, KeepTheirCallingConventionOnAFourByteAlignedStack) {
    // KERNEL32 is __stdcall (the callee removes its arguments), msvcrt __cdecl.
    uint8_t section[24] = {}, info[28];
    const uint16_t wide_kernel32[] = {'k', 'e', 'r', 'n', 'e', 'l', '3', '2', 0};
    const uint32_t k32 = Word(pe_module_handle("kernel32"));
    const struct {
        const char *name;
        std::vector<uint32_t> args;
    } kernel32[] = {
        {"CloseHandle", {0}},
        {"CreateMutexA", {0, 0, Word("named")}}, // refused: named
        {"InitializeCriticalSection", {Word(section)}},
        {"EnterCriticalSection", {Word(section)}},
        {"LeaveCriticalSection", {Word(section)}},
        {"DeleteCriticalSection", {Word(section)}},
        {"FreeLibrary", {k32}},
        {"GetLastError", {}},
        {"GetModuleHandleA", {Word("kernel32")}},
        {"GetModuleHandleW", {Word(wide_kernel32)}},
        {"GetProcAddress", {k32, Word("Sleep")}},
        {"IsDBCSLeadByteEx", {1252, 'a'}},
        {"LoadLibraryA", {Word("kernel32")}},
        {"MultiByteToWideChar", {65001, 0, Word("a"), 1, 0, 0}},
        {"ReleaseMutex", {0}},
        {"Sleep", {0}},
        {"TlsGetValue", {0}},
        {"VirtualProtect", {0, 0, 0, 0}},
        {"VirtualQuery", {0, Word(info), 0}},
        {"WaitForSingleObject", {0, 0}},
        {"WideCharToMultiByte", {65001, 0, Word(wide_kernel32), 1, 0, 0, 0, 0}},
    };
    testing::internal::CaptureStderr(); // the refused named mutex says so
    size_t covered = 0;
    for (const auto &c : kernel32) {
        EXPECT_EQ(BytesRemoved("KERNEL32.dll", c.name, c.args), 4 * c.args.size()) << c.name;
        covered += pe_shim_address("KERNEL32.dll", c.name) != nullptr;
    }
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(covered, pe_kernel32_dll.count) << "every KERNEL32 shim is in the table";

    auto *iob = static_cast<uint8_t *>(pe_shim_address("msvcrt.dll", "_iob"));
    char buffer[8] = "abc";
    // Every function but abort and _amsg_exit, which end the process.
    const struct {
        const char *name;
        std::vector<uint32_t> args;
    } msvcrt[] = {
        {"_errno", {}}, {"_initterm", {0, 0}}, {"_lock", {3}}, {"_unlock", {3}}, {"atoi", {Word("12")}},
        {"strlen", {Word(buffer)}}, {"strchr", {Word(buffer), 'b'}}, {"strcmp", {Word(buffer), Word("abd")}},
        {"strncmp", {Word(buffer), Word("abd"), 2}}, {"memset", {Word(buffer), 'x', 2}},
        {"memcpy", {Word(buffer), Word("yy"), 2}}, {"wcslen", {Word(wide_kernel32)}}, {"getenv", {Word("PATH")}},
        {"strerror", {2}}, {"setlocale", {2, 0}}, {"localeconv", {}}, {"calloc", {1, 1}}, {"malloc", {1}},
        {"realloc", {0, 8}}, {"free", {0}}, {"fputc", {'\n', Word(iob + 32)}}, {"fwrite", {Word(buffer), 1, 0, Word(iob + 32)}},
        {"vfprintf", {Word(iob + 32), Word(""), 0}},
    };
    for (const auto &c : msvcrt)
        EXPECT_EQ(BytesRemoved("msvcrt.dll", c.name, c.args), 0u) << c.name;
}

// The host suite caps the DLL's kernels at each of these; were one missing,
// the DLL would quietly fall back to a lower level.
TEST(Emulator, OffersTheKernelLevelsTheHostSuiteRunsAt) {
    __builtin_cpu_init();
    EXPECT_TRUE(__builtin_cpu_supports("sse2"));
    EXPECT_TRUE(__builtin_cpu_supports("avx2"));
}

} // namespace

// The PE loader and its shims: what Windows code finds when it runs here.
// Shims are called through the addresses the loader binds, with the calling
// convention the DLL uses, so a wrong convention corrupts the stack here too.
#include "pe_internal.h"
#include "pe_loader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
const std::string kProbe = PROBE_DIR "/probe.dll";

// A shim by name, as the given function type.
template <class F> F Shim(const char *dll, const char *name) {
    void *address = pe_shim_address(dll, name);
    EXPECT_NE(address, nullptr) << dll << "!" << name;
    F f;
    std::memcpy(&f, &address, sizeof f);
    return f;
}
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
    ASSERT_TRUE(first != nullptr && second != nullptr && first != second);
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

TEST(PeLoader, GivesTheLoadingThreadATebThroughFs) {
    void *module = pe_load(kProbe.c_str());
    ASSERT_NE(module, nullptr);
    void *self = nullptr, *base = nullptr, *limit = nullptr;
    const int tls_value = Export<int (*)(void **, void **, void **)>(module, "probe_teb")(&self, &base, &limit);
    int local = 0;
    EXPECT_NE(self, nullptr);
    EXPECT_TRUE(limit < static_cast<void *>(&local) && static_cast<void *>(&local) < base)
        << "the TEB's stack bounds enclose this frame";
    EXPECT_EQ(tls_value, 0x5EED) << "the thread's TLS block is a copy of the module's template";

    // A thread that loads a module later gets a TEB of its own, with TLS
    // blocks for the modules loaded before it.
    const std::string copy = testing::TempDir() + "probe-late.dll";
    std::filesystem::copy_file(kProbe, copy, std::filesystem::copy_options::overwrite_existing);
    void *late_self = nullptr;
    int late_value = 0;
    std::thread([&] {
        void *other = pe_load(copy.c_str());
        late_value = Export<int (*)(void **, void **, void **)>(module, "probe_teb")(&late_self, &base, &limit);
        pe_unload(other);
    }).join();
    EXPECT_TRUE(late_self != nullptr && late_self != self);
    EXPECT_EQ(late_value, 0x5EED);
    pe_unload(module);
}

TEST(PeLoader, ModuleLookupsFromInsideTheDll) {
    void *module = pe_load(kProbe.c_str());
    ASSERT_NE(module, nullptr);
    auto handle = Export<HMODULE (*)(const char *)>(module, "probe_module_handle");
    auto proc = Export<void *(*)(HMODULE, const char *)>(module, "probe_proc");
    auto last_error = Export<DWORD (*)()>(module, "probe_last_error");
    for (const char *name : {"probe.dll", "PROBE", "C:\\dlls\\Probe.DLL"})
        EXPECT_EQ(handle(name), module) << name;
    EXPECT_EQ(proc(module, "probe_word"), pe_symbol(module, "probe_word"));
    EXPECT_EQ(proc(module, reinterpret_cast<const char *>(uintptr_t(1))), pe_symbol(module, "probe_events"))
        << "ordinal 1 is the first name in order";
    HMODULE kernel32 = handle("kernel32");
    ASSERT_NE(kernel32, nullptr);
    EXPECT_EQ(proc(kernel32, "CreateMutexA"), pe_shim_address("KERNEL32.dll", "CreateMutexA"));
    EXPECT_EQ(proc(kernel32, "Beep"), nullptr);
    EXPECT_EQ(last_error(), DWORD(PE_ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(handle("no-such.dll"), nullptr);
    EXPECT_EQ(last_error(), DWORD(PE_ERROR_MOD_NOT_FOUND));
    pe_unload(module);
}

TEST(PeLoader, VirtualQueryAndProtectSeeTheImagesPages) {
    void *module = pe_load(kProbe.c_str());
    ASSERT_NE(module, nullptr);
    auto query = Shim<size_t(WINAPI *)(const void *, PeMemoryInfo *, size_t)>("KERNEL32.dll", "VirtualQuery");
    auto protect = Shim<BOOL(WINAPI *)(void *, size_t, DWORD, DWORD *)>("KERNEL32.dll", "VirtualProtect");
    PeMemoryInfo code{}, text{};
    ASSERT_EQ(query(pe_symbol(module, "probe_word"), &code, sizeof code), sizeof code);
    EXPECT_TRUE(code.AllocationBase == module && code.Type == PE_MEM_IMAGE && code.State == PE_MEM_COMMIT);
    EXPECT_EQ(code.Protect, DWORD(PE_PAGE_EXECUTE_READ));
    char *word = const_cast<char *>(Export<const char *(*)(int)>(module, "probe_word")(0));
    ASSERT_EQ(query(word, &text, sizeof text), sizeof text);
    EXPECT_EQ(text.Protect, DWORD(PE_PAGE_READONLY)) << "read-only data";
    DWORD old = 0;
    ASSERT_TRUE(protect(word, 4, PE_PAGE_READWRITE, &old));
    EXPECT_EQ(old, DWORD(PE_PAGE_READONLY));
    word[0] = 'Z'; // writable now
    ASSERT_EQ(query(word, &text, sizeof text), sizeof text);
    EXPECT_EQ(text.Protect, DWORD(PE_PAGE_READWRITE));
    EXPECT_TRUE(protect(word, 4, old, &old));
    EXPECT_FALSE(protect(word, 4, PE_PAGE_READONLY, nullptr)) << "the old protection must have a place";
    int local = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(query(&local, &text, sizeof text), 0u) << "outside the images";
    EXPECT_NE(testing::internal::GetCapturedStderr().find("VirtualQuery"), std::string::npos);
    pe_unload(module);
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

// ---- KERNEL32: mutexes and critical sections ------------------------------------------------

struct Kernel {
    HANDLE(WINAPI *create)(void *, BOOL, const char *) =
        Shim<HANDLE(WINAPI *)(void *, BOOL, const char *)>("KERNEL32.dll", "CreateMutexA");
    DWORD(WINAPI *wait)(HANDLE, DWORD) = Shim<DWORD(WINAPI *)(HANDLE, DWORD)>("KERNEL32.dll", "WaitForSingleObject");
    BOOL(WINAPI *release)(HANDLE) = Shim<BOOL(WINAPI *)(HANDLE)>("KERNEL32.dll", "ReleaseMutex");
    BOOL(WINAPI *close)(HANDLE) = Shim<BOOL(WINAPI *)(HANDLE)>("KERNEL32.dll", "CloseHandle");
    DWORD(WINAPI *last_error)() = Shim<DWORD(WINAPI *)()>("KERNEL32.dll", "GetLastError");
};

// Result of a wait on another thread, which lets go again of what it took.
DWORD WaitElsewhere(const Kernel &k, HANDLE mutex, DWORD ms) {
    DWORD result = 0;
    std::thread([&] {
        result = k.wait(mutex, ms);
        if (result == PE_WAIT_OBJECT_0 || result == PE_WAIT_ABANDONED)
            k.release(mutex);
    }).join();
    return result;
}

TEST(KernelMutex, OwnerCountsAcquisitionsAndOnlyItReleases) {
    Kernel k;
    HANDLE mutex = k.create(nullptr, 0, nullptr);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(k.wait(mutex, 0), PE_WAIT_OBJECT_0);
    EXPECT_EQ(k.wait(mutex, 0), PE_WAIT_OBJECT_0) << "the owner acquires again";
    EXPECT_EQ(WaitElsewhere(k, mutex, 0), PE_WAIT_TIMEOUT);
    BOOL released_elsewhere = 1;
    DWORD error = 0;
    std::thread([&] { released_elsewhere = k.release(mutex), error = k.last_error(); }).join();
    EXPECT_FALSE(released_elsewhere);
    EXPECT_EQ(error, DWORD(PE_ERROR_NOT_OWNER));
    EXPECT_TRUE(k.release(mutex));
    EXPECT_EQ(WaitElsewhere(k, mutex, 0), PE_WAIT_TIMEOUT) << "one release for two acquisitions";
    EXPECT_TRUE(k.release(mutex));
    EXPECT_EQ(WaitElsewhere(k, mutex, 0), PE_WAIT_OBJECT_0);
    EXPECT_FALSE(k.release(mutex));
    EXPECT_EQ(k.last_error(), DWORD(PE_ERROR_NOT_OWNER));
    EXPECT_TRUE(k.close(mutex));

    HANDLE owned = k.create(nullptr, 1, nullptr);
    EXPECT_EQ(WaitElsewhere(k, owned, 0), PE_WAIT_TIMEOUT) << "created owned by its creator";
    EXPECT_TRUE(k.release(owned) && k.close(owned));
    EXPECT_EQ(k.wait(owned, 0), PE_WAIT_FAILED) << "closed";
    EXPECT_EQ(k.last_error(), DWORD(PE_ERROR_INVALID_HANDLE));
    EXPECT_FALSE(k.close(owned));
    testing::internal::CaptureStderr();
    EXPECT_EQ(k.create(nullptr, 0, "named"), nullptr);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("named mutexes"), std::string::npos);
}

TEST(KernelMutex, WaitsBlockUntilReleaseOrTimeOut) {
    Kernel k;
    HANDLE mutex = k.create(nullptr, 1, nullptr);
    auto start = Clock::now();
    EXPECT_EQ(WaitElsewhere(k, mutex, 300), PE_WAIT_TIMEOUT);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(300));
    std::atomic<DWORD> result{1234};
    Clock::time_point acquired;
    std::thread waiter([&] {
        result = k.wait(mutex, PE_INFINITE);
        acquired = Clock::now();
        k.release(mutex);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(result.load(), 1234u) << "still waiting";
    const auto released = Clock::now();
    EXPECT_TRUE(k.release(mutex));
    waiter.join();
    EXPECT_EQ(result.load(), PE_WAIT_OBJECT_0);
    EXPECT_GE(acquired, released);
    EXPECT_TRUE(k.close(mutex));
}

TEST(KernelMutex, OwnerEndingWithoutReleaseAbandonsIt) {
    Kernel k;
    HANDLE mutex = k.create(nullptr, 0, nullptr);
    std::thread([&] { k.wait(mutex, 0), k.wait(mutex, 0); }).join(); // taken twice, never released
    EXPECT_EQ(k.wait(mutex, 1000), PE_WAIT_ABANDONED) << "reported once, to the next owner";
    EXPECT_TRUE(k.release(mutex));
    EXPECT_FALSE(k.release(mutex)) << "abandonment dropped the dead owner's count";
    EXPECT_EQ(WaitElsewhere(k, mutex, 0), PE_WAIT_OBJECT_0);
    EXPECT_TRUE(k.close(mutex));
}

TEST(CriticalSection, RecursiveForItsOwnerExclusiveForOthers) {
    struct Section { void *debug; int32_t lock_count, recursion; uint32_t owner; void *semaphore; uint32_t spin; };
    static_assert(sizeof(Section) == 24, "CRITICAL_SECTION of a 32-bit process");
    using Op = void(WINAPI *)(Section *);
    const Op init = Shim<Op>("KERNEL32.dll", "InitializeCriticalSection");
    const Op enter = Shim<Op>("KERNEL32.dll", "EnterCriticalSection");
    const Op leave = Shim<Op>("KERNEL32.dll", "LeaveCriticalSection");
    const Op remove = Shim<Op>("KERNEL32.dll", "DeleteCriticalSection");
    Section section;
    init(&section);
    enter(&section);
    enter(&section);
    EXPECT_TRUE(section.recursion == 2 && section.owner != 0);
    std::atomic<bool> entered{false};
    std::thread other([&] { enter(&section), entered = true, leave(&section); });
    leave(&section);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(entered) << "held until the last leave";
    leave(&section);
    other.join();
    EXPECT_TRUE(entered && section.recursion == 0 && section.owner == 0);
    remove(&section);
}

// ---- msvcrt -------------------------------------------------------------------------------

using Vfprintf = int (*)(void *, const char *, va_list);
int PrintToStderr(const char *format, ...) {
    auto *iob = static_cast<uint8_t *>(pe_shim_address("msvcrt.dll", "_iob"));
    va_list args;
    va_start(args, format);
    const int n = Shim<Vfprintf>("msvcrt.dll", "vfprintf")(iob + 2 * 32, format, args); // &_iob[2]: stderr
    va_end(args);
    return n;
}

TEST(Msvcrt, PrintsWhatBothLibrariesReadAlikeAndRefusesTheRest) {
    const struct {
        const char *format;
        const char *printed; // null: refused
    } cases[] = {
        {"%d|%5s|%-3x|%%|%lu|%hd", "-7|  abc|2a |%|7|-7"},
        {"[%p]", "[0000ABCD]"}, // msvcrt's %p: eight upper-case hex digits
        {"%I64d", nullptr},     {"%lld", nullptr}, {"%ls", nullptr}, {"%S", nullptr}, {"%f", nullptr},
        {"%zu", nullptr},       {"%n", nullptr},   {"%8p", nullptr},
    };
    for (const auto &c : cases) {
        testing::internal::CaptureStderr();
        const int n = c.printed == nullptr ? PrintToStderr(c.format, 0)
                      : std::strstr(c.format, "%p") ? PrintToStderr(c.format, reinterpret_cast<void *>(0xABCD))
                                            : PrintToStderr(c.format, -7, "abc", 42, 7ul, short(-7));
        const std::string said = testing::internal::GetCapturedStderr();
        if (c.printed != nullptr) {
            EXPECT_EQ(said, c.printed) << c.format;
            EXPECT_EQ(n, int(std::strlen(c.printed)));
        } else {
            EXPECT_EQ(n, -1) << c.format;
            EXPECT_NE(said.find("nothing printed"), std::string::npos) << c.format << ": " << said;
        }
    }
}

TEST(Msvcrt, SpeaksMsvcrtsNumbersAndLayouts) {
    setenv("PE_LOADER_TEST_Variable", "found", 1);
    auto getenv_ = Shim<char *(*)(const char *)>("msvcrt.dll", "getenv");
    EXPECT_STREQ(getenv_("pe_loader_test_VARIABLE"), "found") << "Windows names ignore case";
    EXPECT_EQ(getenv_("PE_LOADER_TEST"), nullptr);
    EXPECT_STREQ(Shim<char *(*)(int)>("msvcrt.dll", "strerror")(42), std::strerror(EILSEQ)) << "msvcrt's EILSEQ is 42";
    EXPECT_STREQ(Shim<char *(*)(int, const char *)>("msvcrt.dll", "setlocale")(2, nullptr), "C") << "2 is LC_CTYPE";
    EXPECT_EQ(Shim<char *(*)(int, const char *)>("msvcrt.dll", "setlocale")(6, nullptr), nullptr);
    EXPECT_STREQ(*Shim<char **(*)()>("msvcrt.dll", "localeconv")(), ".") << "decimal_point comes first";
    const uint16_t wide[] = {'a', 0x20AC, 'b', 0};
    EXPECT_EQ(Shim<size_t (*)(const uint16_t *)>("msvcrt.dll", "wcslen")(wide), 3u) << "16-bit wchar_t";
    EXPECT_EQ(*static_cast<int *>(pe_shim_address("msvcrt.dll", "__mb_cur_max")), 1);
    auto *errno_ = Shim<int *(*)()>("msvcrt.dll", "_errno")();
    *errno_ = 0;
    EXPECT_EQ(Shim<void *(*)(size_t)>("msvcrt.dll", "malloc")(size_t(-1) - 4095), nullptr);
    EXPECT_EQ(*errno_, 12) << "ENOMEM";
}

TEST(CodePages, ConvertAnsiAndUtf8BothWays) {
    using ToWide = int(WINAPI *)(DWORD, DWORD, const char *, int, uint16_t *, int);
    using ToBytes = int(WINAPI *)(DWORD, DWORD, const uint16_t *, int, char *, int, const char *, BOOL *);
    const ToWide to_wide = Shim<ToWide>("KERNEL32.dll", "MultiByteToWideChar");
    const ToBytes to_bytes = Shim<ToBytes>("KERNEL32.dll", "WideCharToMultiByte");
    const auto last_error = Shim<DWORD(WINAPI *)()>("KERNEL32.dll", "GetLastError");
    const struct {
        DWORD code_page;
        std::string bytes;
        std::vector<uint16_t> wide;
    } cases[] = {
        {0, "a\x80\x8D\xFF", {'a', 0x20AC, 0x008D, 0x00FF}},      // the ANSI code page is 1252
        {65001, "a\xE2\x82\xAC\xF0\x9F\x98\x80", {'a', 0x20AC, 0xD83D, 0xDE00}},
    };
    for (const auto &c : cases) {
        uint16_t wide[8] = {};
        const int units = to_wide(c.code_page, 0, c.bytes.data(), int(c.bytes.size()), wide, 8);
        EXPECT_EQ(std::vector<uint16_t>(wide, wide + std::max(units, 0)), c.wide) << c.code_page;
        EXPECT_EQ(to_wide(c.code_page, 0, c.bytes.data(), -1, nullptr, 0), int(c.wide.size()) + 1) << "size with the 0";
        char bytes[16] = {};
        const int n = to_bytes(c.code_page, 0, c.wide.data(), int(c.wide.size()), bytes, 16, nullptr, nullptr);
        EXPECT_EQ(std::string(bytes, size_t(std::max(n, 0))), c.bytes) << c.code_page;
    }
    uint16_t one[1];
    EXPECT_EQ(to_wide(65001, 0, "ab", 2, one, 1), 0);
    EXPECT_EQ(last_error(), DWORD(PE_ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(to_wide(65001, 8 /* MB_ERR_INVALID_CHARS */, "\xC3", 1, one, 1), 0);
    EXPECT_EQ(last_error(), DWORD(PE_ERROR_NO_UNICODE_TRANSLATION));
    const uint16_t snowman[] = {0x2603};
    BOOL defaulted = 0;
    char byte = 0;
    EXPECT_EQ(to_bytes(1252, 0, snowman, 1, &byte, 1, nullptr, &defaulted), 1);
    EXPECT_TRUE(byte == '?' && defaulted) << "not in 1252: the default character";
    EXPECT_EQ(to_wide(437, 0, "a", 1, one, 1), 0) << "code pages beyond 1252 and UTF-8 are refused";
}

// The host suite caps the DLL's kernels at each of these; were one missing,
// the DLL would quietly fall back to a lower level.
TEST(Emulator, OffersTheKernelLevelsTheHostSuiteRunsAt) {
    __builtin_cpu_init();
    EXPECT_TRUE(__builtin_cpu_supports("sse2"));
    EXPECT_TRUE(__builtin_cpu_supports("avx2"));
}

} // namespace

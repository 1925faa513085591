// The PE loader itself: what it refuses and says, and relocation. (The load
// notifications, the shims' semantics and their calling conventions are what
// the host suite exercises when it runs the real DLL through the loader.)
#include "pe_internal.h"
#include "pe_loader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace {

const std::string kProbe = PROBE_DIR "/probe.dll";

// An export by name, as the given function type.
template <class F>
F Export(void *module, const char *name) {
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
        {PROBE_DIR "/unknown.dll",
         {"refused: no shim for", "KERNEL32.dll!Beep", "msvcrt.dll!_strdup", "USER32.dll!MessageBeep"}},
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

// The driver exports VANTU_DLL_Init and nothing else; its load and unload
// notification is reached through the module's entry, and agrees to both.
std::vector<std::pair<DWORD, BOOL>> gEntryCalls;

TEST(PeLoader, DriverExportsOneNameAndAgreesToLoadAndUnload) {
    pe_entry_observer = [](void *, DWORD reason, BOOL result) { gEntryCalls.emplace_back(reason, result); };
    void *driver = pe_load(VANTU_PE_DLL);
    ASSERT_NE(driver, nullptr);
    EXPECT_NE(pe_symbol(driver, "VANTU_DLL_Init"), nullptr);
    for (const char *name : {"DllEntryPoint", "_DllEntryPoint@12", "DllMain", "DllMain@12"})
        EXPECT_EQ(pe_symbol(driver, name), nullptr) << name << " is exported";
    pe_unload(driver);
    pe_entry_observer = nullptr;
    const std::vector<std::pair<DWORD, BOOL>> want = {{1, 1}, {0, 1}}; // DLL_PROCESS_ATTACH, DLL_PROCESS_DETACH
    EXPECT_EQ(gEntryCalls, want);
}

// The host suite caps the DLL's kernels at each of these; were one missing,
// the DLL would quietly fall back to a lower level.
TEST(Emulator, OffersTheKernelLevelsTheHostSuiteRunsAt) {
    __builtin_cpu_init();
    EXPECT_TRUE(__builtin_cpu_supports("sse2"));
    EXPECT_TRUE(__builtin_cpu_supports("avx2"));
}

} // namespace

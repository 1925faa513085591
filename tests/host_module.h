// How the host tests reach the library, in one place: dlopen on Linux,
// LoadLibraryA on Windows, or, with VANTU_HOST_PE_LOADER, the test PE loader,
// which runs the 32-bit Windows DLL itself inside a 32-bit Linux process.
// The library is loaded once per process, from VANTU_MEM_PATH or from
// $VANTU_TEST_LIBRARY when that is set, and unloaded at exit.
#pragma once

#include <vantu/driver.h>

#include <cstdlib>
#include <cstring>

#if defined(VANTU_HOST_PE_LOADER)
#include "pe_loader.h"
#elif defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

class HostModule {
  public:
    HostModule() {
        const char *path = HostLibraryPath();
#if defined(VANTU_HOST_PE_LOADER)
        module_ = pe_load(path);
#elif defined(_WIN32)
        module_ = LoadLibraryA(path);
#else
        module_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
#endif
    }
    ~HostModule() {
        if (module_ == nullptr)
            return;
#if defined(VANTU_HOST_PE_LOADER)
        pe_unload(module_);
#elif defined(_WIN32)
        FreeLibrary(static_cast<HMODULE>(module_));
#else
        dlclose(module_);
#endif
    }
    HostModule(const HostModule &) = delete;
    HostModule &operator=(const HostModule &) = delete;

    void *Symbol(const char *name) const {
        if (module_ == nullptr)
            return nullptr;
#if defined(VANTU_HOST_PE_LOADER)
        return pe_symbol(module_, name);
#elif defined(_WIN32)
        const FARPROC symbol = GetProcAddress(static_cast<HMODULE>(module_), name);
        void *address = nullptr;
        std::memcpy(&address, &symbol, sizeof address);
        return address;
#else
        return dlsym(module_, name);
#endif
    }

    static const char *HostLibraryPath() {
        const char *chosen = std::getenv("VANTU_TEST_LIBRARY");
        return chosen != nullptr && *chosen != '\0' ? chosen : VANTU_MEM_PATH;
    }

  private:
    void *module_ = nullptr;
};

// The library's one export, or null when it cannot be loaded.
inline VantuDllInitFunc DriverInit() {
    static const HostModule module;
    void *const symbol = module.Symbol("VANTU_DLL_Init");
    VantuDllInitFunc found = nullptr;
    std::memcpy(&found, &symbol, sizeof found); // null stays null
    return found;
}

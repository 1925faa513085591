#include "loader.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include <cstring>

#if defined(_WIN32)

DriverLibrary::~DriverLibrary() {
    if (handle_ != nullptr)
        FreeLibrary(static_cast<HMODULE>(handle_));
}

bool DriverLibrary::Open(const std::string &path, std::string &error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        error = "cannot load driver library '" + path + "' (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    FARPROC symbol = GetProcAddress(module, "VANTU_DLL_Init");
    if (symbol == nullptr) {
        FreeLibrary(module);
        error = "driver library '" + path + "' has no entry point VANTU_DLL_Init";
        return false;
    }
    handle_ = module;
    entry_ = reinterpret_cast<VantuDllInitFunc>(reinterpret_cast<void (*)()>(symbol));
    return true;
}

std::string DefaultLibraryPath() {
    char buffer[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return kDriverFileName;
    std::string exe(buffer, n);
    const size_t slash = exe.find_last_of("\\/");
    return slash == std::string::npos ? std::string(kDriverFileName) : exe.substr(0, slash + 1) + kDriverFileName;
}

#else

DriverLibrary::~DriverLibrary() {
    if (handle_ != nullptr)
        dlclose(handle_);
}

bool DriverLibrary::Open(const std::string &path, std::string &error) {
    // A bare file name would make dlopen search the system paths; the demo
    // means a file, so name it relative to the working folder.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    void *handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char *reason = dlerror();
        error = "cannot load driver library '" + path + "': " + (reason != nullptr ? reason : "unknown error");
        return false;
    }
    void *symbol = dlsym(handle, "VANTU_DLL_Init");
    if (symbol == nullptr) {
        dlclose(handle);
        error = "driver library '" + path + "' has no entry point VANTU_DLL_Init";
        return false;
    }
    handle_ = handle;
    // Object to function pointer: the POSIX loader guarantees this conversion.
    std::memcpy(&entry_, &symbol, sizeof entry_);
    return true;
}

std::string DefaultLibraryPath() {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer)
        return kDriverFileName;
    std::string exe(buffer, static_cast<size_t>(n));
    const size_t slash = exe.rfind('/');
    return slash == std::string::npos ? std::string(kDriverFileName) : exe.substr(0, slash + 1) + kDriverFileName;
}

#endif

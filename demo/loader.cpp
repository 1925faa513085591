#include "loader.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

#if defined(_WIN32)

vantu::Library OpenDriverLibrary(const std::string &path) { return vantu::Library::Open(path.c_str()); }

std::string DefaultLibraryPath(const char *file) {
    char buffer[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return file;
    std::string exe(buffer, n);
    const size_t slash = exe.find_last_of("\\/");
    return slash == std::string::npos ? std::string(file) : exe.substr(0, slash + 1) + file;
}

#else

vantu::Library OpenDriverLibrary(const std::string &path) {
    // dlopen would search the system paths for a bare file name.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    return vantu::Library::Open(file.c_str());
}

std::string DefaultLibraryPath(const char *file) {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer)
        return file;
    std::string exe(buffer, static_cast<size_t>(n));
    const size_t slash = exe.rfind('/');
    return slash == std::string::npos ? std::string(file) : exe.substr(0, slash + 1) + file;
}

#endif

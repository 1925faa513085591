// Loading the driver library at run time and finding its entry point.
#ifndef VANTU_DEMO_LOADER_H
#define VANTU_DEMO_LOADER_H

#include <string>

#include <vantu/driver.h>

// File name of the driver library on this platform.
#if defined(_WIN32)
inline constexpr const char *kDriverFileName = "VANTU MEM.dll";
#else
inline constexpr const char *kDriverFileName = "libvantu_mem.so";
#endif

class DriverLibrary {
  public:
    DriverLibrary() = default;
    ~DriverLibrary();
    DriverLibrary(const DriverLibrary &) = delete;
    DriverLibrary &operator=(const DriverLibrary &) = delete;

    // Loads `path` and looks up VANTU_DLL_Init; on failure returns false
    // with a one-line reason in `error`.
    bool Open(const std::string &path, std::string &error);
    VantuDllInitFunc Entry() const { return entry_; }

  private:
    void *handle_ = nullptr;
    VantuDllInitFunc entry_ = nullptr;
};

// The driver library's path beside this executable (just the file name if the
// executable's own path cannot be found).
std::string DefaultLibraryPath();

#endif

// Where the demo finds the driver library, and loading it (vantu::Library).
#ifndef VANTU_DEMO_LOADER_H
#define VANTU_DEMO_LOADER_H

#include <string>

#include <vantu/vantu.hpp>

// File name of the driver library on this platform.
#if defined(_WIN32)
inline constexpr const char *kDriverFileName = "VANTU MEM.dll";
#else
inline constexpr const char *kDriverFileName = "libvantu_mem.so";
#endif

// Loads the driver library at `path`, a file: a bare file name means one in
// the working folder, not in the system's library paths.
vantu::Library OpenDriverLibrary(const std::string &path);

// The window driver's file (Linux only).
inline constexpr const char *kWindowDriverFileName = "libvantu_sdl.so";

// The path of the library `file` beside this executable (just the file name
// if the executable's own path cannot be found).
std::string DefaultLibraryPath(const char *file = kDriverFileName);

#endif

# Shared by the mingw-w64 toolchain files, which set VANTU_MINGW_TRIPLE first.
# The POSIX-threading compilers are used because the win32-threading C++
# library has no std::mutex, which the test framework needs.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${VANTU_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VANTU_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VANTU_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${VANTU_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${VANTU_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${VANTU_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program and library carries its own copy of the compiler's runtime, so
# nothing needs a DLL beyond those Windows ships.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

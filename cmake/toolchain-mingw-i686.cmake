# 32-bit Windows, cross-built with mingw-w64. The POSIX-threading compilers are
# used because the win32-threading C++ library has no std::mutex, which the
# test framework needs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VANTU_MINGW_TRIPLE i686-w64-mingw32)

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

# A 32-bit Windows host may call in with a stack that is only 4-byte aligned:
# functions that keep vector values on the stack realign it themselves, and
# vector moves are assembled as unaligned ones.
set(CMAKE_C_FLAGS_INIT "-mincoming-stack-boundary=2 -Wa,-muse-unaligned-vector-move")
set(CMAKE_CXX_FLAGS_INIT "-mincoming-stack-boundary=2 -Wa,-muse-unaligned-vector-move")

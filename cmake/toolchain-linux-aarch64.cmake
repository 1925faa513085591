# 64-bit ARM Linux: Clang, which targets ARM64 as it is, against Debian's
# arm64 cross libraries (libc6-dev-arm64-cross, libstdc++-12-dev-arm64-cross,
# binutils-aarch64-linux-gnu). Debian's GCC cross compiler would do as well,
# but cannot be installed beside gcc-multilib, which the 32-bit x86 build
# needs. Tests run under user-mode qemu, which finds the target's libraries
# through -L.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(VANTU_AARCH64_TRIPLE aarch64-linux-gnu)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
# The target as a flag rather than CMAKE_<LANG>_COMPILER_TARGET, so that what
# repeats the build's flags (the install test's plain compiler command)
# builds for ARM64 too.
set(CMAKE_C_FLAGS_INIT "--target=${VANTU_AARCH64_TRIPLE}")
set(CMAKE_CXX_FLAGS_INIT "--target=${VANTU_AARCH64_TRIPLE}")
set(CMAKE_LIBRARY_ARCHITECTURE ${VANTU_AARCH64_TRIPLE})
# Libraries and headers only from the target's tree (so no host libpng is
# taken for the demo); packages also where a prefix names them, as an
# installed vantu does for a host built against it.
set(CMAKE_FIND_ROOT_PATH /usr/${VANTU_AARCH64_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
find_program(VANTU_QEMU_AARCH64 NAMES qemu-aarch64-static qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${VANTU_QEMU_AARCH64} -L /usr/${VANTU_AARCH64_TRIPLE})

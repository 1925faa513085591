#!/usr/bin/env bash
# Installs the Debian packages a build needs, only those that are missing,
# after one `apt-get update`.
#   install-deps.sh demo   what the demo needs
#   install-deps.sh all    everything the full test run needs
set -euo pipefail

packages=(cmake ninja-build g++ make pkg-config libpng-dev libgtest-dev)
if [ "${1:-all}" = all ]; then
  # ARM64: Debian's arm64 cross libraries, built against with Clang (Debian's
  # GCC cross compiler cannot be installed beside gcc-multilib).
  packages+=(file binutils googletest gcc-multilib g++-multilib qemu-user-static
             binutils-aarch64-linux-gnu libc6-dev-arm64-cross libstdc++-12-dev-arm64-cross
             g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
             clang libclang-rt-14-dev valgrind python3 unzip doxygen wine64
             # The window driver: SDL2 (X11 for reading back what the server
             # shows), and the X server the window suite starts for itself.
             libsdl2-dev libx11-dev xvfb)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "missing packages: ${missing[*]} (run as root or install sudo)" >&2; exit 1; }
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update
want=()
for p in "${missing[@]}"; do [ "$p" != wine64 ] && want+=("$p"); done
[ ${#want[@]} -gt 0 ] && "${sudo[@]}" apt-get install -y "${want[@]}"
# wine64 alone: no wine32 (this kernel runs no 32-bit programs) and no extras.
if [[ " ${missing[*]} " == *" wine64 "* ]]; then
  "${sudo[@]}" apt-get install -y --no-install-recommends wine64
fi

#!/usr/bin/env bash
# Installs the Debian packages a build needs, only those that are missing.
#   install-deps.sh demo   what the demo needs
#   install-deps.sh all    everything the full test run needs
set -euo pipefail

what=${1:-all}
packages=(cmake ninja-build g++ make pkg-config libpng-dev libgtest-dev)
if [ "$what" = all ]; then
  # ARM64: Debian's arm64 cross libraries, built against with Clang (Debian's
  # GCC cross compiler cannot be installed beside gcc-multilib).
  packages+=(file binutils googletest gcc-multilib g++-multilib qemu-user-static
             binutils-aarch64-linux-gnu libc6-dev-arm64-cross libstdc++-12-dev-arm64-cross
             g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
             clang libclang-rt-14-dev valgrind python3)
fi
# wine64 alone: no wine32, no recommended extras.
extra=()
[ "$what" = all ] && extra=(wine64)

missing=()
for p in "${packages[@]}" "${extra[@]}"; do
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
for p in "${missing[@]}"; do
  [ "$p" = wine64 ] && "${sudo[@]}" apt-get install -y --no-install-recommends wine64
done
exit 0

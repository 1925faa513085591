#!/usr/bin/env bash
# Builds the release archives and checks them:
#   build/archives/vantu-<version>-linux-x86_64.tar.gz
#   build/archives/vantu-<version>-win32.zip
#   build/archives/vantu-<version>-win64.zip
# Each comes from a Release build of the library alone (build/archives/<platform>)
# with the API reference (doxygen), packed by CPack (cmake/packaging.cmake);
# <version> is the project's VERSION.
# tests/release/check_archives.sh then unpacks and uses every archive. When
# the mingw-i686 preset has built the PE loader's host suite, that suite also runs
# on the unpacked 32-bit DLL.
set -euo pipefail
cd "$(dirname "$0")/.."

out=build/archives

for platform in linux-x86_64 win32 win64; do
  toolchain=()
  case $platform in
    win32) toolchain=(--toolchain "$PWD/cmake/toolchain-mingw-i686.cmake") ;;
    win64) toolchain=(--toolchain "$PWD/cmake/toolchain-mingw-x64.cmake") ;;
  esac
  echo "== $platform =="
  cmake -S . -B "$out/$platform" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DVANTU_BUILD_TESTS=OFF -DVANTU_BUILD_DEMO=OFF -DVANTU_BUILD_DOCS=ON "${toolchain[@]}" >/dev/null
  cmake --build "$out/$platform"
  (cd "$out/$platform" && cpack -B "$PWD/.." >/dev/null)
done
rm -rf "$out/_CPack_Packages"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$out/linux-x86_64/CMakeCache.txt")
ls -l "$out"/vantu-"$version"-*
pe_host=build/mingw-i686/pe32/pe_host_tests
check=(bash tests/release/check_archives.sh)
[[ -x $pe_host ]] && check+=(--pe-host "$pe_host")
"${check[@]}" "$version" "$out"

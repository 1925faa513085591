#!/usr/bin/env bash
# Unpacks the three release archives and uses each as its user would:
#   vantu-VERSION-linux-x86_64.tar.gz  its files; the library exports VANTU_DLL_Init
#       only; the example hosts, compiled as strict C and as strict C++17
#       without exceptions or RTTI, built through the CMake package (asking for
#       exactly VERSION) and through the pkg-config file (which must report
#       VERSION), and run on the unpacked driver.
#   vantu-VERSION-win32.zip, -win64.zip  exactly their files (and an API
#       reference); the DLL's exports, imports and vector moves; the example
#       hosts compiled for Windows against the unpacked headers; the 64-bit
#       hosts run under wine64 on the unpacked DLL, and, given --pe-host, the
#       host suite run through the PE loader on the unpacked 32-bit DLL.
#
# Usage: check_archives.sh [--pe-host PE_HOST_TESTS] VERSION DIR
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

pe_host=
if [[ ${1:-} == --pe-host ]]; then
  pe_host=$2
  shift 2
fi
if [[ $# -ne 2 ]]; then
  echo "usage: $0 [--pe-host PE_HOST_TESTS] VERSION DIR" >&2
  exit 2
fi
version=$1
dir=$(cd "$2" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/vantu-release.XXXXXX")
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }
# Runs a command quietly; on failure shows its output and fails the check.
quiet() {
  local out
  if ! out=$("$@" 2>&1); then
    fail "$*"
    tail -n 20 <<<"$out"
    return 1
  fi
}
strict_c=(-std=c99 -Wall -Wextra -Werror)
strict_cxx=(-std=c++17 -fno-exceptions -fno-rtti -Wall -Wextra -Wpedantic -Werror)
docs=$(cd docs && ls -- *.md | sort)

# ---- Linux ------------------------------------------------------------------------------
archive=$dir/vantu-$version-linux-x86_64.tar.gz
echo "== $(basename "$archive") =="
top=$work/linux/vantu-$version-linux-x86_64
mkdir -p "$work/linux"
if ! tar xzf "$archive" -C "$work/linux"; then
  fail "cannot unpack $archive"
else
  for file in include/vantu/driver.h include/vantu/vantu.hpp lib/libvantu_mem.so \
              lib/cmake/vantu/vantuConfig.cmake lib/cmake/vantu/vantuConfigVersion.cmake lib/pkgconfig/vantu.pc \
              share/doc/vantu/README.md share/doc/vantu/LICENSE share/doc/vantu/examples/host.c \
              share/doc/vantu/examples/host.cpp share/doc/vantu/reference/index.html; do
    [[ -f $top/$file ]] || fail "missing $file"
  done
  for file in $docs; do
    [[ -f $top/share/doc/vantu/docs/$file ]] || fail "missing share/doc/vantu/docs/$file"
  done
  cmp -s "$top/share/doc/vantu/LICENSE" LICENSE || fail "LICENSE differs from the source tree's"
  quiet cmake -DNM=nm "-DLIBRARY=$top/lib/libvantu_mem.so" -P tests/install/check_exports.cmake &&
    echo "exports: VANTU_DLL_Init only"

  example=$top/share/doc/vantu/examples/host.c
  example_cxx=$top/share/doc/vantu/examples/host.cpp
  if quiet cmake -S tests/install -B "$work/cmake-host" "-DCMAKE_PREFIX_PATH=$top" "-DVANTU_EXACT_VERSION=$version" \
         "-DVANTU_EXAMPLE_SOURCE=$example" "-DCMAKE_C_FLAGS=${strict_c[*]}" \
         "-DVANTU_EXAMPLE_CXX_SOURCE=$example_cxx" "-DCMAKE_CXX_FLAGS=${strict_cxx[*]}" &&
     quiet cmake --build "$work/cmake-host"; then
    driver=$(cat "$work/cmake-host/driver_path.txt")
    [[ $driver == "$top/lib/libvantu_mem.so" ]] || fail "the CMake package names the driver $driver"
    for host in host host_cpp; do
      if "$work/cmake-host/$host" "$driver" | grep -qx 'host: done'; then
        echo "CMake package: find_package(vantu $version EXACT), the example $host runs"
      else
        fail "the $host built through the CMake package failed on $driver"
      fi
    done
  fi

  export PKG_CONFIG_PATH=$top/lib/pkgconfig
  pc_version=$(pkg-config --modversion vantu 2>&1)
  [[ $pc_version == "$version" ]] || fail "pkg-config reports version '$pc_version'"
  # shellcheck disable=SC2046 # the flags are words
  if quiet cc "${strict_c[@]}" $(pkg-config --cflags vantu) "$example" -o "$work/host-pc" $(pkg-config --libs vantu) &&
     quiet c++ "${strict_cxx[@]}" $(pkg-config --cflags vantu) "$example_cxx" -o "$work/host-cpp-pc" \
       $(pkg-config --libs vantu); then
    for host in host-pc host-cpp-pc; do
      if "$work/$host" "$(pkg-config --variable=driver vantu)" | grep -qx 'host: done'; then
        echo "pkg-config: version $pc_version, the example $host runs"
      else
        fail "the $host built through pkg-config failed"
      fi
    done
  fi
  unset PKG_CONFIG_PATH
fi

# ---- Windows ------------------------------------------------------------------------------
for bits in 32 64; do
  archive=$dir/vantu-$version-win$bits.zip
  echo "== $(basename "$archive") =="
  [[ $bits == 32 ]] && triple=i686-w64-mingw32 || triple=x86_64-w64-mingw32
  top=$work/win$bits/vantu-$version-win$bits
  mkdir -p "$work/win$bits"
  if ! unzip -q "$archive" -d "$work/win$bits"; then
    fail "cannot unpack $archive"
    continue
  fi
  files=$(cd "$top" && find . -type f -not -path './reference/*' | sort | tr '\n' ' ')
  want="./LICENSE ./README.md ./VANTU MEM.dll $(printf './docs/%s ' $docs)./examples/host.c ./examples/host.cpp "
  want+="./include/vantu/driver.h ./include/vantu/vantu.hpp "
  [[ $files == "$want" ]] || fail "files are [$files], want [$want]"
  [[ -f $top/reference/index.html ]] || fail "no API reference (reference/index.html)"
  cmp -s "$top/LICENSE" LICENSE || fail "LICENSE differs from the source tree's"
  dll=$top/VANTU\ MEM.dll
  quiet bash tests/windows/check_pe.sh "$triple-objdump" "$dll" && echo "exports and imports: checked"
  quiet bash tests/windows/check_vector_moves.sh "$triple-objdump" "$dll" && echo "vector moves: unaligned"
  host=$work/win$bits/host.exe
  host_cxx=$work/win$bits/host_cpp.exe
  quiet "$triple-gcc" "${strict_c[@]}" -I "$top/include" "$top/examples/host.c" -o "$host" &&
    echo "the example host compiles as C against the header"
  # The C++ runtime linked in, so that the program runs beside the DLL alone.
  quiet "$triple-g++" "${strict_cxx[@]}" -I "$top/include" "$top/examples/host.cpp" -o "$host_cxx" -static &&
    echo "the C++ example host compiles against the headers"

  for program in "$host" "$host_cxx"; do
    [[ $bits == 64 && -x $program ]] || continue
    out=$(bash tests/windows/run_wine.sh --timeout 120 "$program" "Z:$dll" 2>&1)
    status=$?
    if [[ $status -eq 77 ]]; then
      echo "note: wine64 cannot run here: $(basename "$program") was not run"
    elif grep -q 'host: done' <<<"$out"; then
      echo "$(basename "$program") runs on the DLL under wine64"
    else
      fail "$(basename "$program") failed under wine64"
      tail -n 20 <<<"$out"
    fi
  done
  if [[ $bits == 32 ]]; then
    if [[ -n $pe_host ]]; then
      if VANTU_TEST_LIBRARY=$dll quiet timeout 300 qemu-i386-static "$pe_host" --gtest_brief=1 --gtest_filter=-HostTimeOut.*; then
        echo "the host suite passes on this DLL through the PE loader"
      fi
    else
      echo "note: no --pe-host: the host suite was not run on this DLL"
    fi
  fi
done

if [[ $failed -ne 0 ]]; then
  echo "release archives: check FAILED"
  exit 1
fi
echo "release archives: all checks passed"

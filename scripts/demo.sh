#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks, builds the driver and the demo
# host, runs the demo and lists the images it wrote.
set -euo pipefail
cd "$(dirname "$0")/.."

# Packages: the compiler, CMake and its build tool, libpng for the images, GoogleTest because
# the default preset configures the tests too.
missing=()
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
if grep -q '"generator": *"Ninja"' CMakePresets.json; then
  command -v ninja >/dev/null 2>&1 || missing+=(ninja-build)
else
  command -v make >/dev/null 2>&1 || missing+=(make)
fi
command -v g++ >/dev/null 2>&1 || missing+=(g++)
command -v pkg-config >/dev/null 2>&1 || missing+=(pkg-config)
for pkg in libpng-dev libgtest-dev; do
  dpkg -s "$pkg" >/dev/null 2>&1 || missing+=("$pkg")
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  if [[ $(id -u) -eq 0 ]]; then
    as_root=()
  elif command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
  else
    echo "demo.sh: missing packages (${missing[*]}) and no root rights to install them;" \
      "run as root: apt-get install ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  "${as_root[@]}" apt-get update
  "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi

cmake --preset default
cmake --build --preset default --parallel "$(nproc)" --target vantu-demo vantu_mem

out="$PWD/demo-out"
images=$(build/default/demo/vantu-demo --out "$out")
echo
echo "Images written:"
echo "$images"

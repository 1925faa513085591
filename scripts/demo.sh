#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks, builds the driver and the demo
# host, runs the demo and lists the images it wrote.
set -euo pipefail
cd "$(dirname "$0")/.."

# The compiler, CMake, Ninja, libpng for the images, and GoogleTest because the
# default preset configures the tests too.
bash scripts/install-deps.sh demo

cmake --preset default
cmake --build --preset default --target vantu-demo vantu_mem

out="$PWD/demo-out"
images=$(build/default/demo/vantu-demo --out "$out")
echo
echo "Images written:"
echo "$images"

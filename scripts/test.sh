#!/usr/bin/env bash
# Build and run every test suite: default, sanitizers, 32-bit x86 under qemu.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

for preset in default asan m32; do
  echo "== $preset =="
  cmake --preset "$preset"
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done

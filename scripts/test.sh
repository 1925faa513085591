#!/usr/bin/env bash
# Builds and runs every test suite: the default, sanitizer and 32-bit x86
# (under qemu) builds, the Windows cross builds (the 32-bit DLL itself through
# the test PE loader), the release archives, the thread sanitizer, a bounded
# fuzz run and valgrind. Installs missing packages first.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh all || exit 1
jobs=$(nproc)

passed=0
failed=0
failures=()
step() {
  local name=$1
  shift
  echo
  echo "=== $name ==="
  local start=$SECONDS
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    failures+=("$name")
  fi
  echo "=== $name: $((SECONDS - start)) s ==="
}

preset() {
  cmake --preset "$1" && cmake --build --preset "$1" -j "$jobs" && ctest --preset "$1" -j "$jobs"
}

for p in default asan m32; do
  step "$p" preset "$p"
done
[ -f scripts/windows.sh ] && step windows bash scripts/windows.sh
[ -f scripts/release.sh ] && step release bash scripts/release.sh
[ -f scripts/sanitizers.sh ] && step sanitizers bash scripts/sanitizers.sh

echo
[ $failed -gt 0 ] && echo "failed: ${failures[*]}"
echo "suites: $passed passed, $failed failed"
[ $failed -eq 0 ]

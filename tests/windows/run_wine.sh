#!/usr/bin/env bash
# Runs one 64-bit Windows program under wine64 in a fresh, private prefix that
# is removed afterwards, with a time limit on every wine call. Exits with the
# program's status, or 77 (a skip for ctest) when wine cannot start here.
#
# With --simd-levels "LEVEL ...", the program runs once per level with
# VANTU_SIMD set to it, all in the same prefix, and fails if any run fails.
#
# Usage: run_wine.sh [--timeout SECONDS] [--simd-levels LEVELS] PROGRAM.exe [ARGS...]
# Environment: VANTU_WINE (wine64 binary), VANTU_WINESERVER (wineserver binary).
set -uo pipefail

limit=600
levels=
while [[ ${1:-} == --timeout || ${1:-} == --simd-levels ]]; do
  [[ $1 == --timeout ]] && limit=$2 || levels=$2
  shift 2
done
if [[ $# -lt 1 ]]; then
  echo "usage: $0 [--timeout SECONDS] [--simd-levels LEVELS] PROGRAM.exe [ARGS...]" >&2
  exit 2
fi

first_executable() {
  local candidate
  for candidate in "$@"; do
    if [[ -n $candidate && -x $candidate ]]; then
      echo "$candidate"
      return
    fi
  done
}
wine=$(first_executable "${VANTU_WINE:-}" /usr/lib/wine/wine64 "$(command -v wine64 2>/dev/null)")
wineserver=$(first_executable "${VANTU_WINESERVER:-}" /usr/lib/wine/wineserver64 \
  "$(command -v wineserver 2>/dev/null)")
if [[ -z $wine || -z $wineserver ]]; then
  echo "SKIP: wine64 is not installed (apt-get install --no-install-recommends wine64)"
  exit 77
fi

prefix=$(mktemp -d "${TMPDIR:-/tmp}/vantu-wine.XXXXXX")
export WINEPREFIX=$prefix
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
export WINEDEBUG=${WINEDEBUG:--all}
# No display: wine must not try to open windows for its own dialogs.
unset DISPLAY WAYLAND_DISPLAY

cleanup() {
  timeout 30 "$wineserver" -k >/dev/null 2>&1
  timeout 30 "$wineserver" -w >/dev/null 2>&1
  rm -rf "$prefix"
}
trap cleanup EXIT

# Set the prefix up first, so a wine that cannot start is told apart from a
# failing program.
if ! timeout 180 "$wine" wineboot --init >"$prefix/boot.log" 2>&1; then
  echo "SKIP: wine64 cannot start on this machine:"
  tail -n 5 "$prefix/boot.log"
  exit 77
fi

run() {
  timeout --kill-after=10 "$limit" "$wine" "$@"
  local status=$?
  if [[ $status -eq 124 || $status -eq 137 ]]; then
    echo "FAIL: $(basename "$1") did not finish within $limit seconds"
  fi
  return $status
}

if [[ -z $levels ]]; then
  run "$@"
  exit $?
fi
failed=()
for level in $levels; do
  echo "--- VANTU_SIMD=$level ---"
  VANTU_SIMD=$level run "$@" || failed+=("$level")
done
if ((${#failed[@]})); then
  echo "FAIL: $(basename "$1") failed at VANTU_SIMD=${failed[*]}"
  exit 1
fi

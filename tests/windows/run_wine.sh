#!/usr/bin/env bash
# Runs one 64-bit Windows program under wine64 in a fresh, private prefix that
# is removed afterwards, with a time limit on every wine call. Exits with the
# program's status, or 77 (a skip for ctest) when wine cannot start here.
#
# Usage: run_wine.sh [--timeout SECONDS] PROGRAM.exe [ARGS...]
# Environment: VANTU_WINE (wine64 binary), VANTU_WINESERVER (wineserver binary).
set -uo pipefail

limit=600
if [[ ${1:-} == --timeout ]]; then
  limit=$2
  shift 2
fi
if [[ $# -lt 1 ]]; then
  echo "usage: $0 [--timeout SECONDS] PROGRAM.exe [ARGS...]" >&2
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

timeout --kill-after=10 "$limit" "$wine" "$@"
status=$?
if [[ $status -eq 124 || $status -eq 137 ]]; then
  echo "FAIL: $(basename "$1") did not finish within $limit seconds"
fi
exit $status

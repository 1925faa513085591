#!/usr/bin/env bash
# Runs the saved findings (each must now pass), then a bounded fuzz run from a
# copy of the seed corpus. A new finding is kept in FINDINGS_DIR.
#   run.sh FUZZER SOURCE_DIR FINDINGS_DIR    (FUZZ_SECONDS, default 60)
set -uo pipefail
fuzzer=$1 source=$2 findings=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$work/artifacts"
cp "$source"/corpus/* "$work/corpus/"

shopt -s nullglob
regressions=("$source"/regressions/*.input)
shopt -u nullglob
if ((${#regressions[@]})) && ! "$fuzzer" "${regressions[@]}"; then
  echo "fuzz: a saved finding fails again"
  exit 1
fi

seconds=${FUZZ_SECONDS:-60}
if "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$work/corpus" 2>"$work/fuzz.log"; then
  grep '^stat::' "$work/fuzz.log"
  echo "fuzz: ${seconds} s, nothing found"
  exit 0
fi
tail -n 60 "$work/fuzz.log"
mkdir -p "$findings"
cp "$work"/artifacts/* "$findings"/ 2>/dev/null
echo "fuzz: finding kept in $findings (replay: $fuzzer FILE; VANTU_FUZZ_TRACE=1 prints the decoded steps)"
exit 1

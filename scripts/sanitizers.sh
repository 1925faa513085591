#!/usr/bin/env bash
# Dynamic checks beyond the asan preset:
#   1. ThreadSanitizer over the mutex and drawing-lock tests (build/tsan);
#   2. a bounded libFuzzer run of fuzz/fuzz_driver.cpp on a copy of fuzz/corpus
#      (build/fuzz; ASan, UBSan and LeakSanitizer inside);
#   3. valgrind memcheck over vantu_host_tests and the demo (build/valgrind).
# Needs clang, libclang-rt-14-dev (the sanitizer and libFuzzer runtimes),
# valgrind, cmake, libgtest-dev; libpng-dev for the demo.
#
# Environment: FUZZ_SECONDS (default 60) bounds the fuzz run; JOBS (default 2)
# the build parallelism; SKIP_TSAN, SKIP_FUZZ, SKIP_VALGRIND=1 leave a step out.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${JOBS:-2}
fuzz_seconds=${FUZZ_SECONDS:-60}
CC_CLANG=${CC_CLANG:-clang}
CXX_CLANG=${CXX_CLANG:-clang++}
failed=()

step() { printf '\n== %s ==\n' "$*"; }

# ---- 1. ThreadSanitizer ------------------------------------------------------------------
if [[ -z ${SKIP_TSAN:-} ]]; then
  step "ThreadSanitizer: mutex and drawing-lock tests"
  tsan="-fsanitize=thread -fno-omit-frame-pointer -g"
  CC=$CC_CLANG CXX=$CXX_CLANG cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVANTU_BUILD_DEMO=OFF -DCMAKE_C_FLAGS="$tsan" -DCMAKE_CXX_FLAGS="$tsan" \
    -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread >/dev/null
  cmake --build build/tsan -j "$jobs" --target vantu_tests
  # halt_on_error: the first race fails the step; second_deadlock_stack for readable reports.
  if TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
      build/tsan/tests/vantu_tests --gtest_filter='Mutex*:DrawLock*'; then
    echo "tsan: clean"
  else
    failed+=(tsan)
  fi
fi

# ---- 2. Bounded fuzz run -------------------------------------------------------------------
if [[ -z ${SKIP_FUZZ:-} ]]; then
  step "libFuzzer: ${fuzz_seconds}s of fuzz/fuzz_driver.cpp"
  fuzz="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
  CC=$CC_CLANG CXX=$CXX_CLANG cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVANTU_BUILD_FUZZ=ON -DVANTU_BUILD_TESTS=OFF -DVANTU_BUILD_DEMO=OFF \
    -DCMAKE_C_FLAGS="$fuzz" -DCMAKE_CXX_FLAGS="$fuzz" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
  cmake --build build/fuzz -j "$jobs" --target vantu_fuzz_driver
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/corpus" "$work/artifacts"
  cp fuzz/corpus/* "$work/corpus/"
  # Saved findings first: each must now run clean.
  shopt -s nullglob
  regressions=(fuzz/regressions/*.input)
  shopt -u nullglob
  if ((${#regressions[@]})) && ! build/fuzz/fuzz/vantu_fuzz_driver "${regressions[@]}"; then
    failed+=(fuzz-regressions)
  fi
  if build/fuzz/fuzz/vantu_fuzz_driver -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len=4096 -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" \
      2>"$work/fuzz.log"; then
    grep '^stat::' "$work/fuzz.log" || true
    echo "fuzz: clean"
  else
    tail -n 60 "$work/fuzz.log"
    mkdir -p build/fuzz/findings
    cp "$work"/artifacts/* build/fuzz/findings/ 2>/dev/null || true
    echo "fuzz: finding saved under build/fuzz/findings (replay: build/fuzz/fuzz/vantu_fuzz_driver FILE," \
         "VANTU_FUZZ_TRACE=1 prints the decoded steps)"
    failed+=(fuzz)
  fi
fi

# ---- 3. valgrind memcheck ---------------------------------------------------------------------
if [[ -z ${SKIP_VALGRIND:-} ]]; then
  step "valgrind memcheck: vantu_host_tests and vantu-demo"
  cmake -S . -B build/valgrind -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  targets=$(cmake --build build/valgrind --target help)
  memcheck=(valgrind --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect
            --show-leak-kinds=definite,indirect --track-origins=yes --quiet)
  if grep -q '\bvantu_host_tests\b' <<<"$targets"; then
    cmake --build build/valgrind -j "$jobs" --target vantu_host_tests
    if "${memcheck[@]}" build/valgrind/tests/vantu_host_tests --gtest_brief=1; then
      echo "valgrind vantu_host_tests: clean"
    else
      failed+=(valgrind-host-tests)
    fi
  else
    echo "valgrind: vantu_host_tests is not a target here, skipped"
  fi
  if grep -q '\bvantu-demo\b' <<<"$targets"; then
    cmake --build build/valgrind -j "$jobs" --target vantu-demo
    out=$(mktemp -d)
    if "${memcheck[@]}" build/valgrind/demo/vantu-demo --out="$out" --size=64x48; then
      echo "valgrind vantu-demo: clean"
    else
      failed+=(valgrind-demo)
    fi
    rm -rf "$out"
  else
    echo "valgrind: vantu-demo is not built here (libpng missing?), skipped"
  fi
fi

cd "$root"
if ((${#failed[@]})); then
  printf '\nsanitizers: FAILED: %s\n' "${failed[*]}"
  exit 1
fi
printf '\nsanitizers: all clean\n'

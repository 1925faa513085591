#!/usr/bin/env bash
# Builds and runs every test suite, one CMake workflow preset each (configure,
# build, test; see CMakePresets.json), after installing what is missing.
# Ends with "suites: N passed, M failed". JOBS sets the parallelism (default:
# the number of processors) of every build and test run.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh all || exit 1
export CMAKE_BUILD_PARALLEL_LEVEL=${JOBS:-$(nproc)}
export CTEST_PARALLEL_LEVEL=$CMAKE_BUILD_PARALLEL_LEVEL

presets=(docs default asan m32 aarch64 mingw-i686 mingw-x64 release tsan fuzz valgrind)
passed=()
failed=()
for preset in "${presets[@]}"; do
  printf '\n=== %s ===\n' "$preset"
  if cmake --workflow --preset "$preset"; then
    passed+=("$preset")
  else
    failed+=("$preset")
  fi
done

echo
((${#failed[@]})) && echo "failed: ${failed[*]}"
echo "suites: ${#passed[@]} passed, ${#failed[@]} failed"
((${#failed[@]} == 0))

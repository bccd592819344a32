#!/usr/bin/env bash
# Line coverage of src/ by the tests: a Debug build instrumented with --coverage in build-cov,
# the tests run there with the servers they need (as scripts/run-tests.sh starts them), then
# gcovr's summary. The per-file table lands in build-cov/coverage.txt.
# TESTS=<regex> runs only the CTest tests whose names match (a part of the tree).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build-cov

bash scripts/install-deps.sh
# ccache only speeds a rebuild up; a fresh machine has none.
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
# Atomic counter updates: the server's tests run many threads, and plain updates race into
# negative branch counts that gcovr refuses to read.
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="--coverage -fprofile-update=atomic" -DCMAKE_EXE_LINKER_FLAGS=--coverage \
  -DCMAKE_SHARED_LINKER_FLAGS=--coverage "${launcher[@]}" >/dev/null
cmake --build "$dir" -j "${JOBS:-2}"
# Counts add up across runs: start from none so the figure is this run's.
find "$dir" -name '*.gcda' -delete

for helper in scripts/test-env.d/*.sh; do
  [ -e "$helper" ] || continue
  # shellcheck source=/dev/null
  source "$helper"
done

status=0
ctest --test-dir "$dir" -j 2 ${TESTS:+-R "$TESTS"} || status=$?
# The object directory is where gcov must run: the build records sources relative to it.
gcovr -r . --object-directory "$dir" --filter src/ -j 2 --print-summary -o "$dir/coverage.txt" "$dir"
exit "$status"

#!/usr/bin/env bash
# clang-tidy over src/ with the checks .clang-tidy chooses; any finding fails (the file says
# why each check is on or off). Needs a configured build folder: `make lint`
# configures first. LINT_JOBS sets the parallel runs (default: the make's JOBS, else 2).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
if [ ! -f "$build/CMakeCache.txt" ]; then
  echo "lint: $build is not configured; run 'make configure' first" >&2
  exit 2
fi
# The build compiles its sources in batches, and its compile_commands.json names the batches,
# not the files: clang-tidy gets a folder of its own, configured with the build's settings
# but a command per file. Nothing is compiled there.
lint_dir="$build/lint"
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
cmake -S . -B "$lint_dir" -G Ninja -DFM_UNITY_BUILD=OFF \
  -DCMAKE_BUILD_TYPE="$(cache_value CMAKE_BUILD_TYPE)" \
  -DCMAKE_CXX_COMPILER="$(cache_value CMAKE_CXX_COMPILER)" \
  -DFM_WARNINGS_AS_ERRORS="$(cache_value FM_WARNINGS_AS_ERRORS)" >/dev/null
build=$lint_dir
# Generated sources (Qt's moc, embedded SQL) live under the build folder and are not ours to
# lint: only files under src/ are checked.
status=0
run-clang-tidy -p "$build" -quiet -j "${LINT_JOBS:-2}" "$PWD/src/" > "$build/lint.log" 2>&1 ||
  status=$?
# clang-tidy colours its diagnostics even into a file: without the colour codes the log reads
# as text, and a finding's line matches the pattern below.
sed -i 's/\x1b\[[0-9;]*m//g' "$build/lint.log"
if [ "$status" -ne 0 ]; then
  grep -E ' (warning|error): ' "$build/lint.log" | sort -u >&2 ||
    echo "lint: clang-tidy failed (exit status $status) without a finding it names" >&2
  echo "lint: clang-tidy found the above (whole log: $build/lint.log)" >&2
  exit 1
fi
echo "lint: src/ is clean ($(grep -c 'clang-tidy' "$build/lint.log" || true) files checked)"

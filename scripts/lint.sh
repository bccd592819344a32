#!/usr/bin/env bash
# clang-tidy over src/ with the checks .clang-tidy chooses; any finding fails (the file says
# why each check is on or off). Needs the build's compile_commands.json: `make lint`
# configures first. LINT_JOBS sets the parallel runs (default: the make's JOBS, else 2).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
if [ ! -f "$build/compile_commands.json" ]; then
  echo "lint: $build/compile_commands.json is missing; run 'make configure' first" >&2
  exit 2
fi
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

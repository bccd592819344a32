#!/usr/bin/env bash
# Runs every benchmark program of the default build; results go to build/bench-results.
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p build/bench-results
for b in build/bench/*_bench; do
  [ -x "$b" ] || continue
  name=$(basename "$b")
  echo "== $name"
  "$b" --benchmark_out="build/bench-results/$name.json" --benchmark_out_format=json
done

#!/usr/bin/env bash
# Runs each libFuzzer program of build-fuzz (built by `make fuzz`) for FUZZ_SECONDS seconds,
# one after the other, from its checked-in seeds (fuzz/corpus/<name>) and the inputs earlier
# runs on this machine found (build-fuzz/corpus/<name>). An input that crashes, leaks, hits
# undefined behaviour or runs past FUZZ_TIMEOUT is kept in build-fuzz/artifacts/<name>/;
# the script then fails, after the other programs have had their turn. fuzz/README.md says
# how to replay one.
#
#   FUZZ_SECONDS  seconds per program (60)
#   FUZZ_TIMEOUT  seconds one input may take before it counts as a hang (10)
#   FUZZ_MAX_LEN  longest input in bytes (16384): long enough for deep nesting and for
#                 work that grows faster than the input
#   FUZZ_TARGETS  the programs to run, by name (all of fuzz/corpus)
#   FUZZ_ARGS     further libFuzzer flags, e.g. "-jobs=1" or "-only_ascii=1"
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
timeout=${FUZZ_TIMEOUT:-10}
max_len=${FUZZ_MAX_LEN:-16384}
targets=${FUZZ_TARGETS:-$(ls fuzz/corpus)}
read -r -a extra <<<"${FUZZ_ARGS:-}"

failed=()
for name in $targets; do
  program=build-fuzz/fuzz/fuzz_$name
  if [ ! -x "$program" ]; then
    echo "no fuzz program $program: run 'make fuzz' (or check FUZZ_TARGETS)" >&2
    exit 2
  fi
  mkdir -p "build-fuzz/corpus/$name" "build-fuzz/artifacts/$name"
  echo "== fuzz_$name for ${seconds}s"
  if ! "$program" -max_total_time="$seconds" -timeout="$timeout" -max_len="$max_len" \
      -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$name/" "${extra[@]}" \
      "build-fuzz/corpus/$name" "fuzz/corpus/$name"; then
    failed+=("$name")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found faults in: ${failed[*]} (inputs in build-fuzz/artifacts/)" >&2
  exit 1
fi

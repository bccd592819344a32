#!/usr/bin/env bash
# Runs every CTest test of the given preset (further arguments go to ctest, e.g. -R <regex>). Servers the tests need are started here
# and stopped on exit, so a plain `make test` works on a fresh machine.
set -euo pipefail
preset=${1:-default}
cd "$(dirname "$0")/.."

for helper in scripts/test-env.d/*.sh; do
  [ -e "$helper" ] || continue
  # shellcheck source=/dev/null
  source "$helper"
done

ctest --preset "$preset" -j 2 "${@:2}"

#!/usr/bin/env bash
# The HTTP search's rate as a share of the same server's /healthz, measured with wrk (16
# keep-alive connections, 2 client threads) on a throw-away store of the demo inventory. The
# two take turns ROUNDS times, SECONDS each, so a shared machine's drifting load falls on
# both alike; each round prints both rates and their ratio. Needs `apt-get install wrk` and a
# build with the benchmarks (`make benchmarks`). Usage: scripts/search-vs-healthz.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
server="$build/apps/formsmaint-server/formsmaint-server"
load="$build/bench/http_load"
rounds=${ROUNDS:-3}
seconds=${SECONDS_PER_RUN:-8}
connections=${CONNECTIONS:-16}
port=${PORT:-18750}
command -v wrk >/dev/null || { echo "search-vs-healthz: wrk is missing (apt-get install wrk)" >&2; exit 2; }
[ -x "$server" ] || { echo "search-vs-healthz: $server is missing; run 'make build'" >&2; exit 2; }
[ -x "$load" ] || { echo "search-vs-healthz: $load is missing; run 'make benchmarks'" >&2; exit 2; }

dir=$(mktemp -d)
pid=""
cleanup() { [ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$dir"; }
trap cleanup EXIT

"$server" --database "sqlite:$dir/demo.db" --load-demo --log-level warn
"$server" --database "sqlite:$dir/demo.db" --listen "127.0.0.1:$port" --access-log /dev/null \
  --log-level warn &
pid=$!
for _ in $(seq 50); do curl -sf "http://127.0.0.1:$port/healthz" >/dev/null && break; sleep 0.1; done

# The screen's search of station A1's citations, the body bench/HttpBench.cpp sends too.
{
  echo 'wrk.method = "POST"'
  echo 'wrk.headers["Content-Type"] = "application/json"'
  echo "wrk.body = [==[$("$load" --print-search)]==]"
} > "$dir/search.lua"

# A rate, or the run's whole output on stderr and a failure when any request was not answered
# with 2xx: a rate of refusals measures nothing.
rate() {
  local out
  out=$(wrk -t2 -c"$connections" -d"${seconds}s" "$@")
  if grep -q "Non-2xx\|Socket errors" <<<"$out"; then
    echo "$out" >&2
    echo "search-vs-healthz: requests failed (above)" >&2
    exit 1
  fi
  awk '/Requests\/sec/{print $2}' <<<"$out"
}

for round in $(seq "$rounds"); do
  search=$(rate -s "$dir/search.lua" "http://127.0.0.1:$port/v1/messages")
  health=$(rate "http://127.0.0.1:$port/healthz")
  awk -v r="$round" -v s="$search" -v h="$health" \
    'BEGIN { printf "round %d: search %.0f/s, healthz %.0f/s, ratio %.3f\n", r, s, h, s / h }'
done

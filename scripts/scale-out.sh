#!/usr/bin/env bash
# Measures what several formsmaint-server processes on one PostgreSQL database buy: searches/s
# and saves/s with 1, 2 and 4 servers, the load spread over them by bench/HttpLoad.cpp
# (http_load) as a load balancer would, and the CPU each party used meanwhile (PostgreSQL,
# the servers, the load generator), which says where the limit is. Not part of CI: it takes
# about two minutes, and its figures depend on the machine and on what else runs on it.
#
# A throw-away PostgreSQL cluster (durable settings: fsync and synchronous_commit on) on
# 127.0.0.1 holds the demo inventory; everything listens on loopback and every run is
# bounded in time. Prints a Markdown table (docs/deployment.md quotes one): per run the
# requests answered a second, their latencies, the CPU cores each party used, the CPU time a
# request cost PostgreSQL and the servers, and the machine's load average (other work on the
# machine takes its share of the same cores).
#
# Settings (environment): FM_SCALE_SERVERS ("1 2 4"), FM_SCALE_SECONDS (10, measured per
# run), FM_SCALE_WARMUP (2), FM_SCALE_CONNECTIONS (16), FM_SCALE_THREADS (4, per server),
# FM_BUILD_DIR (build).
set -euo pipefail
cd "$(dirname "$0")/.."

servers_list=${FM_SCALE_SERVERS:-"1 2 4"}
seconds=${FM_SCALE_SECONDS:-10}
warmup=${FM_SCALE_WARMUP:-2}
connections=${FM_SCALE_CONNECTIONS:-16}
threads=${FM_SCALE_THREADS:-4}
build=${FM_BUILD_DIR:-build}
pg_bin=${FM_PG_BIN:-/usr/lib/postgresql/15/bin}

cmake --build "$build" -j 2 --target formsmaint-server http_load >/dev/null
server_bin="$build/apps/formsmaint-server/formsmaint-server"
load_bin="$build/bench/http_load"

work=$(mktemp -d /tmp/fm-scale-out.XXXXXX)
server_pids=()
as_owner() {
  if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
cleanup() {
  for pid in "${server_pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if [ -d "$work/data" ]; then
    as_owner "$pg_bin/pg_ctl" -D "$work/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# --- PostgreSQL ------------------------------------------------------------------------
[ "$(id -u)" = 0 ] && chown postgres: "$work"
as_owner "$pg_bin/initdb" -D "$work/data" -U postgres -A trust -E UTF8 --locale=C \
  >"$work/initdb.log" 2>&1
pg_port=""
for port in $(seq 56100 56199); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && continue
  if as_owner "$pg_bin/pg_ctl" -D "$work/data" -l "$work/postgres.log" -w -t 60 \
      -o "-c listen_addresses=127.0.0.1 -p $port -k $work -c max_connections=200 \
          -c shared_buffers=256MB" start >/dev/null 2>&1; then
    pg_port=$port
    break
  fi
done
[ -n "$pg_port" ] || { echo "scale-out: PostgreSQL did not start" >&2; exit 1; }
as_owner "$pg_bin/createdb" -h 127.0.0.1 -p "$pg_port" -U postgres forms
database="postgresql://postgres@127.0.0.1:$pg_port/forms"
postmaster=$(head -1 "$work/data/postmaster.pid")
"$server_bin" --database "$database" --load-demo 2>"$work/load.log"

# --- CPU used by groups of processes ----------------------------------------------------
declare -A ticks_at_start
ticks_of() { # user + system ticks of one process (the fields after the command name)
  sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | awk '{print $12 + $13}' || echo 0
}
postgres_pids() {
  echo "$postmaster"
  pgrep -P "$postmaster" || true
}
mark_cpu() {
  ticks_at_start=()
  for pid in $(postgres_pids) "${server_pids[@]}"; do ticks_at_start[$pid]=$(ticks_of "$pid"); done
}
cores_used() { # CPU seconds per wall second of the given processes since mark_cpu
  local wall=$1 total=0 now
  shift
  for pid in "$@"; do
    now=$(ticks_of "$pid")
    total=$((total + ${now:-0} - ${ticks_at_start[$pid]:-0}))
  done
  awk -v t="$total" -v hz="$(getconf CLK_TCK)" -v w="$wall" 'BEGIN {printf "%.2f", t / hz / w}'
}

# A figure of http_load's result line ("rate=812.3 ...").
value() { sed -n "s/.* $1=\([0-9.]*\).*/\1/p" "$work/result"; }

# Starts the servers; leaves their pids in server_pids and their addresses in targets.
targets=()
start_servers() {
  local count=$1 i port
  server_pids=()
  targets=()
  for i in $(seq "$count"); do
    "$server_bin" --database "$database" --listen 127.0.0.1:0 --threads "$threads" \
      --access-log "$work/access-$i.log" >/dev/null 2>"$work/server-$i.log" &
    server_pids+=($!)
  done
  for i in $(seq "$count"); do
    port=""
    for _ in $(seq 300); do
      port=$(sed -n 's|.*listening on http://127\.0\.0\.1:\([0-9]*\).*|\1|p' "$work/server-$i.log")
      [ -n "$port" ] && break
      sleep 0.1
    done
    if [ -z "$port" ]; then
      echo "scale-out: server $i did not start" >&2
      cat "$work/server-$i.log" >&2
      exit 1
    fi
    targets+=(--target "127.0.0.1:$port")
  done
}

# CPU seconds of the children this shell has waited for (the load generator); `times`
# must run in this shell, not in a command substitution's.
children_cpu() {
  awk 'END { total = 0
    for (i = 1; i <= 2; i++) { split($i, p, /[ms]/); total += p[1] * 60 + p[2] }
    printf "%.3f", total }' "$work/times"
}

stop_servers() {
  for pid in "${server_pids[@]}"; do kill -TERM "$pid"; done
  for pid in "${server_pids[@]}"; do wait "$pid" || true; done
  server_pids=()
}

echo "scale-out: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) before the runs;" \
  "$connections connections, $threads handler threads per server, ${seconds} s per run" >&2
echo
echo "| servers | requests | per second | p50 / p99 ms | CPU cores: PostgreSQL / servers / generator | CPU ms a request: PostgreSQL / servers | load average |"
echo "|---|---|---|---|---|---|---|"
for count in $servers_list; do
  start_servers "$count"
  for mode in search save; do
    mark_cpu
    times >"$work/times"
    generator_before=$(children_cpu)
    begin=$(date +%s.%N)
    "$load_bin" "${targets[@]}" --mode "$mode" --connections "$connections" \
      --seconds "$seconds" --warmup "$warmup" >"$work/result" 2>"$work/load-errors" ||
      { cat "$work/load-errors" >&2; exit 1; }
    wall=$(awk -v b="$begin" -v e="$(date +%s.%N)" 'BEGIN {print e - b}')
    times >"$work/times"
    refused=$(value refused)
    if [ "$refused" != 0 ]; then
      echo "scale-out: $count servers, $mode: $refused refused; $(tail -1 "$work/load-errors")" >&2
    fi
    rate=$(value rate)
    # shellcheck disable=SC2046 # one pid a word
    pg=$(cores_used "$wall" $(postgres_pids))
    srv=$(cores_used "$wall" "${server_pids[@]}")
    gen=$(awk -v a="$generator_before" -v b="$(children_cpu)" -v w="$wall" \
      'BEGIN {printf "%.2f", (b - a) / w}')
    per_request=$(awk -v p="$pg" -v s="$srv" -v r="$rate" \
      'BEGIN {printf "%.3f / %.3f", p * 1000 / r, s * 1000 / r}')
    printf '| %s | %s | %s%s | %s / %s | %s / %s / %s | %s | %s |\n' "$count" \
      "$([ "$mode" = search ] && echo searches || echo saves)" "$rate" \
      "$([ "$refused" = 0 ] || echo " ($refused refused)")" "$(value p50_ms)" "$(value p99_ms)" \
      "$pg" "$srv" "$gen" "$per_request" "$(cut -d' ' -f1 /proc/loadavg)"
  done
  stop_servers
done
echo
echo "scale-out: load average $(cut -d' ' -f1-3 /proc/loadavg) after the runs" >&2

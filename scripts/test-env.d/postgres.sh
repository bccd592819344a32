# shellcheck shell=bash
# Sourced by scripts/run-tests.sh before CTest: starts a throw-away PostgreSQL cluster on
# 127.0.0.1 for the forms server's store tests and exports FM_TEST_PG_URL; the cluster is
# stopped and removed when the test script exits. With FM_TEST_PG_URL already set, that
# server is used instead. Without a PostgreSQL server installed the PostgreSQL tests skip
# (they fail when CI=true).

FM_PG_BIN=${FM_PG_BIN:-/usr/lib/postgresql/15/bin}
FM_PG_DIR=""

fm_pg_stop() {
  [ -n "$FM_PG_DIR" ] || return 0
  if [ -d "$FM_PG_DIR/data" ]; then
    fm_pg_as_owner "$FM_PG_BIN/pg_ctl" -D "$FM_PG_DIR/data" -m immediate -w stop \
      >/dev/null 2>&1 || true
  fi
  rm -rf "$FM_PG_DIR" || true
  FM_PG_DIR=""
}

# initdb refuses to run as root: CI runs as root, so the cluster belongs to `postgres`.
fm_pg_as_owner() {
  if [ "$(id -u)" = 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

# Runs the previous EXIT trap of the sourcing script after ours, so both clean up.
fm_pg_chain_exit_trap() {
  local current
  current=$(trap -p EXIT)
  FM_PG_PREVIOUS_EXIT_TRAP=""
  if [ -n "$current" ]; then
    eval "set -- $current"
    FM_PG_PREVIOUS_EXIT_TRAP=$3
  fi
  trap 'fm_pg_stop; eval "$FM_PG_PREVIOUS_EXIT_TRAP"' EXIT
}

fm_pg_port_in_use() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# Called in an `||` list, where `set -e` does not apply: every failure is handled here.
fm_pg_start() {
  if [ ! -x "$FM_PG_BIN/initdb" ]; then
    echo "postgres.sh: no PostgreSQL server in $FM_PG_BIN" >&2
    return 1
  fi
  if [ "$(id -u)" = 0 ] && ! id postgres >/dev/null 2>&1; then
    echo "postgres.sh: running as root, but there is no postgres user to own the cluster" >&2
    return 1
  fi
  FM_PG_DIR=$(mktemp -d /tmp/fm-pg.XXXXXX) || return 1
  fm_pg_chain_exit_trap
  if [ "$(id -u)" = 0 ]; then
    chown postgres: "$FM_PG_DIR" || return 1
  fi
  if ! fm_pg_as_owner "$FM_PG_BIN/initdb" -D "$FM_PG_DIR/data" -U postgres -A trust \
      -E UTF8 --locale=C --no-sync >"$FM_PG_DIR/initdb.log" 2>&1; then
    echo "postgres.sh: initdb failed:" >&2
    cat "$FM_PG_DIR/initdb.log" >&2
    return 1
  fi
  local port started=""
  for port in $(seq 55432 55531); do
    fm_pg_port_in_use "$port" && continue
    # fsync off: the cluster lives for one test run; durability is not what is tested.
    if fm_pg_as_owner "$FM_PG_BIN/pg_ctl" -D "$FM_PG_DIR/data" -l "$FM_PG_DIR/server.log" -w \
        -t 60 -o "-c listen_addresses=127.0.0.1 -p $port -k $FM_PG_DIR -c fsync=off \
                  -c max_connections=100" start >/dev/null 2>&1; then
      started=$port
      break
    fi
  done
  if [ -z "$started" ]; then
    echo "postgres.sh: the PostgreSQL server did not start:" >&2
    tail -20 "$FM_PG_DIR/server.log" >&2 2>/dev/null
    return 1
  fi
  if ! fm_pg_as_owner "$FM_PG_BIN/createdb" -h 127.0.0.1 -p "$started" -U postgres fm_test; then
    echo "postgres.sh: createdb failed" >&2
    return 1
  fi
  export FM_TEST_PG_URL="postgresql://postgres@127.0.0.1:$started/fm_test"
  echo "postgres.sh: PostgreSQL test server at $FM_TEST_PG_URL" >&2
}

if [ -z "${FM_TEST_PG_URL:-}" ]; then
  fm_pg_start || {
    echo "postgres.sh: PostgreSQL tests will $([ "${CI:-}" = true ] && echo fail || echo skip)" >&2
    fm_pg_stop
  }
fi

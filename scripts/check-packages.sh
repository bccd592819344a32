#!/usr/bin/env bash
# Checks the Debian packages `make package` built (CI runs it after the tests, .ci/run):
#   - both packages exist, with their files, dependencies and conffiles;
#   - systemd-analyze accepts the service unit (skipped, with a message, without systemd);
#   - the packaged server, taken out of its package into a temporary folder (never installed
#     on this machine), starts with the packaged configuration, the database and address
#     overridden for a temporary state folder, answers /healthz and stops on SIGTERM.
# Usage: scripts/check-packages.sh [FOLDER OF THE .deb FILES]   (default build/packages)
set -euo pipefail
cd "$(dirname "$0")/.."
packages=${1:-build/packages}

# Longest wait for the packaged server to answer; a limit, not a measurement.
START_TIMEOUT=${FM_CHECK_START_TIMEOUT:-30}
# The unit's exposure as `systemd-analyze security` rates it (0 best, 10 worst).
MAX_EXPOSURE=${FM_CHECK_MAX_EXPOSURE:-2.0}

fail() {
  echo "check-packages: FAILED: $*" >&2
  exit 1
}
say() { echo "check-packages: $*"; }

only_file() {
  local matches
  # shellcheck disable=SC2206 # $1 is a glob
  matches=("$packages"/$1)
  [ -e "${matches[0]}" ] || fail "no $1 in $packages (run 'make package')"
  [ ${#matches[@]} -eq 1 ] || fail "several $1 in $packages: ${matches[*]}"
  echo "${matches[0]}"
}
server_deb=$(only_file 'formsmaint-server_*.deb')
desktop_deb=$(only_file 'formsmaint_*.deb')

work=$(mktemp -d /tmp/fm-check-packages.XXXXXX)
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill -KILL "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# Every path must be in the package's listing.
expect_files() {
  local deb=$1
  shift
  local listing
  listing=$(dpkg-deb -c "$deb" | awk '{print $NF}')
  for path in "$@"; do
    grep -qx "./$path" <<<"$listing" || fail "$(basename "$deb") lacks /$path"
  done
}
expect_depends() {
  local deb=$1
  shift
  local depends
  depends=$(dpkg-deb -f "$deb" Depends)
  for package in "$@"; do
    grep -qE "(^|, )$package( |,|$)" <<<"$depends" ||
      fail "$(basename "$deb") does not depend on $package (Depends: $depends)"
  done
}

say "contents of $(basename "$server_deb")"
expect_files "$server_deb" usr/bin/formsmaint-server \
  usr/lib/systemd/system/formsmaint-server.service etc/formsmaint/server.conf \
  usr/share/doc/formsmaint-server/deployment.md
dpkg-deb -I "$server_deb" conffiles | grep -qx /etc/formsmaint/server.conf ||
  fail "/etc/formsmaint/server.conf is not a conffile"
for script in postinst prerm postrm; do
  dpkg-deb -I "$server_deb" "$script" >/dev/null || fail "no $script in $(basename "$server_deb")"
done
expect_depends "$server_deb" adduser procps libc6 libsqlite3-0 libpq5

say "contents of $(basename "$desktop_deb")"
expect_files "$desktop_deb" usr/bin/formsmaint usr/share/applications/formsmaint.desktop \
  usr/share/icons/hicolor/scalable/apps/formsmaint.svg
expect_depends "$desktop_deb" libc6 libqt6widgets6

root="$work/root"
mkdir -p "$root"
dpkg-deb -x "$server_deb" "$root"
dpkg-deb -x "$desktop_deb" "$root"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$root/usr/share/applications/formsmaint.desktop" ||
    fail "the desktop entry is not valid"
fi
QT_QPA_PLATFORM=offscreen "$root/usr/bin/formsmaint" --help >/dev/null ||
  fail "the packaged desktop does not start (formsmaint --help)"

unit=usr/lib/systemd/system/formsmaint-server.service
if command -v systemd-analyze >/dev/null; then
  say "systemd-analyze verify $unit"
  # The unit is verified inside the package's own tree (its ExecStart exists there), with
  # the host's units beside it for the targets it names.
  cp -rn /usr/lib/systemd/system/. "$root/usr/lib/systemd/system/" 2>/dev/null || true
  # Commands the unit runs from packages the server depends on are taken from the host, as
  # an installation would have them; one missing on the host is a missing dependency here.
  for command in $(grep -oE '^Exec[A-Za-z]+=[-@:+!]*/[^ ]+' "$root/$unit" | sed -E 's/^[^=]+=[-@:+!]*//'); do
    [ -e "$root$command" ] && continue
    [ -x "$command" ] || fail "the unit runs $command, which is not installed here"
    install -D "$command" "$root$command"
  done
  if ! output=$(systemd-analyze verify --root="$root" "/$unit" 2>&1) || [ -n "$output" ]; then
    fail "systemd-analyze verify does not accept the unit:
$output"
  fi
  if ! output=$(systemd-analyze security --offline=yes --root="$root" \
      --threshold="${MAX_EXPOSURE/./}" formsmaint-server.service 2>&1); then
    echo "$output" | tail -25 >&2
    fail "the unit's exposure is above $MAX_EXPOSURE"
  fi
  say "$(grep -o 'Overall exposure level.*' <<<"$output")"
else
  say "skipped systemd-analyze verify: systemd-analyze is not installed"
fi

say "the packaged server with the packaged configuration answers /healthz"
mkdir -p "$work/state"
"$root/usr/bin/formsmaint-server" --config "$root/etc/formsmaint/server.conf" \
  --database "sqlite:$work/state/server.db" --listen 127.0.0.1:0 2>"$work/server.log" &
server_pid=$!
port=""
for _ in $(seq $((START_TIMEOUT * 10))); do
  port=$(sed -n 's|.*listening on http://127\.0\.0\.1:\([0-9]*\).*|\1|p' "$work/server.log")
  [ -n "$port" ] && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
[ -n "$port" ] || fail "the packaged server did not start:
$(cat "$work/server.log")"
exec 3<>"/dev/tcp/127.0.0.1/$port"
printf 'GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n' >&3
answer=$(timeout 10 cat <&3 || true)
exec 3<&-
if ! grep -q '^HTTP/1.1 200' <<<"$answer" || ! grep -q '"status":"ok"' <<<"$answer"; then
  fail "/healthz did not answer 200 with status ok:
$answer"
fi
kill -TERM "$server_pid"
status=0
wait "$server_pid" || status=$?
server_pid=""
[ "$status" -eq 0 ] || fail "the packaged server exited with status $status after SIGTERM:
$(cat "$work/server.log")"
say "$(grep -o '"backend".*' <<<"$answer" | head -1)"
say "all package checks passed"

#!/usr/bin/env bash
# Installs every Debian 12 package the product, its tests and its benchmarks need.
# Idempotent: packages already present are left alone, and apt is not touched at all
# when nothing is missing, so `make test` stays fast on a prepared machine.
set -euo pipefail

packages=(
  # toolchain
  g++ cmake ninja-build pkg-config make git clang-format
  # the linker of the builds (cmake/BuildSpeed.cmake): links in a fraction of GNU ld's time
  mold
  # `make lint` (clang-tidy, run-clang-tidy)
  clang-tidy
  # core libraries
  libsqlite3-dev sqlite3 libfmt-dev libspdlog-dev nlohmann-json3-dev libcli11-dev
  # server and message transports
  libboost-dev libboost-system-dev libssl-dev libpq-dev
  # PostgreSQL server for the store tests
  postgresql postgresql-contrib
  # desktop
  qt6-base-dev libgl-dev xvfb xauth
  # the screenshots of the printed reports (qt_screenshots renders their PDFs with pdftoppm)
  poppler-utils
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # scripts/search-vs-healthz.sh: the HTTP search against /healthz
  wrk curl
  # the fuzz programs (`make fuzz`): clang, its libFuzzer and sanitizer runtimes, and
  # llvm-symbolizer for readable stack traces
  clang libclang-rt-dev llvm
  # line coverage of the tests (`make coverage`)
  gcovr
  # Debian packages (`make package`: dpkg-shlibdeps) and their checks (systemd-analyze;
  # installing systemd in a container only adds its tools, it does not become the init)
  dpkg-dev systemd desktop-file-utils
  # /bin/kill, which the service's reload runs (a minimal container lacks it)
  procps
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update
"${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"

#include "ServerBenchCluster.h"

#include <fmt/format.h>
#include <unistd.h>

#include <cstdlib>

namespace fm::server::bench {

namespace {

constexpr const char* kBin = "/usr/lib/postgresql/15/bin";

// The command as the cluster's owner: initdb refuses to run as root.
std::string AsOwner(const std::string& command) {
  if (::geteuid() != 0) return command;
  return "runuser -u postgres -- " + command;
}

bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

}  // namespace

BenchCluster::BenchCluster() {
  if (const char* url = std::getenv("FM_TEST_PG_URL"); url && *url) {
    mUrl = url;
    return;
  }
  if (!std::filesystem::exists(fmt::format("{}/initdb", kBin))) {
    mWhy = fmt::format("no PostgreSQL server in {} and FM_TEST_PG_URL is not set", kBin);
    return;
  }
  std::string pattern = (std::filesystem::temp_directory_path() / "fm-bench-pg-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    mWhy = "could not create a temporary folder";
    return;
  }
  mDirectory = pattern;
  const std::string dir = mDirectory.string();
  if (::geteuid() == 0) Run(fmt::format("chown postgres: '{}'", dir));
  if (!Run(AsOwner(fmt::format("{}/initdb -D '{}/data' -U postgres -A trust -E UTF8 --locale=C "
                               "--no-sync > '{}/initdb.log' 2>&1",
                               kBin, dir, dir)))) {
    mWhy = fmt::format("initdb failed (see {}/initdb.log)", dir);
    return;
  }
  // A port is free when the server starts on it; try a few.
  for (int port = 55700; port < 55740; ++port) {
    if (Run(AsOwner(fmt::format("{}/pg_ctl -D '{}/data' -l '{}/server.log' -w -t 60 -o "
                                "\"-c listen_addresses=127.0.0.1 -p {} -k {} "
                                "-c shared_buffers=256MB\" start > /dev/null 2>&1",
                                kBin, dir, dir, port, dir))) &&
        Run(AsOwner(
            fmt::format("{}/createdb -h 127.0.0.1 -p {} -U postgres fm_bench", kBin, port)))) {
      mUrl = fmt::format("postgresql://postgres@127.0.0.1:{}/fm_bench", port);
      return;
    }
  }
  mWhy = fmt::format("the PostgreSQL server did not start (see {}/server.log)", dir);
}

BenchCluster::~BenchCluster() {
  if (mDirectory.empty()) return;
  Run(AsOwner(fmt::format("{}/pg_ctl -D '{}/data' -m fast -w stop > /dev/null 2>&1", kBin,
                          mDirectory.string())));
  std::error_code ignored;
  std::filesystem::remove_all(mDirectory, ignored);
}

}  // namespace fm::server::bench

#include "ServerBenchCluster.h"

#include <fmt/format.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "server/testing/PgDirect.h"

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

std::string BenchCluster::NewSchema(const std::string& name) {
  using fm::server::testing::RunSql;
  using fm::server::testing::WithParameter;
  const std::string schema = fmt::format("fm_bench_{}_{}", name, ::getpid());
  const std::string base = WithParameter(mUrl, "connect_timeout=5");
  RunSql(base, "CREATE EXTENSION IF NOT EXISTS btree_gist SCHEMA public");
  if (const std::string error =
          RunSql(base, fmt::format("DROP SCHEMA IF EXISTS {0} CASCADE; CREATE SCHEMA {0}", schema));
      !error.empty()) {
    fmt::print(stderr, "could not create the PostgreSQL schema {}: {}\n", schema, error);
    std::abort();
  }
  mSchemas.push_back(schema);
  return WithParameter(base, "options=-csearch_path%3D" + schema);
}

BenchCluster::~BenchCluster() {
  for (const std::string& schema : mSchemas) {
    fm::server::testing::RunSql(mUrl, fmt::format("DROP SCHEMA IF EXISTS {} CASCADE", schema));
  }
  if (mDirectory.empty()) return;
  Run(AsOwner(fmt::format("{}/pg_ctl -D '{}/data' -m fast -w stop > /dev/null 2>&1", kBin,
                          mDirectory.string())));
  std::error_code ignored;
  std::filesystem::remove_all(mDirectory, ignored);
}

double PeakResidentMegabytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  }
  return 0;
}

// Writing 5 to clear_refs resets VmHWM to the present resident size.
void ResetPeakResident() { std::ofstream("/proc/self/clear_refs") << "5"; }

}  // namespace fm::server::bench

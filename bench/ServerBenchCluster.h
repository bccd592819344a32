#pragma once

#include <filesystem>
#include <string>

namespace fm::server::bench {

// A PostgreSQL database for the store benchmarks: the server of FM_TEST_PG_URL when it is
// set, else a throw-away cluster started here (initdb, pg_ctl; as the `postgres` user when
// running as root) on a free loopback port and removed when the object dies. Url() is
// empty when neither works; Why() then says why.
class BenchCluster {
 public:
  BenchCluster();
  ~BenchCluster();
  BenchCluster(const BenchCluster&) = delete;
  BenchCluster& operator=(const BenchCluster&) = delete;

  const std::string& Url() const { return mUrl; }
  const std::string& Why() const { return mWhy; }

 private:
  std::filesystem::path mDirectory;  // empty when the cluster is not ours
  std::string mUrl;
  std::string mWhy;
};

}  // namespace fm::server::bench

#pragma once

#include <filesystem>
#include <string>
#include <vector>

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

  // A schema of this process in the cluster's database (btree_gist made available), dropped
  // with the cluster: the store address that works in it. Aborts the benchmark when the
  // schema cannot be made, since every figure after it would be of nothing.
  std::string NewSchema(const std::string& name);

 private:
  std::filesystem::path mDirectory;  // empty when the cluster is not ours
  std::vector<std::string> mSchemas;
  std::string mUrl;
  std::string mWhy;
};

// The process's peak resident memory in MB since the last ResetPeakResident (VmHWM).
double PeakResidentMegabytes();
void ResetPeakResident();

}  // namespace fm::server::bench

// The screen's look-ups against the demo local database, one call each as the screen makes
// it: a data set built, its statement run (prepared once, then reused), the answer read and
// the data set released. The assignment grid runs the form-type and the delisting look-up
// for every row it loads, so their sum bounds how fast a grid of ranges can fill.

#include <benchmark/benchmark.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/DataSet.h"
#include "platform/LocalDatabase.h"
#include "platform/Recordset.h"

namespace {

// One demo database for the whole run, in a temporary folder removed at exit.
class BenchDatabase {
 public:
  static std::shared_ptr<fm::LocalDatabase> Get() {
    static BenchDatabase instance;
    return instance.mDatabase;
  }

  ~BenchDatabase() {
    mDatabase.reset();
    std::error_code ec;
    std::filesystem::remove_all(mFolder, ec);
  }

 private:
  BenchDatabase() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "fm-lookup-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    mFolder = pattern;
    mDatabase = fm::LocalDatabase::Open(mFolder / "local.db");
  }

  std::filesystem::path mFolder;
  std::shared_ptr<fm::LocalDatabase> mDatabase;
};

const std::string kRegion = "NORTH";

std::string OfficerSql() {
  return std::string("Select * From MVE061TB Where ") + "REGION" + "='" + kRegion + "'" +
         " Order By Insp_Id";
}

std::string FormTypeSql() {
  return std::string("Select * From RVO_CODE Where ") + "REGION" + "='" + kRegion + "'" + " And " +
         "CD_TBL_ID" + "='" + "FORMTYPE" + "'";
}

std::string DelistingDescriptionSql(const std::string& code) {
  return std::string(" SELECT ") + "    CD_TBL_DES " + " FROM " + "    RVO_CODE " + " WHERE " +
         "    REGION = '" + kRegion + "' " + "    AND " + "    (EFCTV_DT <= date()) " + "    AND " +
         "    ( (END_DT >= date()) or (END_DT Is Null) )" + "    AND " +
         "    (CD_TBL_ID = 'DELISTCD') " + "    AND " + "    (CD_TBL_CD = '" + code + "') ";
}

const std::array<const char*, 10> kFormTypes = {"C", "M", "V", "O", "T", "R", "B", "Y", "Z", "K"};
const std::array<const char*, 6> kStatuses = {"A", "U", "V", "R", "L", "D"};

std::string FormDescription(const std::shared_ptr<fm::LocalDatabase>& db, const std::string& code) {
  fm::DataSet dataSet(db);
  dataSet.SetSource(FormTypeSql());
  dataSet.Open();
  dataSet.MoveFirst();
  auto& rs = dataSet.GetRecordset();
  rs.SetFilter("CD_TBL_CD='" + code + "' And END_DT = NULL");
  std::string description = rs.IsEOF() ? "" : rs.GetText("CD_TBL_DES");
  rs.SetFilter("");
  dataSet.Close();
  return description;
}

std::string DelistingDescription(const std::shared_ptr<fm::LocalDatabase>& db,
                                 const std::string& code) {
  fm::DataSet dataSet(db);
  dataSet.SetSource(DelistingDescriptionSql(code));
  dataSet.Open();
  dataSet.MoveFirst();
  std::string description = dataSet.IsEOF() ? "" : dataSet.GetRecordset().GetText("CD_TBL_DES");
  dataSet.Close();
  return description;
}

// GetOfcrName's first call: the region's officers read and one found by registry number.
void BM_OfficerLookUp(benchmark::State& state) {
  const auto db = BenchDatabase::Get();
  long registry = 1001;
  for (auto _ : state) {
    fm::DataSet officers(db);
    officers.SetSource(OfficerSql());
    officers.Open();
    auto& rs = officers.GetRecordset();
    rs.MoveFirst();
    const bool found = rs.Find("INSP_ID = " + std::to_string(registry));
    benchmark::DoNotOptimize(found ? rs.GetText("INSP_NME_LST") : std::string());
    registry = registry == 1160 ? 1001 : registry + 1;
  }
}
BENCHMARK(BM_OfficerLookUp);

// GetOfcrName's later calls: the kept officer set searched again.
void BM_OfficerFindInKeptSet(benchmark::State& state) {
  fm::DataSet officers(BenchDatabase::Get());
  officers.SetSource(OfficerSql());
  officers.Open();
  auto& rs = officers.GetRecordset();
  long registry = 1001;
  for (auto _ : state) {
    rs.MoveFirst();
    const bool found = rs.Find("INSP_ID = " + std::to_string(registry));
    benchmark::DoNotOptimize(found ? rs.GetText("INSP_NME_LST") : std::string());
    registry = registry == 1160 ? 1001 : registry + 1;
  }
}
BENCHMARK(BM_OfficerFindInKeptSet);

void BM_FormDescription(benchmark::State& state) {
  const auto db = BenchDatabase::Get();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FormDescription(db, kFormTypes[i++ % kFormTypes.size()]));
  }
}
BENCHMARK(BM_FormDescription);

void BM_DelistingDescription(benchmark::State& state) {
  const auto db = BenchDatabase::Get();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(DelistingDescription(db, kStatuses[i++ % kStatuses.size()]));
  }
}
BENCHMARK(BM_DelistingDescription);

// What loading one row of the assignment grid costs in look-ups.
void BM_AssignmentGridRowLookUps(benchmark::State& state) {
  const auto db = BenchDatabase::Get();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FormDescription(db, kFormTypes[i % kFormTypes.size()]));
    benchmark::DoNotOptimize(DelistingDescription(db, kStatuses[i % kStatuses.size()]));
    ++i;
  }
  state.counters["rows/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AssignmentGridRowLookUps);

}  // namespace

BENCHMARK_MAIN();

// Record-set searching on a large "TROOPFORM" set: criterion-driven Find and Filter against
// a hand-written loop over ValueAt doing the same comparisons, so the cost of the compiled
// criterion can be read as a ratio to the plainest possible scan.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "platform/DataSetTemplates.h"
#include "platform/Recordset.h"

namespace fm {
namespace {

constexpr long kRows = 100000;
constexpr const char* kTypes[] = {"B", "C", "M", "V", "Y", "Z"};

// Ranges of 100 forms each, the form types taking turns; "B" ranges carry ten-digit numbers.
std::int64_t FromOf(long row) { return (row % 6 == 0 ? 9000000000 : 1000000) + row * 100; }

std::shared_ptr<Recordset> MakeRanges() {
  auto rs = std::make_shared<Recordset>(*TemplateFields(kTroopFormTemplate));
  for (long i = 0; i < kRows; ++i) {
    const char* type = kTypes[i % 6];
    rs->AddNew();
    rs->SetValue("TRP_ID", "A");
    rs->SetValue("TRP_DIST_ID", "12");
    rs->SetValue("FORM_TYP_CD", type);
    rs->SetValue("FRM_FORM_NBR", FromOf(i));
    rs->SetValue("TO_FORM_NBR", FromOf(i) + 99);
    rs->SetValue("ASGND_REG_NBR", i % 500);
    rs->SetValue("TRP_ACTN_CD", "A");
    rs->SetValue("RMNG_FORM_CNT", 100);
    rs->SetValue("ACTION", "UPD");
    rs->Update();
  }
  return rs;
}

const std::shared_ptr<Recordset>& Ranges() {
  static const std::shared_ptr<Recordset> ranges = MakeRanges();
  return ranges;
}

// The row searched for sits near the end: a "B" range with a ten-digit From.
constexpr long kTargetRow = kRows - 10;
std::int64_t TargetFrom() { return FromOf(kTargetRow); }
// A new "B" range whose From lies in the "B" range at kTargetRow and whose To lies in the
// next "B" range, six rows on.
constexpr std::int64_t kNewFrom = 9000000000 + kTargetRow * 100 + 50;
constexpr std::int64_t kNewTo = kNewFrom + 600;
const std::string& FindCriterion() {
  static const std::string text = "FRM_FORM_NBR = " + std::to_string(TargetFrom());
  return text;
}

// The overlap rule of new ranges.
const std::string& OverlapFilter() {
  static const std::string text = [] {
    const std::int64_t from = kNewFrom;
    const std::int64_t to = kNewTo;
    return "(FORM_TYP_CD = 'B' AND FRM_FORM_NBR <= " + std::to_string(from) +
           " AND TO_FORM_NBR >= " + std::to_string(from) + ") OR (FORM_TYP_CD = 'B' AND " +
           "FRM_FORM_NBR <= " + std::to_string(to) + " AND TO_FORM_NBR >= " + std::to_string(to) +
           ")";
  }();
  return text;
}

void BM_FindNearEnd(benchmark::State& state) {
  auto rs = Ranges()->Clone();
  for (auto _ : state) {
    rs->MoveFirst();
    benchmark::DoNotOptimize(rs->Find(FindCriterion()));
  }
  if (!rs->HasCurrentRow() || rs->GetValue("FRM_FORM_NBR").AsInteger() != TargetFrom()) {
    state.SkipWithError("Find did not reach the row near the end");
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_FindNearEnd)->Unit(benchmark::kMicrosecond);

void BM_FindNearEndHandLoop(benchmark::State& state) {
  auto rs = Ranges()->Clone();
  const int from = rs->FieldIndex("FRM_FORM_NBR");
  const std::int64_t target = TargetFrom();
  long found = -1;
  for (auto _ : state) {
    found = -1;
    const long count = rs->RecordCount();
    for (long i = 0; i < count; ++i) {
      const Value& v = rs->ValueAt(i, from);
      if (!v.IsNull() && v.AsInteger() == target) {
        found = i;
        break;
      }
    }
    benchmark::DoNotOptimize(found);
  }
  if (found < 0) state.SkipWithError("the hand loop did not find the row");
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_FindNearEndHandLoop)->Unit(benchmark::kMicrosecond);

void BM_OverlapFilterAndCount(benchmark::State& state) {
  auto rs = Ranges()->Clone();
  long count = 0;
  for (auto _ : state) {
    rs->SetFilter(OverlapFilter());
    count = rs->RecordCount();
    benchmark::DoNotOptimize(count);
  }
  if (count != 2) state.SkipWithError("the overlap filter should catch two ranges");
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_OverlapFilterAndCount)->Unit(benchmark::kMicrosecond);

void BM_OverlapHandLoop(benchmark::State& state) {
  auto rs = Ranges()->Clone();
  const int type = rs->FieldIndex("FORM_TYP_CD");
  const int fromField = rs->FieldIndex("FRM_FORM_NBR");
  const int toField = rs->FieldIndex("TO_FORM_NBR");
  const std::int64_t from = kNewFrom;
  const std::int64_t to = kNewTo;
  long count = 0;
  for (auto _ : state) {
    count = 0;
    const long rows = rs->RecordCount();
    for (long i = 0; i < rows; ++i) {
      const Value& t = rs->ValueAt(i, type);
      const Value& f = rs->ValueAt(i, fromField);
      const Value& e = rs->ValueAt(i, toField);
      if (t.IsNull() || f.IsNull() || e.IsNull()) continue;
      const std::string& code = t.AsText();
      if (code.size() != 1 || (code[0] != 'B' && code[0] != 'b')) continue;
      const std::int64_t lo = f.AsInteger();
      const std::int64_t hi = e.AsInteger();
      if ((lo <= from && hi >= from) || (lo <= to && hi >= to)) ++count;
    }
    benchmark::DoNotOptimize(count);
  }
  if (count != 2) state.SkipWithError("the hand loop should catch two ranges");
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_OverlapHandLoop)->Unit(benchmark::kMicrosecond);

// A simple equality filter and the count a grid asks for first.
void BM_SetFilterRecordCount(benchmark::State& state) {
  auto rs = Ranges()->Clone();
  long count = 0;
  for (auto _ : state) {
    rs->SetFilter("FORM_TYP_CD = 'Y'");
    count = rs->RecordCount();
    benchmark::DoNotOptimize(count);
  }
  if (count != kRows / 6) state.SkipWithError("unexpected count of 'Y' ranges");
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_SetFilterRecordCount)->Unit(benchmark::kMicrosecond);

void BM_FilterHandLoop(benchmark::State& state) {
  auto rs = Ranges()->Clone();
  const int type = rs->FieldIndex("FORM_TYP_CD");
  long count = 0;
  for (auto _ : state) {
    count = 0;
    const long rows = rs->RecordCount();
    for (long i = 0; i < rows; ++i) {
      const Value& t = rs->ValueAt(i, type);
      if (!t.IsNull() && t.AsText().size() == 1 && (t.AsText()[0] | 0x20) == 'y') ++count;
    }
    benchmark::DoNotOptimize(count);
  }
  if (count != kRows / 6) state.SkipWithError("unexpected count of 'Y' ranges");
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_FilterHandLoop)->Unit(benchmark::kMicrosecond);

// Loading: what a data set built from a query or a reply costs per row.
void BM_AddRows(benchmark::State& state) {
  for (auto _ : state) {
    auto rs = MakeRanges();
    benchmark::DoNotOptimize(rs->RecordCount());
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_AddRows)->Unit(benchmark::kMillisecond);

// A sort of the whole set on two keys, as the officer grid does by name.
void BM_SortTwoKeys(benchmark::State& state) {
  auto rs = Ranges()->Clone();
  for (auto _ : state) {
    rs->SetSort("FORM_TYP_CD DESC, FRM_FORM_NBR");
    benchmark::DoNotOptimize(rs->RecordCount());
    rs->SetSort("");
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_SortTwoKeys)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace fm

BENCHMARK_MAIN();

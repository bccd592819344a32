// The grid side of the search cycle: a reply of 10,000 ranges, already decoded into record
// sets, is delivered (DataReady) and the assignment grid fills the computed cells of the
// rows on the screen (the first 40), each with its three look-ups (officer name, form-type
// and status descriptions). What comes before (the server's query, the JSON, the transport
// and the decoding) is timed by click_to_rows_bench, from the Search click on.
//
// The grid loads rows on demand, so the cost must not grow with the rows no one sees.
// Goal: at most 5 µs per loaded row with its look-ups, also on a new document's first
// search (its officer look-up set read within the cycle).

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "HeadlessServices.h"
#include "controls/CodesCombo.h"
#include "controls/DataGrid.h"
#include "controls/TextBox.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/DataSetTemplates.h"
#include "platform/QueueEventLoop.h"
#include "platform/Recordset.h"
#include "platform/Services.h"
#include "platform/testing/ScriptedMessageComponent.h"

namespace {

constexpr long kReplyRanges = 10000;
constexpr long kRowsOnScreen = 40;

// A headless host over the demo local database, for the whole run.
class Host {
 public:
  static Host& Get() {
    static Host host;
    return host;
  }

  std::shared_ptr<fm::QueueEventLoop> loop =
      std::make_shared<fm::QueueEventLoop>(std::make_shared<fm::ManualClock>());
  fm::bench::HeadlessServices services{"fm-search-bench", loop};
  std::shared_ptr<fm::testing::ScriptedMessageComponent> messages =
      std::make_shared<fm::testing::ScriptedMessageComponent>();

 private:
  Host() {
    fm::MessageComponent::SetFactory([m = messages] { return m; });
  }
};

// A troop's inventory as the server sends it: every form type, ranges held by the
// troop or assigned to its officers, in every status a search shows.
std::shared_ptr<fm::Recordset> ReplyRanges() {
  static const std::array<const char*, 10> kFormTypes = {"C", "M", "V", "O", "T",
                                                         "R", "B", "Y", "Z", "K"};
  static const std::array<const char*, 6> kStatuses = {"A", "A", "A", "U", "R", "L"};
  auto rows = std::make_shared<fm::Recordset>(*fm::TemplateFields(fm::kTroopFormTemplate));
  for (long i = 0; i < kReplyRanges; ++i) {
    rows->AddNew();
    rows->SetValue("TRP_ID", "C");
    rows->SetValue("TRP_DIST_ID", "4");
    rows->SetValue("FORM_TYP_CD", kFormTypes[static_cast<std::size_t>(i) % kFormTypes.size()]);
    const std::int64_t from = 1100001 + i * 100;
    rows->SetValue("FRM_FORM_NBR", from);
    rows->SetValue("TO_FORM_NBR", from + 99);
    // Two ranges in three are assigned, to the region's 160 officers in turn.
    rows->SetValue("ASGND_REG_NBR", i % 3 == 2 ? std::int64_t{0} : std::int64_t{1001 + i % 160});
    rows->SetValue("TRP_ACTN_CD", kStatuses[static_cast<std::size_t>(i) % kStatuses.size()]);
    rows->SetValue("RMNG_FORM_CNT", std::int64_t{100 - i % 100});
    rows->Update();
  }
  return rows;
}

std::shared_ptr<fm::Recordset> ReplyOfficers() {
  auto rows = std::make_shared<fm::Recordset>(*fm::TemplateFields(fm::kOfficerTemplate));
  for (std::int64_t id = 1001; id < 1021; ++id) {
    rows->AddNew();
    rows->SetValue("INSP_ID", id);
    rows->SetValue("INSP_NME_LST", "Officer" + std::to_string(id));
    rows->SetValue("INSP_NME_FRST", "First");
    rows->SetValue("INSP_NME_MDL_INT", "Q");
    rows->Update();
  }
  return rows;
}

std::unique_ptr<fm::TARVO_FormsMaint> SearchingDocument() {
  auto document = std::make_unique<fm::TARVO_FormsMaint>();
  document->SetParentWindow("Forms Maintenance", "FORMSMAINT");
  document->UserDocument_Show();
  document->txtBox(0).SetText("C4");
  auto& combo = document->qmCboFormTypes;
  for (std::size_t i = 0; i < combo.Entries().size(); ++i) {
    if (combo.Entries()[i].code == "C") combo.SetSelectedIndex(static_cast<int>(i));
  }
  document->ProcessCmdButtonSearchClick();
  return document;
}

void CheckFilled(benchmark::State& state, fm::TARVO_FormsMaint& document) {
  auto& grid = document.grdFormsAssignment;
  if (grid.RowCount() != kReplyRanges || grid.LoadedRowCount() != kRowsOnScreen ||
      grid.CellTextAt(0, "ASSIGNED_TO") != "1001:HARTLEY,MARGARET,A" ||
      grid.CellTextAt(kRowsOnScreen - 1, "FORM_TYPE").empty() ||
      Host::Get().services.SawTrouble()) {
    state.SkipWithError("the grid was not filled as the screen shows it");
  }
}

void ReportPerRow(benchmark::State& state) {
  state.counters["per_row"] =
      benchmark::Counter(static_cast<double>(state.iterations() * kRowsOnScreen),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// A document that has searched before: its officer look-up set is already read.
void BM_DecodedReplyToFirstRows(benchmark::State& state) {
  Host& host = Host::Get();
  const auto ranges = ReplyRanges();
  const auto officers = ReplyOfficers();
  auto document = SearchingDocument();
  document->GetOfcrName(1001);
  for (auto _ : state) {
    host.messages->ReplyOk(document->RequestId(), {{"TROOPFORM", ranges}, {"OFFICER", officers}});
    host.loop->ProcessPendingEvents();  // DataReady
    document->grdFormsAssignment.LoadRows(0, kRowsOnScreen);
  }
  CheckFilled(state, *document);
  ReportPerRow(state);
}
BENCHMARK(BM_DecodedReplyToFirstRows)->Unit(benchmark::kMillisecond);

// The first search of a new document: the officer look-up set is read within the cycle.
// Only making the document (and closing the one before, as the host does) is not timed.
void BM_DecodedReplyToFirstRowsNewDocument(benchmark::State& state) {
  Host& host = Host::Get();
  const auto ranges = ReplyRanges();
  const auto officers = ReplyOfficers();
  std::unique_ptr<fm::TARVO_FormsMaint> document;
  for (auto _ : state) {
    state.PauseTiming();
    // Closed as the host closes a document: its replies leave the reply store, which would
    // otherwise grow by a reply a run.
    if (document) document->BeforeUnload();
    document.reset();
    document = SearchingDocument();
    state.ResumeTiming();
    host.messages->ReplyOk(document->RequestId(), {{"TROOPFORM", ranges}, {"OFFICER", officers}});
    host.loop->ProcessPendingEvents();
    document->grdFormsAssignment.LoadRows(0, kRowsOnScreen);
  }
  CheckFilled(state, *document);
  ReportPerRow(state);
}
BENCHMARK(BM_DecodedReplyToFirstRowsNewDocument)->Unit(benchmark::kMillisecond);

// The rows alone, after the reply is bound: what scrolling to 40 new rows costs.
void BM_LoadFortyRows(benchmark::State& state) {
  Host& host = Host::Get();
  const auto ranges = ReplyRanges();
  auto document = SearchingDocument();
  host.messages->ReplyOk(document->RequestId(), {{"TROOPFORM", ranges}});
  host.loop->ProcessPendingEvents();
  auto& grid = document->grdFormsAssignment;
  for (auto _ : state) {
    state.PauseTiming();
    grid.Refresh();  // forgets the computed cells, so the rows load again
    state.ResumeTiming();
    grid.LoadRows(0, kRowsOnScreen);
  }
  CheckFilled(state, *document);
  ReportPerRow(state);
}
BENCHMARK(BM_LoadFortyRows)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

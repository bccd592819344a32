// The assignment grid showing a search reply: binding the reply's record set and loading
// the first screenful (40 rows) with a row-loaded handler that fills three computed cells,
// as the view does when the reply arrives. The cost should not depend on how many rows the
// reply holds: rows never displayed are never loaded.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "controls/DataControl.h"
#include "controls/DataGrid.h"
#include "controls/Form.h"
#include "platform/DataSetTemplates.h"
#include "platform/Recordset.h"

namespace fm {
namespace {

constexpr long kScreenRows = 40;

std::shared_ptr<Recordset> MakeReply(long rows) {
  auto rs = std::make_shared<Recordset>(*TemplateFields(kTroopFormTemplate));
  for (long i = 0; i < rows; ++i) {
    rs->AddNew();
    rs->SetValue("TRP_ID", "A");
    rs->SetValue("TRP_DIST_ID", "12");
    rs->SetValue("FORM_TYP_CD", "C");
    rs->SetValue("FRM_FORM_NBR", static_cast<std::int64_t>(1000000 + i * 100));
    rs->SetValue("TO_FORM_NBR", static_cast<std::int64_t>(1000099 + i * 100));
    rs->SetValue("ASGND_REG_NBR", static_cast<std::int64_t>(i % 500));
    rs->SetValue("TRP_ACTN_CD", "A");
    rs->SetValue("RMNG_FORM_CNT", 100);
    rs->Update();
  }
  rs->MoveFirst();
  return rs;
}

struct Screen {
  Form form{"TARVO_FormsMaint"};
  DataControl& ado = form.Add<DataControl>("adoFormsAssignment");
  DataGrid& grid = form.Add<DataGrid>("grdFormsAssignment");

  Screen() {
    grid.AddColumn("Troop/District", "TroopDistrict");
    grid.AddColumn("Account Type", "Form_Type");
    grid.AddColumn("Form Type", "FORM_TYP_CD", "FORM_TYP_CD", false);
    grid.AddColumn("From Range", "FRM_FORM_NBR", "FRM_FORM_NBR");
    grid.AddColumn("To Range", "TO_FORM_NBR", "TO_FORM_NBR");
    grid.AddColumn("Status", "TRP_ACTN_CD", "TRP_ACTN_CD", false);
    grid.AddColumn("Assigned To", "ASGND_REG_NBR", "ASGND_REG_NBR", false);
    grid.AddColumn("Assigned To", "ASSIGNED_TO");
    grid.AddColumn("Remaining Forms", "RMNG_FORM_CNT", "RMNG_FORM_CNT");
    grid.AddColumn("TRP_ID", "TRP_ID", "TRP_ID", false);
    grid.AddColumn("TRP_DIST_ID", "TRP_DIST_ID", "TRP_DIST_ID", false);
    grid.AddColumn("Comment", "TRP_FORM_CMMT_TXT", "TRP_FORM_CMMT_TXT");
    grid.SetDataSource(&ado);
    grid.RowLoaded.Connect([this](DataGrid::Bookmark row) {
      const std::string troop = grid.CellText(row, "TRP_ID");
      const std::string district = grid.CellText(row, "TRP_DIST_ID");
      grid.SetCell(row, "TROOPDISTRICT", troop + district);
      grid.SetCell(row, "ASSIGNED_TO", grid.CellText(row, "ASGND_REG_NBR") + ":NAME");
      grid.SetCell(row, "FORM_TYPE", "ENF001 Citation");
    });
  }

  // What the view does for one screenful: load the rows, then read every cell.
  std::size_t ShowFirstRows() {
    grid.LoadRows(0, kScreenRows);
    std::size_t characters = 0;
    const long rows = std::min(kScreenRows, grid.RowCount());
    for (long row = 0; row < rows; ++row) {
      for (int column = 0; column < grid.ColumnCount(); ++column) {
        characters += grid.CellTextAt(row, column).size();
      }
    }
    return characters;
  }
};

// A reply arrives: re-bind and show the first screenful.
void BM_BindReplyAndShowFirstRows(benchmark::State& state) {
  Screen screen;
  const auto reply = MakeReply(state.range(0));
  reply->RecordCount();  // the record set's own view, built once when the reply is read
  for (auto _ : state) {
    screen.ado.SetRecordset(reply);
    benchmark::DoNotOptimize(screen.ShowFirstRows());
  }
  state.counters["rows_loaded"] = static_cast<double>(screen.grid.LoadedRowCount());
}
BENCHMARK(BM_BindReplyAndShowFirstRows)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

// Repainting a screenful already loaded: cell reads only, no row-loaded handler.
void BM_RepaintLoadedRows(benchmark::State& state) {
  Screen screen;
  screen.ado.SetRecordset(MakeReply(state.range(0)));
  screen.ShowFirstRows();
  for (auto _ : state) benchmark::DoNotOptimize(screen.ShowFirstRows());
}
BENCHMARK(BM_RepaintLoadedRows)->Arg(10000)->Unit(benchmark::kMicrosecond);

// The row-loaded handler's reads by bookmark (CellText), which the screen's handlers use.
void BM_CellTextByBookmark(benchmark::State& state) {
  Screen screen;
  screen.ado.SetRecordset(MakeReply(state.range(0)));
  const auto bookmark = screen.grid.BookmarkAt(state.range(0) / 2);
  for (auto _ : state) {
    benchmark::DoNotOptimize(screen.grid.CellText(bookmark, "FRM_FORM_NBR"));
  }
}
BENCHMARK(BM_CellTextByBookmark)->Arg(100)->Arg(10000);

}  // namespace
}  // namespace fm

BENCHMARK_MAIN();

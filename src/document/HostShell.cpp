// What the host shell reads of the grids (the range and the trooper the clerk has selected,
// the troopers listed, what each grid shows) and the new ranges it gives back after a
// desktop that died, so that the shell never reaches into a grid.

#include "base/Numbers.h"
#include "base/Text.h"
#include "common/FormsMaintBas.h"
#include "controls/DataControl.h"
#include "controls/DataGrid.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/DataSet.h"
#include "platform/ErrorTrap.h"

namespace fm {

namespace {

TARVO_FormsMaint::Trooper TrooperAt(const DataGrid& grid, Recordset::Bookmark row) {
  TARVO_FormsMaint::Trooper t;
  t.registry = text::WholeNumber(grid.BoundText(row, "INSP_ID")).value_or(0);
  t.name = ProperName(grid.BoundText(row, "INSP_NME_LST"), grid.BoundText(row, "INSP_NME_FRST"),
                      grid.BoundText(row, "INSP_NME_MDL_INT"), "");
  t.troop = text::Trim(grid.BoundText(row, "DIST_ID"));
  t.district = text::Trim(grid.BoundText(row, "SUB_DIST_ID"));
  return t;
}

}  // namespace

std::optional<TARVO_FormsMaint::Range> TARVO_FormsMaint::SelectedRange() const {
  std::optional<Range> range;
  Trap("TARVO_FormsMaint.SelectedRange", [&] {
    const DataGrid& grid = grdFormsAssignment;
    if (grid.SelectedCount() == 0 || !grid.RecordsetPtr()) return;
    const auto row = grid.SelectedBookmarks().front();
    const auto from = text::WholeNumber(grid.BoundText(row, "FRM_FORM_NBR"));
    const auto to = text::WholeNumber(grid.BoundText(row, "TO_FORM_NBR"));
    if (from && to) range = Range{text::Trim(grid.BoundText(row, "FORM_TYP_CD")), *from, *to};
  });
  return range;
}

std::optional<TARVO_FormsMaint::Trooper> TARVO_FormsMaint::SelectedTrooper() const {
  std::optional<Trooper> trooper;
  Trap("TARVO_FormsMaint.SelectedTrooper", [&] {
    const DataGrid& grid = grdOfficerList;
    if (!grid.RecordsetPtr()) return;
    if (grid.SelectedCount() > 0) {
      trooper = TrooperAt(grid, grid.SelectedBookmarks()[0]);
    } else if (grid.HasCurrentRow()) {
      trooper = TrooperAt(grid, grid.CurrentBookmark());
    }
  });
  return trooper;
}

std::vector<TARVO_FormsMaint::Trooper> TARVO_FormsMaint::ListedTroopers() const {
  std::vector<Trooper> troopers;
  Trap("TARVO_FormsMaint.ListedTroopers", [&] {
    for (long i = 0; i < grdOfficerList.RowCount(); ++i) {
      troopers.push_back(TrooperAt(grdOfficerList, grdOfficerList.BookmarkAt(i)));
    }
  });
  return troopers;
}

TARVO_FormsMaint::GridRows TARVO_FormsMaint::Rows(Grid which) const {
  const DataGrid& grid = which == Grid::FormsAssignment ? grdFormsAssignment
                         : which == Grid::OfficerList   ? grdOfficerList
                                                        : grdNewForms;
  return {grid.RecordsetPtr(), grid.RowCount(), grid.IsShown(), grid.DataVersion()};
}

void TARVO_FormsMaint::RestoreNewForms(const Recordset& rows) {
  Trap("TARVO_FormsMaint.RestoreNewForms", [&] {
    const std::shared_ptr<DataSet> dataSet = mData.mNewForms;
    if (!dataSet) return;
    Recordset& target = dataSet->GetRecordset();
    const auto& fields = rows.Fields();
    for (long i = 0; i < rows.RecordCount(); ++i) {
      target.AddNew();
      for (std::size_t f = 0; f < fields.size(); ++f) {
        if (target.FindField(fields[f].name) >= 0) {
          target.SetValue(fields[f].name, rows.ValueAt(i, static_cast<int>(f)));
        }
      }
      target.Update();
    }
    // What Add Forms leaves behind for the save: the last range's station and form type.
    mSearch.mLastSearch.troop = target.GetText("TRP_ID");
    mSearch.mLastSearch.district = target.GetText("TRP_DIST_ID");
    mSearch.mLastSearch.formType = text::Trim(target.GetText("FORM_TYP_CD"));
    adoNewForms.SetRecordset(dataSet->RecordsetPtr());
    EnableSaveToolbarItem();
  });
}

}  // namespace fm

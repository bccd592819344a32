// Assign, unassign and void: the document's side of the assignment dialog. The selected
// range goes to frmUnAssignForms as a parameter text; the change rows it makes are sent
// with a requery, whose reply refills the grids.

#include <memory>
#include <string>
#include <vector>

#include "assignment/frmUnAssignForms.h"
#include "base/Text.h"
#include "common/MessageTitle.h"
#include "common/ParameterText.h"
#include "controls/DataGrid.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/DataSet.h"
#include "platform/ErrorTrap.h"
#include "platform/PlatformError.h"
#include "platform/Services.h"
#include "platform/UiServices.h"

namespace fm {

namespace {

constexpr std::int16_t kAssignButton = 2;
constexpr std::int16_t kChangeStatusButton = 3;

// The grid's current row, or its first selected row when the cursor stands on none, with
// its computed cells filled: a row the clerk selected but that was never drawn (or a row
// selected by code) has not been through the row-loaded handler yet.
DataGrid::Bookmark LoadedCurrentRow(DataGrid& grid) {
  DataGrid::Bookmark bookmark = 0;
  if (grid.HasCurrentRow()) {
    bookmark = grid.CurrentBookmark();
  } else if (grid.SelectedCount() > 0) {
    bookmark = grid.SelectedBookmarks().front();
  } else {
    throw PlatformError(PlatformError::kNoCurrentRow,
                        grid.Name() + " has no current row: select the row to work on");
  }
  grid.LoadRows(grid.IndexOf(bookmark), 1);
  return bookmark;
}

}  // namespace

void TARVO_FormsMaint::ProcessCmdButtonAssignUnAssignClick(std::int16_t& index) {
  Trap("TARVO_FormsMaint.ProcessCmdButtonAssignUnAssignClick", [&] {
    if (grdFormsAssignment.RowCount() == 0) RaiseEarlyExit();

    std::string flag;
    std::string officerName;
    std::string officerRegistry;
    if (index == kAssignButton) {
      // The officer list's selection is only looked at here: clicking an officer enables
      // nothing by itself.
      if (grdOfficerList.SelectedCount() == 0) {
        Services::Ui().MessageBox("Select an officer to assign the range of forms.",
                                  MsgBoxButtons::Ok, MsgBoxIcon::Exclamation, MessageTitle());
        RaiseEarlyExit();
      }
      flag = "ASSIGN";
      const DataGrid::Bookmark officer = LoadedCurrentRow(grdOfficerList);
      officerName = text::Trim(grdOfficerList.CellText(officer, "NAME"));
      officerRegistry = text::Trim(grdOfficerList.CellText(officer, "INSP_ID"));
    } else if (index == kChangeStatusButton) {
      flag = "UNASSIGN";
    } else {
      throw PlatformError(PlatformError::kGeneric,
                          "Command button " + std::to_string(index) +
                              " is neither Assign (2) nor Change Status (3)");
    }

    DataGrid& ranges = grdFormsAssignment;
    const DataGrid::Bookmark row = LoadedCurrentRow(ranges);
    const auto cell = [&](const char* key) { return text::Trim(ranges.CellText(row, key)); };
    std::string parameters = JoinParameterFields({
        officerName,
        officerRegistry,
        cell("FRM_FORM_NBR"),
        cell("TO_FORM_NBR"),
        cell("ASSIGNED_TO"),
        std::to_string(ranges.IndexOf(row)),
        cell("TRP_ID"),
        cell("TRP_DIST_ID"),
        cell("FORM_TYP_CD"),
        cell("TRP_FORM_CMMT_TXT"),
        cell("TRP_ACTN_CD"),
        cell("ASGND_REG_NBR"),
        cell("FORM_QTR_DT"),
        cell("FORM_YR_DT"),
    });

    auto dialog = std::make_unique<frmUnAssignForms>();
    dialog->SetNow([this] { return Now(); });
    dialog->LoadForm();
    dialog->SetState(flag, parameters);
    dialog->ShowModal();

    const std::shared_ptr<DataSet> changes = dialog->Recordset();
    if (changes && changes->RecordCount() > 0) {
      mSearch.mOrigin = "ProcessCmdButtonAssignUnAssignClick";
      SaveDataAndRequery(changes);
    }
    dialog->UnloadForm();
  });
}

}  // namespace fm

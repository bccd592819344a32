// What the assignment grids compute for each row they load, and the buttons that follow
// the selection of ranges.

#include <string>

#include "base/Text.h"
#include "common/FormsMaintBas.h"
#include "common/ScreenNumbers.h"
#include "controls/CommandButton.h"
#include "controls/DataGrid.h"
#include "controls/OptionButton.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/ErrorTrap.h"

namespace fm {

void TARVO_FormsMaint::grdFormsAssignment_Click() {
  Trap("TARVO_FormsMaint.grdFormsAssignment_Click", [&] {
    // The dialogs work on one range: several selected rows, or none, enable nothing.
    if (grdFormsAssignment.SelectedCount() != 1) {
      for (int index : {2, 3, 4}) cmdButton(index).SetEnabled(false);
      return;
    }
    const auto selected = grdFormsAssignment.SelectedBookmarks().front();
    grdFormsAssignment.SetCurrentBookmark(selected);
    const std::string registry = text::Trim(grdFormsAssignment.CellText(selected, "ASGND_REG_NBR"));
    const bool inactiveForms = optButton(2).Value();
    // Inactive ranges are not handed out; only an assigned range can be given a new status
    // in the other views, since unassigned ranges are delisted from the assignment dialog.
    cmdButton(2).SetEnabled(!inactiveForms);
    cmdButton(3).SetEnabled(inactiveForms || LeadingNumber(registry) != 0);
    cmdButton(4).SetEnabled(true);
  });
}

void TARVO_FormsMaint::grdFormsAssignment_RowLoaded(Recordset::Bookmark bookmark) {
  Trap("TARVO_FormsMaint.grdFormsAssignment_RowLoaded", [&] {
    DataGrid& grid = grdFormsAssignment;
    // The stored values, not what an earlier load may have shown in their place.
    const std::string registry = text::Trim(grid.BoundText(bookmark, "ASGND_REG_NBR"));
    std::string status = text::Trim(grid.BoundText(bookmark, "TRP_ACTN_CD"));
    const std::string troop = text::Trim(grid.BoundText(bookmark, "TRP_ID"));
    const std::string district = text::Trim(grid.BoundText(bookmark, "TRP_DIST_ID"));
    std::string formType = text::Trim(grid.BoundText(bookmark, "FORM_TYP_CD"));

    grid.SetCell(bookmark, "TROOPDISTRICT", troop + district);
    if (registry != "0" && !registry.empty()) {
      const std::string name = GetOfcrName(TextToInt32(registry, "registry number"));
      grid.SetCell(bookmark, "ASSIGNED_TO", registry + ":" + ProperName(name, "", "", ""));
    } else {
      // An unassigned range is held by its Troop/District.
      grid.SetCell(bookmark, "ASSIGNED_TO", troop + district);
    }
    grid.SetCell(bookmark, "FORM_TYPE", FormDescription(formType));
    grid.SetCell(bookmark, "TRP_ACTN_CD", DelistingDescription(status));
  });
}

void TARVO_FormsMaint::grdOfficerList_RowLoaded(Recordset::Bookmark bookmark) {
  Trap("TARVO_FormsMaint.grdOfficerList_RowLoaded", [&] {
    DataGrid& grid = grdOfficerList;
    const std::string first = text::Trim(grid.BoundText(bookmark, "INSP_NME_FRST"));
    const std::string middle = text::Trim(grid.BoundText(bookmark, "INSP_NME_MDL_INT"));
    const std::string last = text::Trim(grid.BoundText(bookmark, "INSP_NME_LST"));
    grid.SetCell(bookmark, "NAME", ProperName(last, first, middle, ""));
  });
}

}  // namespace fm

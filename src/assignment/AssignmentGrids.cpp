// The enabling of the Forms Assignment view's controls and the grids' font set-up.

#include "controls/CommandButton.h"
#include "controls/DataGrid.h"
#include "controls/GridStyleSet.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/ErrorTrap.h"

namespace fm {

void TARVO_FormsMaint::EnableFormsAssignmentControls(const std::string& mode, bool enable) {
  Trap("TARVO_FormsMaint.EnableFormsAssignmentControls", [&] {
    grdFormsAssignment.SetEnabled(enable);
    grdOfficerList.SetEnabled(enable);
    cmdButton(0).SetEnabled(enable);
    cmdButton(1).SetEnabled(enable);
    cmdButton(5).SetEnabled(enable);
    // The selection-dependent buttons follow only a full enabling; after a reply they wait
    // for the selection rule of the grid's click.
    const bool selectionFlag = mode == "FULL" ? enable : false;
    cmdButton(2).SetEnabled(selectionFlag);
    cmdButton(3).SetEnabled(selectionFlag);
    cmdButton(4).SetEnabled(selectionFlag);
  });
}

void TARVO_FormsMaint::SetGridBolding(DataGrid& grid) {
  Trap("TARVO_FormsMaint.SetGridBolding", [&] {
    grid.StyleSet("UNBOLD").SetBold(false);
    grid.SetFontBold(true);
    for (int i = 0; i < grid.ColumnCount(); ++i) {
      grid.Column(i).SetStyleSet("UNBOLD");
      grid.Column(i).SetHeadStyleSet("UNBOLD");
    }
  });
}

}  // namespace fm

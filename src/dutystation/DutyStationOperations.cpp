// Change Troop/District and Add Troopers: the document's side of the two dialogs.

#include <memory>
#include <string>
#include <vector>

#include "base/Text.h"
#include "common/MessageTitle.h"
#include "common/ParameterText.h"
#include "controls/DataControl.h"
#include "controls/DataGrid.h"
#include "controls/OfficerSelect.h"
#include "document/TARVO_FormsMaint.h"
#include "dutystation/frmAddOfficer.h"
#include "dutystation/frmChangeDutyStation.h"
#include "platform/DataSet.h"
#include "platform/ErrorTrap.h"
#include "platform/PlatformError.h"
#include "platform/Recordset.h"
#include "platform/Services.h"
#include "platform/UiServices.h"

namespace fm {

namespace {

// The selected range as the Change Troop/District dialog takes it: from, to, the
// "Assigned To" text as shown, troop, district, form type, comment, and the quarter and
// year of a quarterly range.
//
// A comment may hold "~", the separator of the parameter text. The fields are escaped as
// they are joined (ParameterText.h) and the dialog undoes it, so every value reaches the
// dialog whole while the text keeps its one-line form.
std::string ChangeParameters(DataGrid& grid) {
  // The current row is the selected one (the grid's click makes it so); should the cursor
  // have moved off every row since, the selection still says which range the clerk means.
  const Recordset::Bookmark row = grid.HasCurrentRow() || grid.SelectedCount() == 0
                                      ? grid.CurrentBookmark()
                                      : grid.SelectedBookmarks().front();
  // The "Assigned To" text is computed when the grid loads the row; a row the view has not
  // shown yet is loaded here (a loaded row is not loaded again).
  grid.LoadRows(grid.IndexOf(row), 1);
  const auto trimmed = [&](const char* key) { return text::Trim(grid.CellText(row, key)); };
  const std::string formType = trimmed("FORM_TYP_CD");
  const bool quarterly = formType == "Y";
  return JoinParameterFields({
      trimmed("FRM_FORM_NBR"),
      trimmed("TO_FORM_NBR"),
      trimmed("ASSIGNED_TO"),
      trimmed("TRP_ID"),
      trimmed("TRP_DIST_ID"),
      formType,
      trimmed("TRP_FORM_CMMT_TXT"),
      quarterly ? grid.CellText(row, "FORM_QTR_DT") : std::string(),
      quarterly ? grid.CellText(row, "FORM_YR_DT") : std::string(),
  });
}

}  // namespace

void TARVO_FormsMaint::ProcessCmdButtonChangeTroopDistrictClick() {
  Trap("TARVO_FormsMaint.ProcessCmdButtonChangeTroopDistrictClick", [&] {
    if (grdFormsAssignment.RowCount() == 0) RaiseEarlyExit();
    if (grdFormsAssignment.SelectedCount() == 0) {
      Services::Ui().MessageBox("Select a range of forms before changing the Troop/District.",
                                MsgBoxButtons::Ok, MsgBoxIcon::Exclamation, MessageTitle());
      RaiseEarlyExit();
    }

    auto dialog = std::make_unique<frmChangeDutyStation>();
    dialog->SetNow([this] { return Now(); });
    dialog->LoadForm();
    std::string parameters = ChangeParameters(grdFormsAssignment);
    dialog->PassParameters(parameters);
    dialog->ShowModal();

    std::shared_ptr<DataSet> change = dialog->Recordset();
    mSearch.mOrigin = "ProcessCmdButtonChangeTroopDistrictClick";
    // Nothing is sent when the dialog was closed without a change row.
    SaveDataAndRequery(change);
    dialog->UnloadForm();
  });
}

void TARVO_FormsMaint::ProcessCmdButtonAddOfficersClick() {
  Trap("TARVO_FormsMaint.ProcessCmdButtonAddOfficersClick", [&] {
    // A dialog left from an earlier click (hidden after OK) lets go of its data first.
    if (mEventAddOfficer) mEventAddOfficer->UnloadForm();

    auto dialog = std::make_shared<frmAddOfficer>();
    mEventAddOfficer = dialog;
    dialog->SendOK.Connect(
        [this](std::shared_ptr<DataSet> added) { mEventAddOfficer_SendOK(std::move(added)); });
    dialog->LoadForm();
    dialog->SetOfficerList(mData.mOfficerList);
    dialog->qmOfficerSelect.Start();
    Services::Ui().DoEvents();
    dialog->ShowModal();
  });
}

void TARVO_FormsMaint::mEventAddOfficer_SendOK(std::shared_ptr<DataSet> addedOfficers) {
  Trap("TARVO_FormsMaint.mEventAddOfficer_SendOK", [&] {
    if (!addedOfficers || addedOfficers->RecordCount() == 0) return;
    if (!mData.mOfficerList) mData.mOfficerList = NewTemplateDataSet("OFFICER");

    Recordset& officers = mData.mOfficerList->GetRecordset();
    // Read through a clone: the dialog's grid keeps its current row.
    const auto received = addedOfficers->GetRecordset().Clone();
    for (received->MoveFirst(); !received->IsEOF(); received->MoveNext()) {
      const std::string registry = received->GetText("INSP_ID");
      bool notListed = true;
      if (officers.RecordCount() > 0) {
        officers.MoveFirst();
        notListed = !officers.Find("INSP_ID = " + registry);
      }
      if (!notListed) continue;
      // Listed until the next reply replaces the list; "TEMP" tells them from the
      // troopers the server knows at this station.
      officers.AddNew();
      officers.SetValue("INSP_ID", registry);
      officers.SetValue("INSP_NME_LST", received->GetText("INSP_NME_LST"));
      officers.SetValue("INSP_NME_FRST", received->GetText("INSP_NME_FRST"));
      officers.SetValue("INSP_NME_MDL_INT", received->GetText("INSP_NME_MDL_INT"));
      officers.SetValue("ACTION", "TEMP");
      officers.Update();
    }

    grdOfficerList.SetRedraw(false);
    officers.SetSort("INSP_NME_LST");
    adoOfficerList.SetRecordset(mData.mOfficerList->RecordsetPtr());
    grdOfficerList.Refresh();
    grdOfficerList.MoveFirst();
    grdOfficerList.SetRedraw(true);
  });
}

}  // namespace fm

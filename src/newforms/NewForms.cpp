// The New Forms view: recording the ranges a Troop/District has received, one row per
// range in the new-forms data set, until the host saves them.

#include <fmt/chrono.h>
#include <fmt/format.h>

#include "base/Text.h"
#include "common/MessageTitle.h"
#include "controls/CodesCombo.h"
#include "controls/DataControl.h"
#include "controls/DataGrid.h"
#include "controls/Label.h"
#include "controls/OptionButton.h"
#include "controls/TextBox.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/DataSet.h"
#include "platform/ErrorTrap.h"
#include "platform/Services.h"
#include "platform/UiServices.h"

namespace fm {

void TARVO_FormsMaint::ProcessCmdButtonAddFormsClick() {
  Trap("TARVO_FormsMaint.ProcessCmdButtonAddFormsClick", [&] {
    CheckEdit();
    if (!mEntry.mErrorMessages.empty()) {
      Services::Ui().MessageBox(mEntry.mErrorMessages, MsgBoxButtons::Ok, MsgBoxIcon::Exclamation,
                                MessageTitle());
      return;
    }
    if (text::Trim(txtBox(0).Text() + qmCboFormTypes.SelectedCode() + txtBox(2).Text() +
                   txtBox(3).Text())
            .empty()) {
      return;
    }
    if (!CheckEditRangeDuplicates()) return;

    txtBox(4).SetText(txtBox(4).Text() + CommentStamp());
    AddNewForms();
    EnableSaveToolbarItem();

    SetTroopCheckSuppressed(true);
    for (int i : {0, 1, 2, 3, 4}) txtBox(i).SetText("");
    qmCboFormTypes.SetSelectionFromText("");
    SetTroopCheckSuppressed(false);
  });
}

void TARVO_FormsMaint::AddNewForms() {
  Trap("TARVO_FormsMaint.AddNewForms", [&] {
    Recordset& rows = mData.mNewForms->GetRecordset();
    const std::string code = text::Trim(qmCboFormTypes.SelectedCode());
    rows.AddNew();
    try {
      rows.SetValue("ACTION", "ADD");
      rows.SetValue("FRM_FORM_NBR", text::Trim(txtBox(2).Text()));
      rows.SetValue("TO_FORM_NBR", text::Trim(txtBox(3).Text()));
      rows.SetValue("TRP_ID", mSearch.mCurrent.troop);
      rows.SetValue("TRP_DIST_ID", mSearch.mCurrent.district);
      rows.SetValue("FORM_TYP_CD", code);
      rows.SetValue("FORM_TYP_DESC", text::Trim(qmCboFormTypes.SelectedDescription()));
      rows.SetValue("ASGND_REG_NBR", "0");
      rows.SetValue("TRP_ACTN_CD", "A");
      if (qmCboFormTypes.SelectedCode() == "Y") {
        rows.SetValue("FORM_QTR_DT", txtBox(5).Text());
        rows.SetValue("FORM_YR_DT", txtBox(6).Text());
      }
      const std::string comment = text::Trim(txtBox(4).Text());
      rows.SetValue("TRP_FORM_CMMT_TXT", comment.empty() ? Value::Null() : Value(comment));
      rows.Update();
    } catch (...) {
      // A value the row cannot hold must not leave half a range waiting to be saved.
      rows.CancelUpdate();
      throw;
    }

    mSearch.mLastSearch.troop = rows.GetText("TRP_ID");
    mSearch.mLastSearch.district = rows.GetText("TRP_DIST_ID");
    mSearch.mLastSearch.formType = code;

    grdNewForms.SetRedraw(false);
    adoNewForms.SetRecordset(mData.mNewForms->RecordsetPtr());
    grdNewForms.Refresh();
    grdNewForms.SetRedraw(true);
  });
}

void TARVO_FormsMaint::ProcessCmdButtonRemoveFormsClick() {
  Trap("TARVO_FormsMaint.ProcessCmdButtonRemoveFormsClick", [&] {
    if (grdNewForms.SelectedCount() < 1) {
      Services::Ui().MessageBox("Please select a range to remove", MsgBoxButtons::Ok,
                                MsgBoxIcon::Exclamation, MessageTitle());
      return;
    }
    Recordset& rows = mData.mNewForms->GetRecordset();
    if (rows.RecordCount() >= 1) {
      // One row per command, the current one, however many are selected.
      rows.Delete();
      rows.UpdateBatch();
      if (rows.RecordCount() > 0) rows.MoveFirst();
    }
    EnableSaveToolbarItem();

    grdNewForms.SetRedraw(false);
    adoNewForms.SetRecordset(mData.mNewForms->RecordsetPtr());
    grdNewForms.Refresh();
    grdNewForms.SetRedraw(true);
  });
}

void TARVO_FormsMaint::qmCboFormTypes_Change() {
  Trap("TARVO_FormsMaint.qmCboFormTypes_Change", [&] {
    if (optButton(1).Value()) {
      txtBox(5).SetText(std::to_string(QuarterOfYear()));
      const std::tm today = fmt::localtime(std::chrono::system_clock::to_time_t(Now()));
      txtBox(6).SetText(fmt::format("{:%Y}", today));

      const bool quarterly = qmCboFormTypes.SelectedCode() == "Y";
      txtBox(5).SetVisible(quarterly);
      txtBox(6).SetVisible(quarterly);
      lblLabel(6).SetVisible(quarterly);
      lblLabel(7).SetVisible(quarterly);

      lblLabel(7).SetLeft(lblLabel(3).Left());
      txtBox(5).SetLeft(txtBox(2).Left());
      lblLabel(6).SetLeft(lblLabel(4).Left());
      txtBox(6).SetLeft(txtBox(3).Left());
    }

    const std::string code = text::ToUpper(text::Trim(qmCboFormTypes.SelectedCode()));
    if (code == "B" || code == "Y" || code == "Z") {
      txtBox(2).SetMaxLength(10);
      txtBox(3).SetMaxLength(10);
    } else {
      txtBox(2).SetText(txtBox(2).Text().substr(0, 7));
      txtBox(3).SetText(txtBox(3).Text().substr(0, 7));
      txtBox(2).SetMaxLength(7);
      txtBox(3).SetMaxLength(7);
    }
    EnableSearchButtons();
  });
}

void TARVO_FormsMaint::qmCboFormTypes_LostFocus() { CheckEdit(); }

std::int16_t TARVO_FormsMaint::QuarterOfYear() {
  std::int16_t quarter = 0;
  Trap("TARVO_FormsMaint.QuarterOfYear", [&] {
    const std::tm today = fmt::localtime(std::chrono::system_clock::to_time_t(Now()));
    const std::string date = fmt::format("{:%m/%d/%Y}", today);
    const int month = std::stoi(date.substr(0, 2));
    if (month < 4) {
      quarter = 1;
    } else if (month < 7) {
      quarter = 2;
    } else if (month < 10) {
      quarter = 3;
    } else if (month < 13) {
      quarter = 4;
    }
  });
  return quarter;
}

void TARVO_FormsMaint::grdNewForms_RowLoaded(Recordset::Bookmark bookmark) {
  Trap("TARVO_FormsMaint.grdNewForms_RowLoaded", [&] {
    grdNewForms.SetCell(bookmark, "TroopDistrict",
                        text::Trim(grdNewForms.BoundText(bookmark, "TRP_ID")) +
                            text::Trim(grdNewForms.BoundText(bookmark, "TRP_DIST_ID")));
  });
}

}  // namespace fm

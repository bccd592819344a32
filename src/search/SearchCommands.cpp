// The Search and Clear commands of the criteria area.

#include <string>

#include "base/Text.h"
#include "common/MessageTitle.h"
#include "controls/CodesCombo.h"
#include "controls/OptionButton.h"
#include "controls/TextBox.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/CommonUtility.h"
#include "platform/ErrorTrap.h"
#include "platform/HostFrame.h"
#include "platform/Services.h"
#include "platform/UiServices.h"

namespace fm {

namespace {

constexpr const char* kSearchSource = "TARVO_FormsMaint.ProcessCmdButtonSearchClick";

}  // namespace

void TARVO_FormsMaint::ProcessCmdButtonSearchClick() {
  Trap(kSearchSource, [&] {
    CheckEdit();

    const std::string troopDistrict = text::ToUpper(text::Trim(txtBox(0).Text()));
    const std::string formType = text::ToUpper(text::Trim(qmCboFormTypes.SelectedCode()));
    const std::string registry = text::Trim(txtBox(1).Text());
    const std::string formNumber = text::Trim(txtBox(7).Text());

    // The entry check makes no completeness demand of its own when a registry number alone
    // is given; a search must still say what it is looking for. Inactive Forms may search
    // by nothing at all.
    if (mEntry.mErrorMessages.empty() && troopDistrict.empty() && formType.empty() &&
        registry.empty() && formNumber.empty() && !optButton(2).Value()) {
      mEntry.mErrorMessages =
          std::string(
              "Please Enter a Troop/District and an Account Type and/or a Registry Number") +
          " to complete search criteria";
    }

    if (!mEntry.mErrorMessages.empty()) {
      Services::Ui().MessageBox(mEntry.mErrorMessages, MsgBoxButtons::Ok, MsgBoxIcon::Exclamation,
                                MessageTitle());
      return;
    }

    mSearch.mCurrent.formType = formType;
    mSearch.mCurrent.registry = registry;
    mSearch.mCurrent.formNumber = formNumber;
    // The split takes the box as it stands: only typed letters are upper-cased.
    TroopDistrictSplit();
    mSearch.mLastSearch = mSearch.mCurrent;
    mSearch.mOrigin.clear();
    QueryForms(33, nullptr);
    Services::Frame().SetStatusText("Requesting Assigned Forms and Officers");
  });
  Trap(kSearchSource, [] { Services::Ui().SetMousePointer(MousePointer::Default); });
}

void TARVO_FormsMaint::ProcessCmdButtonClearClick() {
  Trap("TARVO_FormsMaint.ProcessCmdButtonClearClick", [&] {
    // The quarter and year boxes keep their text: they belong to the new range being typed.
    for (int index : {0, 1, 2, 3, 4, 7}) txtBox(index).SetText("");
    qmCboFormTypes.SetSelectionFromText("");

    const CommonUtility& utility = Services::Utility();
    utility.ClearMark(txtBox(0));
    utility.ClearMark(qmCboFormTypes);
    for (int index : {1, 2, 3, 4, 7}) utility.ClearMark(txtBox(index));

    InitializeSearchVariables();
    // The new ranges of the New Forms view are kept until they are saved.
    if (optButton(0).Value() || optButton(2).Value()) {
      InitializeRecordSets();
      EnableFormsAssignmentControls("FULL", false);
    }
  });
}

}  // namespace fm

// The three view modes: Forms Assignment, New Forms and Inactive Forms. Each mode shows its
// own entries and frame, moves the range entries to where its row has room, and Forms
// Assignment and New Forms each give back the Troop/District and form type they showed
// when they were left.

#include "common/FormsMaintBas.h"
#include "controls/CodesCombo.h"
#include "controls/CommandButton.h"
#include "controls/DataGrid.h"
#include "controls/Frame.h"
#include "controls/Label.h"
#include "controls/OptionButton.h"
#include "controls/TextBox.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/ErrorTrap.h"

namespace fm {

namespace {

struct ModeVisibility {
  bool addForms;       // fraAddForms
  bool searchForms;    // fraSearchForms
  bool comments;       // lblLabel(5), txtBox(4)
  bool registry;       // lblLabel(2), txtBox(1)
  bool formNumber;     // lblLabel(8), txtBox(7)
  bool troopDistrict;  // lblLabel(0), txtBox(0)
  bool addButtons;     // cmdButton(7), cmdButton(6)
  bool searchButtons;  // cmdButton(0), cmdButton(1)
};

constexpr ModeVisibility kFormsAssignmentView{false, true, false, true, true, true, false, true};
constexpr ModeVisibility kNewFormsView{true, false, true, false, false, true, true, false};
constexpr ModeVisibility kInactiveFormsView{false, true, false, false, false, false, false, true};

}  // namespace

void TARVO_FormsMaint::optButton_Click(int index) {
  Trap("TARVO_FormsMaint.optButton_Click", [&] {
    DataGridColumn& status = grdFormsAssignment.Column("TRP_ACTN_CD");
    switch (index) {
      case 0:
        status.SetVisible(false);
        if (CurrentViewMode() == kInactiveForms) InitializeRecordSets();
        EnableSaveToolbarItem();
        SetCurrentViewMode(kFormsAssignment);
        ProcessOptFormsAssignmentClick();
        break;
      case 1:
        status.SetVisible(false);
        if (CurrentViewMode() == kInactiveForms) InitializeRecordSets();
        EnableSaveToolbarItem();
        SetCurrentViewMode(kNewForms);
        ProcessOptNewFormsClick();
        break;
      case 2:
        status.SetVisible(true);
        grdOfficerList.SetVisible(false);
        cmdButton(2).SetEnabled(false);
        EnableSaveToolbarItem();
        InitializeRecordSets();
        EnableSearchButtons();
        SetCurrentViewMode(kInactiveForms);
        ProcessOptInactiveFormsClick();
        break;
      default:
        break;
    }
    // Forms Assignment works with the officer grid; Inactive Forms hides it and no other
    // step shows it again, so the two searching views with officers bring it back.
    if (index == 0 || index == 1) grdOfficerList.SetVisible(true);

    CheckEdit();

    if (index == 1) {
      txtBox(5).SetVisible(qmCboFormTypes.SelectedCode() == "Y");
      txtBox(6).SetVisible(qmCboFormTypes.SelectedCode() == "Y");
      lblLabel(6).SetVisible(qmCboFormTypes.SelectedCode() == "Y");
      lblLabel(7).SetVisible(qmCboFormTypes.SelectedCode() == "Y");
    } else {
      txtBox(5).SetVisible(false);
      txtBox(6).SetVisible(false);
      lblLabel(6).SetVisible(false);
      lblLabel(7).SetVisible(false);
    }
  });
}

namespace {

void ApplyVisibility(TARVO_FormsMaint& d, const ModeVisibility& v) {
  for (Frame* frame : {&d.fraSelections, &d.fraAddForms, &d.fraSearchForms}) {
    frame->SetBorderStyle(Frame::BorderStyle::None);
  }
  d.fraAddForms.SetVisible(v.addForms);
  d.fraSearchForms.SetVisible(v.searchForms);
  d.lblLabel(5).SetVisible(v.comments);
  d.txtBox(4).SetVisible(v.comments);
  d.lblLabel(2).SetVisible(v.registry);
  d.txtBox(1).SetVisible(v.registry);
  d.lblLabel(8).SetVisible(v.formNumber);
  d.txtBox(7).SetVisible(v.formNumber);
  d.lblLabel(0).SetVisible(v.troopDistrict);
  d.txtBox(0).SetVisible(v.troopDistrict);
  d.cmdButton(7).SetVisible(v.addButtons);
  d.cmdButton(6).SetVisible(v.addButtons);
  d.cmdButton(0).SetVisible(v.searchButtons);
  d.cmdButton(1).SetVisible(v.searchButtons);
}

void SetRangeEntriesVisible(TARVO_FormsMaint& d, bool visible) {
  d.lblLabel(3).SetVisible(visible);
  d.txtBox(2).SetVisible(visible);
  d.lblLabel(4).SetVisible(visible);
  d.txtBox(3).SetVisible(visible);
}

}  // namespace

// The chain "From Range:" label, From box, "To Range:" label, To box, each starting where
// the one before it ends.
void TARVO_FormsMaint::LayOutRangeEntries(int fromLabelLeft) {
  lblLabel(3).SetLeft(fromLabelLeft);
  txtBox(2).SetLeft(lblLabel(3).Left() + lblLabel(3).Width());
  lblLabel(4).SetLeft(txtBox(2).Left() + txtBox(2).Width());
  txtBox(3).SetLeft(lblLabel(4).Left() + lblLabel(4).Width());
}

// The second row stands under the range entries.
void TARVO_FormsMaint::AlignQuarterAndYear() {
  lblLabel(7).SetLeft(lblLabel(3).Left());
  txtBox(5).SetLeft(txtBox(2).Left());
  lblLabel(6).SetLeft(lblLabel(4).Left());
  txtBox(6).SetLeft(txtBox(3).Left());
}

void TARVO_FormsMaint::ProcessOptNewFormsClick() {
  Trap("TARVO_FormsMaint.ProcessOptNewFormsClick", [&] {
    ApplyVisibility(*this, kNewFormsView);
    LayOutRangeEntries(lblLabel(2).Left());
    SetRangeEntriesVisible(*this, true);
    AlignQuarterAndYear();
    txtBox(2).SetText("");
    txtBox(3).SetText("");
    txtBox(4).SetText("");
    SwapCriteria("N");
    fraAddForms.SetTop(cmdButton(7).Top() + cmdButton(7).Height() + 100);
  });
}

void TARVO_FormsMaint::ProcessOptFormsAssignmentClick() {
  Trap("TARVO_FormsMaint.ProcessOptFormsAssignmentClick", [&] {
    ApplyVisibility(*this, kFormsAssignmentView);
    LayOutRangeEntries(txtBox(1).Left() + txtBox(1).Width());
    SetRangeEntriesVisible(*this, false);
    AlignQuarterAndYear();
    txtBox(1).SetText("");
    SwapCriteria("A");
    cmdButton(0).SetTop(txtBox(1).Top());
    cmdButton(1).SetTop(txtBox(1).Top());
    fraSearchForms.SetTop(optButton(2).Top() + optButton(2).Height() + 200);
  });
}

void TARVO_FormsMaint::ProcessOptInactiveFormsClick() {
  Trap("TARVO_FormsMaint.ProcessOptInactiveFormsClick", [&] {
    ApplyVisibility(*this, kInactiveFormsView);
    LayOutRangeEntries(txtBox(1).Left() + txtBox(1).Width());
    SetRangeEntriesVisible(*this, false);
    AlignQuarterAndYear();
    txtBox(0).SetText("");
    qmCboFormTypes.SetSelectionFromText("");
    txtBox(1).SetText("");
    cmdButton(0).SetTop(txtBox(1).Top());
    cmdButton(1).SetTop(txtBox(1).Top());
    fraSearchForms.SetTop(optButton(2).Top() + optButton(2).Height() + 200);
  });
}

// Each of Forms Assignment and New Forms gives back what the other one found on the screen
// when it was entered: the values shown now are set aside, the ones set aside before are
// shown.
void TARVO_FormsMaint::SwapCriteria(const char* marker) {
  const std::string troopDistrict = txtBox(0).Text();
  const std::string formType = qmCboFormTypes.SelectedDescription();
  if (!mViewMode.mModeMarker.empty()) {
    txtBox(0).SetText(mViewMode.mSavedTroopDistrict);
    qmCboFormTypes.SetSelectionFromText(mViewMode.mSavedFormType);
  }
  mViewMode.mModeMarker = marker;
  mViewMode.mSavedTroopDistrict = troopDistrict;
  mViewMode.mSavedFormType = formType;
}

}  // namespace fm

// The document's controls as designed: captions, sizes, positions (twips) and start states,
// the grid columns, and the wiring of the controls' events to the document's handlers.
//
// Positions that the view-mode procedures derive from others (the range entries, the
// Search and Clear buttons, the two lower frames) are laid out here where Forms Assignment
// puts them; the mode procedures move them from these sizes.

#include "controls/CodesCombo.h"
#include "controls/CommandButton.h"
#include "controls/DataControl.h"
#include "controls/DataGrid.h"
#include "controls/Frame.h"
#include "controls/Label.h"
#include "controls/OptionButton.h"
#include "controls/TextBox.h"
#include "document/TARVO_FormsMaint.h"

namespace fm {

namespace {

constexpr int kRow1Top = 120;
constexpr int kRow2Top = 480;
constexpr int kRow3Top = 1150;
constexpr int kBoxHeight = 288;
constexpr int kLabelHeight = 390;  // two lines: the narrow labels wrap ("Account" / "Type:")
constexpr int kButtonHeight = 375;
constexpr int kLabelDrop = 30;     // labels sit a little lower than their boxes' text

struct GridColumnDesign {
  const char* caption;
  const char* key;
  const char* field;  // empty: computed for each row
  bool visible;
  int width;
};

void AddColumns(DataGrid& grid, std::initializer_list<GridColumnDesign> columns) {
  for (const auto& c : columns) grid.AddColumn(c.caption, c.key, c.field, c.visible, c.width);
}

}  // namespace

void TARVO_FormsMaint::CreateControls() {
  SetCaption("Forms Maintenance");
  SetClientSize(19200, 9000);

  // --- Selections
  fraSelections.SetCaption("Selections");
  fraSelections.Move(120, 0, 2040, 795);
  const char* const optionCaptions[] = {"Forms Assignment", "New Forms", "Inactive Forms"};
  for (int i = 0; i < 3; ++i) {
    auto& option = Add<OptionButton>("optButton", i, &fraSelections);
    option.SetCaption(optionCaptions[i]);
    option.Move(120, 120 + 180 * i, 1800, 195);
    mOptButton[static_cast<std::size_t>(i)] = &option;
  }
  // optButton(2) sits at top 480, height 195: fraSearchForms is placed from it.
  mOptButton[0]->SetValue(true);

  // --- Entry area: labels and boxes
  for (int i = 0; i < 9; ++i) {
    mLblLabel[static_cast<std::size_t>(i)] = &Add<Label>("lblLabel", i);
  }
  for (int i = 0; i < 8; ++i) {
    mTxtBox[static_cast<std::size_t>(i)] = &Add<TextBox>("txtBox", i);
  }

  lblLabel(0).SetCaption("Troop / District:");
  lblLabel(0).Move(2220, kRow1Top, 780, kLabelHeight);
  txtBox(0).Move(3000, kRow1Top, 500, kBoxHeight);
  txtBox(0).SetMaxLength(3);

  lblLabel(1).SetCaption("Account Type:");
  lblLabel(1).Move(3600, kRow1Top, 720, kLabelHeight);
  qmCboFormTypes.Move(4320, kRow1Top, 2100, 315);
  qmCboFormTypes.SetCodeType("FORMTYPE");
  qmCboFormTypes.SetSourceSql("");
  qmCboFormTypes.SetValidateDesc(true);

  lblLabel(2).SetCaption("Registry #:");
  lblLabel(2).Move(6480, kRow1Top + kLabelDrop, 840, kLabelHeight);
  txtBox(1).Move(7320, kRow1Top, 600, kBoxHeight);
  txtBox(1).SetMaxLength(4);

  lblLabel(3).SetCaption("From Range:");
  lblLabel(3).Move(7920, kRow1Top + kLabelDrop, 615, kLabelHeight);
  txtBox(2).Move(8535, kRow1Top, 1400, kBoxHeight);
  txtBox(2).SetMaxLength(7);
  lblLabel(4).SetCaption("To Range:");
  lblLabel(4).Move(9935, kRow1Top + kLabelDrop, 615, kLabelHeight);
  txtBox(3).Move(10550, kRow1Top, 1400, kBoxHeight);
  txtBox(3).SetMaxLength(7);
  for (int i : {3, 4}) lblLabel(i).SetVisible(false);
  for (int i : {2, 3}) txtBox(i).SetVisible(false);

  lblLabel(8).SetCaption("Form Number:");
  lblLabel(8).Move(2220, kRow2Top, 780, kLabelHeight);
  txtBox(7).Move(3000, kRow2Top, 1400, kBoxHeight);
  txtBox(7).SetMaxLength(12);

  lblLabel(7).SetCaption("Qtr Year:");
  lblLabel(7).Move(7920, kRow2Top + kLabelDrop, 615, kLabelHeight);
  txtBox(5).Move(8535, kRow2Top, 400, kBoxHeight);
  txtBox(5).SetMaxLength(1);
  lblLabel(6).SetCaption("Year:");
  lblLabel(6).Move(9935, kRow2Top + kLabelDrop, 615, kLabelHeight);
  txtBox(6).Move(10550, kRow2Top, 700, kBoxHeight);
  txtBox(6).SetMaxLength(4);
  for (int i : {6, 7}) lblLabel(i).SetVisible(false);
  for (int i : {5, 6}) txtBox(i).SetVisible(false);

  lblLabel(5).SetCaption("Comments:");
  lblLabel(5).Move(2220, kRow3Top + kLabelDrop, 960, kLabelHeight);
  txtBox(4).Move(3180, kRow3Top, 7220, kBoxHeight);
  txtBox(4).SetMaxLength(254);
  txtBox(4).SetVisible(false);

  // --- Command buttons
  for (int i = 0; i < 8; ++i) {
    Control* parent = (i >= 2 && i <= 5) ? &fraSearchForms : nullptr;
    mCmdButton[static_cast<std::size_t>(i)] = &Add<CommandButton>("cmdButton", i, parent);
  }
  cmdButton(0).SetCaption("Search");
  cmdButton(0).Move(12100, kRow1Top, 1100, kButtonHeight);
  cmdButton(0).SetDefault(true);
  cmdButton(1).SetCaption("Clear");
  cmdButton(1).Move(13320, kRow1Top, 1100, kButtonHeight);
  cmdButton(7).SetCaption("Add Forms");
  cmdButton(7).Move(10560, kRow3Top, 1300, kButtonHeight);
  cmdButton(7).SetVisible(false);
  cmdButton(6).SetCaption("Remove Forms");
  cmdButton(6).Move(11980, kRow3Top, 1300, kButtonHeight);
  cmdButton(6).SetVisible(false);

  // --- Search Forms: the two assignment grids and their buttons
  fraSearchForms.SetCaption("Search Forms");
  fraSearchForms.Move(120, 875, 18960, 8000);
  grdFormsAssignment.SetCaption("Forms Assignment");
  grdFormsAssignment.Move(120, 240, 13200, 7080);
  grdOfficerList.SetCaption("Troop/District Assigned Troopers");
  grdOfficerList.Move(13440, 240, 5400, 7080);
  const int buttonsTop = 240 + 7080 + 120;
  cmdButton(2).SetCaption("Assign");
  cmdButton(2).Move(120, buttonsTop, 1500, kButtonHeight);
  cmdButton(3).SetCaption("Change Status");
  cmdButton(3).Move(1740, buttonsTop, 1500, kButtonHeight);
  cmdButton(4).SetCaption("Change Troop/District");
  cmdButton(4).Move(3360, buttonsTop, 2200, kButtonHeight);
  cmdButton(5).SetCaption("Add Troopers");
  cmdButton(5).Move(13440, buttonsTop, 1500, kButtonHeight);
  for (int i = 2; i <= 5; ++i) cmdButton(i).SetEnabled(false);

  // --- Add Forms: the new-forms grid
  fraAddForms.SetCaption("Add Forms");
  fraAddForms.Move(120, 1625, 18960, 7250);
  fraAddForms.SetVisible(false);
  grdNewForms.SetCaption("New Forms");
  grdNewForms.Move(120, 240, 18720, 6880);

  AddColumns(grdFormsAssignment, {
                                     {"Troop/District", "TroopDistrict", "", true, 2090},
                                     {"Account Type", "Form_Type", "", true, 2064},
                                     {"Form Type", "FORM_TYP_CD", "FORM_TYP_CD", false, 3200},
                                     {"From Range", "FRM_FORM_NBR", "FRM_FORM_NBR", true, 2037},
                                     {"To Range", "TO_FORM_NBR", "TO_FORM_NBR", true, 1852},
                                     {"Status", "TRP_ACTN_CD", "TRP_ACTN_CD", false, 3200},
                                     {"Assigned To", "ASGND_REG_NBR", "ASGND_REG_NBR", false, 3200},
                                     {"Action", "Action", "Action", false, 3200},
                                     {"Assigned To", "ASSIGNED_TO", "", true, 3440},
                                     {"Remaining Forms", "RMNG_FORM_CNT", "RMNG_FORM_CNT", true, 2381},
                                     {"TRP_ID", "TRP_ID", "TRP_ID", false, 3200},
                                     {"TRP_DIST_ID", "TRP_DIST_ID", "TRP_DIST_ID", false, 3200},
                                     {"Quarter Year", "FORM_QTR_DT", "FORM_QTR_DT", true, 1826},
                                     {"Year", "FORM_YR_DT", "FORM_YR_DT", true, 1058},
                                     {"Comment", "TRP_FORM_CMMT_TXT", "TRP_FORM_CMMT_TXT", true, 5239},
                                 });
  AddColumns(grdOfficerList, {
                                 {"DIST_ID", "DIST_ID", "DIST_ID", false, 3200},
                                 {"SUB_DIST_ID", "SUB_DIST_ID", "SUB_DIST_ID", false, 3200},
                                 {"Registry #", "INSP_ID", "INSP_ID", true, 3228},
                                 {"INSP_DUTY_STRT_DT", "INSP_DUTY_STRT_DT", "INSP_DUTY_STRT_DT", false, 3200},
                                 {"INSP_DUTY_END_DT", "INSP_DUTY_END_DT", "INSP_DUTY_END_DT", false, 3200},
                                 {"INSP_ASSN_DT_UPDT", "INSP_ASSN_DT_UPDT", "INSP_ASSN_DT_UPDT", false, 3200},
                                 {"Name", "NAME", "Name", true, 4657},
                                 {"Name", "INSP_NME_LST", "INSP_NME_LST", false, 3200},
                                 {"First Name", "INSP_NME_FRST", "INSP_NME_FRST", false, 3200},
                                 {"M I", "INSP_NME_MDL_INT", "INSP_NME_MDL_INT", false, 3200},
                                 {"USR_RACF_ID", "USR_RACF_ID", "USR_RACF_ID", false, 3200},
                                 {"ACTION", "ACTION", "ACTION", false, 3200},
                             });
  AddColumns(grdNewForms, {
                              {"Troop/District", "TroopDistrict", "", true, 1500},
                              {"TRP_ID", "TRP_ID", "TRP_ID", false, 1000},
                              {"TRP_DIST_ID", "TRP_DIST_ID", "TRP_DIST_ID", false, 1000},
                              {"Account Type", "FORM_TYP_DESC", "FORM_TYP_DESC", true, 3000},
                              {"From Range", "FRM_FORM_NBR", "FRM_FORM_NBR", true, 1800},
                              {"To Range", "TO_FORM_NBR", "TO_FORM_NBR", true, 1800},
                              {"Quarter Year", "FORM_QTR_DT", "FORM_QTR_DT", true, 1300},
                              {"Year", "FORM_YR_DT", "FORM_YR_DT", true, 900},
                              {"Comment", "TRP_FORM_CMMT_TXT", "TRP_FORM_CMMT_TXT", true, 8000},
                              {"FORM_TYP_CD", "FORM_TYP_CD", "FORM_TYP_CD", false, 1000},
                              {"TRP_ACTN_CD", "TRP_ACTN_CD", "TRP_ACTN_CD", false, 1000},
                              {"ACTION", "ACTION", "ACTION", false, 1000},
                          });
  grdFormsAssignment.SetDataSource(&adoFormsAssignment);
  grdOfficerList.SetDataSource(&adoOfficerList);
  grdNewForms.SetDataSource(&adoNewForms);

  // Tab order: the entry area as a clerk works through it, then the commands and grids.
  int tab = 0;
  for (Control* c : std::initializer_list<Control*>{
           mOptButton[0], mOptButton[1], mOptButton[2], mTxtBox[0], &qmCboFormTypes,
           mTxtBox[1], mTxtBox[2], mTxtBox[3], mTxtBox[7], mTxtBox[5], mTxtBox[6], mTxtBox[4],
           mCmdButton[0], mCmdButton[1], mCmdButton[7], mCmdButton[6], &grdFormsAssignment,
           &grdOfficerList, mCmdButton[2], mCmdButton[3], mCmdButton[4], mCmdButton[5],
           &grdNewForms}) {
    c->SetTabIndex(tab++);
  }
}

void TARVO_FormsMaint::ConnectEvents() {
  for (int i = 0; i < 3; ++i) {
    optButton(i).Click.Connect([this, i] { optButton_Click(i); });
  }
  for (int i = 0; i < 8; ++i) {
    cmdButton(i).Click.Connect([this, i] { cmdButton_Click(i); });
    txtBox(i).Change.Connect([this, i] { txtBox_Change(i); });
    txtBox(i).KeyPress.Connect([this, i](int& keyAscii) { txtBox_KeyPress(i, keyAscii); });
    txtBox(i).LostFocus.Connect([this, i] { txtBox_LostFocus(i); });
  }
  qmCboFormTypes.Change.Connect([this] { qmCboFormTypes_Change(); });
  qmCboFormTypes.LostFocus.Connect([this] { qmCboFormTypes_LostFocus(); });
  grdFormsAssignment.Click.Connect([this] { grdFormsAssignment_Click(); });
  grdFormsAssignment.RowLoaded.Connect(
      [this](Recordset::Bookmark bookmark) { grdFormsAssignment_RowLoaded(bookmark); });
  grdOfficerList.RowLoaded.Connect(
      [this](Recordset::Bookmark bookmark) { grdOfficerList_RowLoaded(bookmark); });
  grdNewForms.RowLoaded.Connect(
      [this](Recordset::Bookmark bookmark) { grdNewForms_RowLoaded(bookmark); });
  rszResizer.BeforeResize.Connect(
      [this](Control& control, Resizer::Settings& settings) {
        rszResizer_BeforeResize(control, settings);
      });
  rszResizer.ResizeComplete.Connect([this] { rszResizer_ResizeComplete(); });
}

}  // namespace fm

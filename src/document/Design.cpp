// The document's controls as designed: captions, sizes, positions (twips) and start states,
// the grid columns, and the wiring of the controls' events to the document's handlers.
//
// Positions that the view-mode procedures derive from others (the range entries, the
// Search and Clear buttons, the two lower frames) are laid out here where Forms Assignment
// puts them; the mode procedures move them from these sizes.

#include <algorithm>

#include "controls/CodesCombo.h"
#include "controls/CommandButton.h"
#include "controls/DataControl.h"
#include "controls/DataGrid.h"
#include "controls/Frame.h"
#include "controls/Label.h"
#include "controls/LayoutMetrics.h"
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
constexpr int kLabelDrop = 30;  // labels sit a little lower than their boxes' text

// Sizes and gaps the fitted layout keeps (FitLayout); the design values above are where it
// starts from.
constexpr int kMargin = 120;
constexpr int kBottomMargin = 125;
constexpr int kRowGap = 60;
constexpr int kEntryGap = 100;
constexpr int kButtonGap = 120;
constexpr int kLabelRoom = 90;
constexpr int kOptionWidth = 1800;
constexpr int kOptionHeight = 195;
constexpr int kComboHeight = 315;
constexpr int kComboWidth = 2100;
constexpr int kTroopBoxWidth = 500;
constexpr int kRegistryBoxWidth = 600;
constexpr int kRangeBoxWidth = 1400;
constexpr int kFormNumberBoxWidth = 1400;
constexpr int kQuarterBoxWidth = 400;
constexpr int kYearBoxWidth = 700;
constexpr int kCommentsBoxWidth = 7220;
constexpr int kSearchLeft = 12100;
constexpr int kSearchWidth = 1100;
constexpr int kAddFormsWidth = 1300;
constexpr int kGridButtonWidth = 1500;
constexpr int kChangeTroopWidth = 2200;
constexpr int kGridTop = 240;
// The resize policy: the ranges grid's share of the width the window gains or loses, and
// the least size of a grid (about five rows).
constexpr double kRangesGridShare = 0.75;
constexpr int kGridMinimumWidth = 4000;
constexpr int kGridMinimumHeight = 1500;

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
    // Each caption stands flush right against the box it names.
    lblLabel(i).SetAlignment(Label::Alignment::Right);
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

  AddColumns(grdFormsAssignment,
             {
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
  AddColumns(grdOfficerList,
             {
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
  // A click on the heading of a computed column sorts by the fields it is made from.
  grdFormsAssignment.Column("TroopDistrict").SetSortFields("TRP_ID, TRP_DIST_ID");
  grdFormsAssignment.Column("Form_Type").SetSortFields("FORM_TYP_CD");
  grdFormsAssignment.Column("ASSIGNED_TO").SetSortFields("ASGND_REG_NBR");
  grdOfficerList.Column("NAME").SetSortFields("INSP_NME_LST, INSP_NME_FRST, INSP_NME_MDL_INT");
  grdNewForms.Column("TroopDistrict").SetSortFields("TRP_ID, TRP_DIST_ID");
  grdFormsAssignment.SetDataSource(&adoFormsAssignment);
  grdOfficerList.SetDataSource(&adoOfficerList);
  grdNewForms.SetDataSource(&adoNewForms);

  // Tab order: the reading order of whatever the view mode shows.
  SetTabOrderFollowsLayout(true);
  SetUpResizer();
}

// The resize policy. The entry area keeps its place and size (its rows do not grow with
// the window); the frame below takes all the growth, and so do the grids in it: the ranges
// grid three quarters of the width, the troopers grid the rest. The command buttons under
// the grids move down with the frame's bottom and keep their place under their grid.
void TARVO_FormsMaint::SetUpResizer() {
  for (Control* control : Controls()) rszResizer.SetAnchors(*control, Anchors::Pinned());
  for (Control* control :
       std::initializer_list<Control*>{&fraSearchForms, &fraAddForms, &grdNewForms}) {
    rszResizer.SetAnchors(*control, Anchors::Stretch());
  }
  rszResizer.SetAnchors(grdFormsAssignment, {0.0, 0.0, kRangesGridShare, 1.0});
  rszResizer.SetAnchors(grdOfficerList, {kRangesGridShare, 0.0, 1.0, 1.0});
  for (int i : {2, 3, 4}) rszResizer.SetAnchors(cmdButton(i), {0.0, 1.0, 0.0, 1.0});
  rszResizer.SetAnchors(cmdButton(5), {kRangesGridShare, 1.0, kRangesGridShare, 1.0});
  SetGridMinimumSizes({});
}

// A grid is never smaller than a few rows, its caption bar, and, for the ranges grid, the
// buttons that stand under it.
void TARVO_FormsMaint::SetGridMinimumSizes(const GridCaptionWidths& captions) {
  const int buttonsWidth = cmdButton(4).Left() + cmdButton(4).Width() - grdFormsAssignment.Left();
  rszResizer.SetMinimumSize(grdFormsAssignment,
                            std::max({kGridMinimumWidth, buttonsWidth, captions.formsAssignment}),
                            kGridMinimumHeight);
  rszResizer.SetMinimumSize(
      grdOfficerList, std::max({kGridMinimumWidth / 2, cmdButton(5).Width(), captions.officerList}),
      kGridMinimumHeight);
  rszResizer.SetMinimumSize(grdNewForms, std::max(kGridMinimumWidth, captions.newForms),
                            kGridMinimumHeight);
}

// The design's sizes were made for one font. With the renderer's measures every caption
// gets the width it needs on one line, each label stands just before its box, centred on
// it, and the rows, frames and grids below move to make room; the positions the view-mode
// procedures work out (the range entries, Search and Clear, the two lower frames) come out
// of the same rules.
void TARVO_FormsMaint::FitLayout(const LayoutMetrics& metrics) {
  const auto fit = [&](const Control& control) { return metrics.FittingSize(control); };

  // Option buttons, one above the other, and their frame around them.
  int optionWidth = kOptionWidth;
  int optionHeight = kOptionHeight;
  for (int i = 0; i < 3; ++i) {
    optionWidth = std::max(optionWidth, fit(optButton(i)).width);
    optionHeight = std::max(optionHeight, fit(optButton(i)).height);
  }
  for (int i = 0; i < 3; ++i) {
    optButton(i).Move(kMargin, kMargin + i * optionHeight, optionWidth, optionHeight);
  }
  fraSelections.Move(kMargin, 0, optionWidth + 2 * kMargin,
                     optButton(2).Top() + optionHeight + kMargin);

  const int boxHeight = std::max(kBoxHeight, fit(txtBox(0)).height);
  const int comboHeight = std::max(kComboHeight, fit(qmCboFormTypes).height);
  int buttonHeight = kButtonHeight;
  for (int i = 0; i < 8; ++i) buttonHeight = std::max(buttonHeight, fit(cmdButton(i)).height);
  const auto buttonWidth = [&](int index, int design) {
    return std::max(design, fit(cmdButton(index)).width);
  };

  const int row1 = kRow1Top;
  const int row2 =
      std::max(kRow2Top, row1 + std::max({boxHeight, comboHeight, buttonHeight}) + kRowGap);
  const int row3 = std::max(kRow3Top, row2 + boxHeight + 2 * kRowGap);
  const int entryLeft = fraSelections.Left() + fraSelections.Width() + kRowGap;

  // A label just wide enough for its caption (and a little room before it, since the
  // captions are set flush right against their boxes), as high as the box it names.
  const auto labelWidth = [&](int index) { return fit(lblLabel(index)).width + kLabelRoom; };
  const auto placeLabel = [&](int index, int left, int width, int boxTop, int height) {
    lblLabel(index).Move(left, boxTop, width, std::max(height, fit(lblLabel(index)).height));
  };
  const auto rightOf = [](const Control& control) { return control.Left() + control.Width(); };

  // First row: Troop / District, Account Type, Registry #, and the range entries after it.
  placeLabel(0, entryLeft, labelWidth(0), row1, boxHeight);
  txtBox(0).Move(rightOf(lblLabel(0)), row1, kTroopBoxWidth, boxHeight);
  placeLabel(1, rightOf(txtBox(0)) + kEntryGap, labelWidth(1), row1, comboHeight);
  qmCboFormTypes.Move(rightOf(lblLabel(1)), row1, std::max(kComboWidth, fit(qmCboFormTypes).width),
                      comboHeight);
  placeLabel(2, rightOf(qmCboFormTypes) + kRowGap, labelWidth(2), row1, boxHeight);
  txtBox(1).Move(rightOf(lblLabel(2)), row1, kRegistryBoxWidth, boxHeight);
  // "Qtr Year:" and "Year:" stand under "From Range:" and "To Range:" in their columns.
  const int fromWidth = std::max(labelWidth(3), labelWidth(7));
  const int toWidth = std::max(labelWidth(4), labelWidth(6));
  placeLabel(3, 0, fromWidth, row1, boxHeight);
  placeLabel(4, 0, toWidth, row1, boxHeight);
  txtBox(2).Move(0, row1, kRangeBoxWidth, boxHeight);
  txtBox(3).Move(0, row1, kRangeBoxWidth, boxHeight);
  LayOutRangeEntries(rightOf(txtBox(1)));

  cmdButton(0).Move(std::max(kSearchLeft, rightOf(txtBox(1)) + kButtonGap), row1,
                    buttonWidth(0, kSearchWidth), buttonHeight);
  cmdButton(1).Move(rightOf(cmdButton(0)) + kButtonGap, row1, buttonWidth(1, kSearchWidth),
                    buttonHeight);

  // Second row: Form Number; Qtr Year and Year under the range entries.
  placeLabel(8, entryLeft, labelWidth(8), row2, boxHeight);
  txtBox(7).Move(rightOf(lblLabel(8)), row2, kFormNumberBoxWidth, boxHeight);
  placeLabel(7, 0, fromWidth, row2, boxHeight);
  placeLabel(6, 0, toWidth, row2, boxHeight);
  txtBox(5).Move(0, row2, kQuarterBoxWidth, boxHeight);
  txtBox(6).Move(0, row2, kYearBoxWidth, boxHeight);
  AlignQuarterAndYear();

  // Third row: Comments, Add Forms, Remove Forms.
  placeLabel(5, entryLeft, labelWidth(5), row3, boxHeight);
  txtBox(4).Move(rightOf(lblLabel(5)), row3, kCommentsBoxWidth, boxHeight);
  cmdButton(7).Move(rightOf(txtBox(4)) + kEntryGap + kRowGap, row3, buttonWidth(7, kAddFormsWidth),
                    buttonHeight);
  cmdButton(6).Move(rightOf(cmdButton(7)) + kButtonGap, row3, buttonWidth(6, kAddFormsWidth),
                    buttonHeight);

  // The two lower frames fill the rest of the form, from where the view-mode procedures
  // put them, so that switching modes moves nothing that the fit placed.
  const int width = ClientWidth() - 2 * kMargin;
  const int searchTop = optButton(2).Top() + optButton(2).Height() + 200;
  fraSearchForms.Move(kMargin, searchTop, width,
                      std::max(0, ClientHeight() - searchTop - kBottomMargin));
  const int gridHeight =
      std::max(0, fraSearchForms.Height() - kGridTop - buttonHeight - 2 * kMargin);
  const int officerWidth = grdOfficerList.Width();
  grdFormsAssignment.Move(kMargin, kGridTop, std::max(0, width - 3 * kMargin - officerWidth),
                          gridHeight);
  grdOfficerList.Move(rightOf(grdFormsAssignment) + kMargin, kGridTop, officerWidth, gridHeight);
  const int buttonsTop = kGridTop + gridHeight + kMargin;
  cmdButton(2).Move(kMargin, buttonsTop, buttonWidth(2, kGridButtonWidth), buttonHeight);
  cmdButton(3).Move(rightOf(cmdButton(2)) + kMargin, buttonsTop, buttonWidth(3, kGridButtonWidth),
                    buttonHeight);
  cmdButton(4).Move(rightOf(cmdButton(3)) + kMargin, buttonsTop, buttonWidth(4, kChangeTroopWidth),
                    buttonHeight);
  cmdButton(5).Move(grdOfficerList.Left(), buttonsTop, buttonWidth(5, kGridButtonWidth),
                    buttonHeight);

  const int addTop = cmdButton(7).Top() + cmdButton(7).Height() + 100;
  fraAddForms.Move(kMargin, addTop, width, std::max(0, ClientHeight() - addTop - kBottomMargin));
  grdNewForms.Move(kMargin, kGridTop, std::max(0, width - 2 * kMargin),
                   std::max(0, fraAddForms.Height() - kGridTop - kMargin));

  SetGridMinimumSizes(
      {fit(grdFormsAssignment).width, fit(grdOfficerList).width, fit(grdNewForms).width});
  // The grid has a new width, as after a resize: the Comment column follows it.
  rszResizer_ResizeComplete();
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
  rszResizer.BeforeResize.Connect([this](Control& control, Resizer::Settings& settings) {
    rszResizer_BeforeResize(control, settings);
  });
  rszResizer.ResizeComplete.Connect([this] { rszResizer_ResizeComplete(); });
}

}  // namespace fm

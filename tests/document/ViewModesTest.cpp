#include <gmock/gmock.h>

#include "common/FormsMaintBas.h"
#include "controls/CodesCombo.h"
#include "controls/CommandButton.h"
#include "controls/DataGrid.h"
#include "controls/Frame.h"
#include "controls/Label.h"
#include "controls/OptionButton.h"
#include "controls/TextBox.h"
#include "document/DocumentFixture.h"
#include "platform/DataSet.h"

namespace fm::testing {
namespace {

class ViewModesTest : public DocumentFixture {
 protected:
  void Choose(int option) { ASSERT_TRUE(document->optButton(option).Choose()); }

  struct Expected {
    bool addForms, searchForms, comments, registry, formNumber, troopDistrict, addButtons,
        searchButtons, range;
  };
  void ExpectVisibility(const Expected& e) {
    auto& d = *document;
    EXPECT_EQ(d.fraAddForms.Visible(), e.addForms);
    EXPECT_EQ(d.fraSearchForms.Visible(), e.searchForms);
    for (Control* c : std::initializer_list<Control*>{&d.lblLabel(5), &d.txtBox(4)})
      EXPECT_EQ(c->Visible(), e.comments) << c->Name();
    for (Control* c : std::initializer_list<Control*>{&d.lblLabel(2), &d.txtBox(1)})
      EXPECT_EQ(c->Visible(), e.registry) << c->Name();
    for (Control* c : std::initializer_list<Control*>{&d.lblLabel(8), &d.txtBox(7)})
      EXPECT_EQ(c->Visible(), e.formNumber) << c->Name();
    for (Control* c : std::initializer_list<Control*>{&d.lblLabel(0), &d.txtBox(0)})
      EXPECT_EQ(c->Visible(), e.troopDistrict) << c->Name();
    for (int i : {6, 7}) EXPECT_EQ(d.cmdButton(i).Visible(), e.addButtons) << i;
    for (int i : {0, 1}) EXPECT_EQ(d.cmdButton(i).Visible(), e.searchButtons) << i;
    for (Control* c : std::initializer_list<Control*>{&d.lblLabel(3), &d.txtBox(2), &d.lblLabel(4),
                                                      &d.txtBox(3)})
      EXPECT_EQ(c->Visible(), e.range) << c->Name();
    for (Frame* f : {&d.fraSelections, &d.fraAddForms, &d.fraSearchForms})
      EXPECT_EQ(f->GetBorderStyle(), Frame::BorderStyle::None);
  }
  void ExpectRangeLefts(int a, int b, int c, int e) {
    auto& d = *document;
    EXPECT_EQ(d.lblLabel(3).Left(), a);
    EXPECT_EQ(d.txtBox(2).Left(), b);
    EXPECT_EQ(d.lblLabel(4).Left(), c);
    EXPECT_EQ(d.txtBox(3).Left(), e);
    // The second row stands under the range entries.
    EXPECT_EQ(d.lblLabel(7).Left(), a);
    EXPECT_EQ(d.txtBox(5).Left(), b);
    EXPECT_EQ(d.lblLabel(6).Left(), c);
    EXPECT_EQ(d.txtBox(6).Left(), e);
  }
  bool QuarterAndYearShown() {
    auto& d = *document;
    const bool shown = d.txtBox(5).Visible();
    EXPECT_EQ(d.txtBox(6).Visible(), shown);
    EXPECT_EQ(d.lblLabel(6).Visible(), shown);
    EXPECT_EQ(d.lblLabel(7).Visible(), shown);
    return shown;
  }
  bool StatusColumnShown() { return document->grdFormsAssignment.Column("TRP_ACTN_CD").Visible(); }
};

TEST_F(ViewModesTest, EachModeShowsItsControlsAndLaysOutTheRangeEntries) {
  auto& d = ShowDocument();
  ExpectVisibility({false, true, false, true, true, true, false, true, false});
  ExpectRangeLefts(7920, 8535, 9935, 10550);
  EXPECT_EQ(d.fraSearchForms.Top(), 875);
  EXPECT_EQ(d.cmdButton(0).Top(), d.txtBox(1).Top());
  EXPECT_EQ(d.cmdButton(1).Top(), d.txtBox(1).Top());

  Choose(1);
  EXPECT_EQ(CurrentViewMode(), kNewForms);
  ExpectVisibility({true, false, true, false, false, true, true, false, true});
  ExpectRangeLefts(6480, 7095, 8495, 9110);
  EXPECT_EQ(d.fraAddForms.Top(), 1625);

  Choose(2);
  EXPECT_EQ(CurrentViewMode(), kInactiveForms);
  ExpectVisibility({false, true, false, false, false, false, false, true, false});
  ExpectRangeLefts(7920, 8535, 9935, 10550);
  EXPECT_FALSE(d.grdOfficerList.Visible());
  EXPECT_FALSE(d.cmdButton(2).Enabled());

  Choose(0);
  EXPECT_EQ(CurrentViewMode(), kFormsAssignment);
  ExpectVisibility({false, true, false, true, true, true, false, true, false});
  EXPECT_TRUE(d.grdOfficerList.Visible());
}

TEST_F(ViewModesTest, StatusColumnAndQuarterYearFollowTheMode) {
  auto& d = ShowDocument();
  EXPECT_FALSE(StatusColumnShown());
  EXPECT_FALSE(QuarterAndYearShown());

  Choose(1);
  d.qmCboFormTypes.SetSelectionFromText("CVSA Decals");
  ASSERT_EQ(d.qmCboFormTypes.SelectedCode(), "Y");
  EXPECT_TRUE(QuarterAndYearShown()) << "New Forms with the quarterly type";

  Choose(0);
  EXPECT_FALSE(StatusColumnShown());
  EXPECT_FALSE(QuarterAndYearShown());

  Choose(1);  // New Forms gets its decals back, and with them the quarter and year
  ASSERT_EQ(d.qmCboFormTypes.SelectedCode(), "Y");
  EXPECT_FALSE(StatusColumnShown());
  EXPECT_TRUE(QuarterAndYearShown());

  Choose(2);
  EXPECT_TRUE(StatusColumnShown());
  EXPECT_FALSE(QuarterAndYearShown());

  Choose(0);
  EXPECT_FALSE(StatusColumnShown());

  // New Forms with another type keeps them hidden.
  Choose(1);
  d.qmCboFormTypes.SetSelectionFromText("Seals");
  ASSERT_EQ(d.qmCboFormTypes.SelectedCode(), "Z");
  EXPECT_FALSE(QuarterAndYearShown());
}

TEST_F(ViewModesTest, EachModeGetsBackTheCriteriaItShowedWhenItWasLeft) {
  auto& d = ShowDocument();
  d.txtBox(0).SetText("A1");
  d.qmCboFormTypes.SetSelectionFromText("Seals");

  Choose(1);  // New Forms shows what was on the screen at first show: nothing
  EXPECT_EQ(d.txtBox(0).Text(), "");
  EXPECT_EQ(d.qmCboFormTypes.SelectedCode(), "");
  EXPECT_EQ(d.ModeMarker(), "N");

  d.txtBox(0).SetText("B2");
  d.qmCboFormTypes.SetSelectionFromText("CVSA Decals");
  Choose(0);
  EXPECT_EQ(d.txtBox(0).Text(), "A1");
  EXPECT_EQ(d.qmCboFormTypes.SelectedCode(), "Z");
  EXPECT_EQ(d.ModeMarker(), "A");

  Choose(1);
  EXPECT_EQ(d.txtBox(0).Text(), "B2");
  EXPECT_EQ(d.qmCboFormTypes.SelectedCode(), "Y");
}

TEST_F(ViewModesTest, InactiveFormsClearsTheCriteriaAndTheNextModeGetsTheSavedOnes) {
  auto& d = ShowDocument();
  d.txtBox(0).SetText("C4");
  d.qmCboFormTypes.SetSelectionFromText("Seals");
  d.txtBox(1).SetText("1005");

  Choose(2);
  const auto inactive = d.FormsAssignmentDataSet();
  EXPECT_EQ(d.txtBox(0).Text(), "");
  EXPECT_EQ(d.txtBox(1).Text(), "");
  EXPECT_EQ(d.qmCboFormTypes.SelectedCode(), "");
  EXPECT_EQ(d.ModeMarker(), "A") << "Inactive Forms leaves the marker alone";

  // The values set aside when Forms Assignment was entered at first show come back (empty),
  // and what Inactive Forms left becomes the saved values.
  d.qmCboFormTypes.SetSelectionFromText("Receipts");
  Choose(1);
  EXPECT_EQ(d.txtBox(0).Text(), "");
  EXPECT_EQ(d.qmCboFormTypes.SelectedCode(), "");
  EXPECT_EQ(d.SavedFormType(), "Receipts");
  EXPECT_EQ(d.SavedTroopDistrict(), "");

  // Leaving Inactive Forms rebuilds the record sets; the other two modes keep theirs.
  EXPECT_NE(d.FormsAssignmentDataSet(), inactive);
  const auto rebuilt = d.FormsAssignmentDataSet();
  Choose(0);
  EXPECT_EQ(d.FormsAssignmentDataSet(), rebuilt);
}

TEST_F(ViewModesTest, CommentColumnTakesTheWidthTheOtherColumnsLeave) {
  auto& d = ShowDocument();
  ASSERT_TRUE(d.rszResizer.Resize(d.ClientWidth() * 5 / 4, d.ClientHeight()));
  const auto& grid = d.grdFormsAssignment;
  // "Form Type", "From Range", "To Range" and the first "Assigned To" (hidden ones count).
  const int others = 3200 + 2037 + 1852 + 3200;
  EXPECT_EQ(grid.FindColumnByCaption("Comment")->Width(), grid.Width() - others);
  // The ranges grid takes three quarters of the width gained.
  EXPECT_EQ(grid.Width(), 13200 + 19200 / 4 * 3 / 4);
  // The entry area keeps its place and size.
  EXPECT_EQ(d.cmdButton(0).Width(), 1100);
  EXPECT_EQ(d.txtBox(0).Height(), 288);
}

}  // namespace
}  // namespace fm::testing

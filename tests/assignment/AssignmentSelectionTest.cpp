#include <tuple>

#include "search/SearchFixture.h"

namespace fm::testing {
namespace {

using ::testing::ElementsAre;

class AssignmentGridTest : public SearchFixture {
 protected:
  DataGrid& Forms() { return Doc().grdFormsAssignment; }
  std::string Cell(long row, const char* key) { return Forms().CellTextAt(row, key); }
};

TEST_F(AssignmentGridTest, RowsShowTheirOfficerOrTroopDistrictAndTheDescriptions) {
  SearchAndReply({{"C", "4", "C", 1100001, 1100100, Value(1002), "A", 37},
                  {"F", "10", "Y", 1, 500, Value(0), "R"},
                  {"F", "10", "B", 501, 900, Value(), ""},
                  {"F", "10", "K", 901, 950, Value(999), "E"}});
  Forms().LoadRows(0, 40);

  EXPECT_EQ(Cell(0, "TroopDistrict"), "C4");
  EXPECT_EQ(Cell(0, "ASSIGNED_TO"), "1002:SMITH, JR,JOHN,Q");
  EXPECT_EQ(Cell(0, "Form_Type"), "ENF001 Citation");
  EXPECT_EQ(Cell(0, "TRP_ACTN_CD"), "Activate");
  EXPECT_EQ(Forms().BoundText(Forms().BookmarkAt(0), "TRP_ACTN_CD"), "A");
  EXPECT_EQ(Cell(0, "RMNG_FORM_CNT"), "37");
  // An unassigned range is shown as held by its Troop/District.
  EXPECT_EQ(Cell(1, "ASSIGNED_TO"), "F10");
  EXPECT_EQ(Cell(1, "Form_Type"), "CVSA Decals");
  EXPECT_EQ(Cell(1, "TRP_ACTN_CD"), "Returned to Supply");
  EXPECT_EQ(Cell(2, "ASSIGNED_TO"), "F10");     // no registry at all
  EXPECT_EQ(Cell(2, "TRP_ACTN_CD"), "");        // no status code
  EXPECT_EQ(Cell(3, "ASSIGNED_TO"), "999:,,");  // a registry the officer table lacks
  EXPECT_EQ(Cell(3, "TRP_ACTN_CD"), "");        // a reason no longer in force
  EXPECT_TRUE(errors->Reports().empty());
}

TEST_F(AssignmentGridTest, RegistryBeyondThirtyTwoBitsIsReportedAndLeavesTheLookUpCells) {
  SearchAndReply({{"C", "4", "C", 1100001, 1100100, Value(std::int64_t{3000000000}), "V"}});
  Forms().LoadRows(0, 1);
  EXPECT_EQ(Cell(0, "TroopDistrict"), "C4");
  EXPECT_EQ(Cell(0, "ASSIGNED_TO"), "");
  EXPECT_EQ(Cell(0, "Form_Type"), "");
  EXPECT_EQ(Cell(0, "TRP_ACTN_CD"), "V");
  EXPECT_THAT(ReportSources(), ElementsAre("TARVO_FormsMaint.grdFormsAssignment_RowLoaded"));
}

// --- The buttons that follow the selection

// The rows selected: 0 held by an officer, 1 with registry 0, 2 with no registry at all.
enum Selection { None, Assigned, Unassigned, Blank, Two };
const std::vector<int> kSelectedRows[] = {{}, {0}, {1}, {2}, {0, 1}};

// view (option index), selection, Assign, Change Status, Change Troop/District
using SelectionCase = std::tuple<int, Selection, bool, bool, bool>;

class SelectionRuleTest : public SearchFixture,
                          public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(SelectionRuleTest, ButtonsFollowTheSelectedRange) {
  const auto [view, selection, assign, changeStatus, changeTroop] = GetParam();
  // Inactive Forms rebuilds the record sets, so its search comes after the switch; New
  // Forms keeps the rows of the Forms Assignment search.
  if (view == 2) Doc().optButton(2).Choose();
  SearchAndReply({{"C", "4", "C", 1100001, 1100100, Value(1001)},
                  {"C", "4", "C", 1100101, 1100200, Value(0)},
                  {"C", "4", "C", 1100201, 1100300, Value()}});
  if (view == 1) Doc().optButton(1).Choose();
  // Whatever an earlier rule left must not count.
  Doc().cmdButton(2).SetEnabled(!assign);
  Doc().cmdButton(3).SetEnabled(!changeStatus);
  Doc().cmdButton(4).SetEnabled(!changeTroop);

  DataGrid& grid = Doc().grdFormsAssignment;
  grid.ClearSelection();
  for (int row : kSelectedRows[selection]) grid.SelectRow(grid.BookmarkAt(row));
  Doc().grdFormsAssignment_Click();

  EXPECT_EQ(Doc().cmdButton(2).Enabled(), assign);
  EXPECT_EQ(Doc().cmdButton(3).Enabled(), changeStatus);
  EXPECT_EQ(Doc().cmdButton(4).Enabled(), changeTroop);
  if (grid.SelectedCount() == 1) {
    EXPECT_EQ(grid.CurrentBookmark(), grid.SelectedBookmarks().front());
  }
}

INSTANTIATE_TEST_SUITE_P(EachView, SelectionRuleTest,
                         ::testing::ValuesIn(std::vector<SelectionCase>{
                             {0, None, false, false, false},
                             {0, Assigned, true, true, true},
                             {0, Unassigned, true, false, true},
                             {0, Blank, true, false, true},
                             {0, Two, false, false, false},
                             {1, None, false, false, false},
                             {1, Assigned, true, true, true},
                             {1, Unassigned, true, false, true},
                             {1, Two, false, false, false},
                             {2, None, false, false, false},
                             {2, Assigned, false, true, true},
                             {2, Unassigned, false, true, true},
                             {2, Two, false, false, false}}));

}  // namespace
}  // namespace fm::testing

#include <gmock/gmock.h>

#include <chrono>

#include "assignment/ChangeRows.h"
#include "common/CommentStamp.h"
#include "controls/CodesCombo.h"
#include "controls/CommandButton.h"
#include "controls/DataGrid.h"
#include "controls/OptionButton.h"
#include "controls/TextBox.h"
#include "document/DocumentFixture.h"
#include "platform/DataSet.h"

namespace fm::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;

std::chrono::system_clock::time_point LocalDay(int year, int month, int day) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = 12;
  tm.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&tm));
}

class NewFormsTest : public DocumentFixture {
 protected:
  TARVO_FormsMaint& ShowNewForms() {
    auto& d = ShowDocument();
    d.SetNow([] { return LocalDay(2026, 5, 14); });
    EXPECT_TRUE(d.optButton(1).Choose());
    return d;
  }

  // Types an entry the way a clerk does and presses Add Forms.
  void Enter(const std::string& troopDistrict, const std::string& formType, const std::string& from,
             const std::string& to, const std::string& comment = {}) {
    auto& d = *document;
    d.txtBox(0).SetText(troopDistrict);
    d.qmCboFormTypes.SetSelectionFromText(formType);
    d.txtBox(2).SetText(from);
    d.txtBox(3).SetText(to);
    d.txtBox(4).SetText(comment);
    d.cmdButton(7).PerformClick();
  }

  Recordset& Rows() { return document->NewFormsDataSet()->GetRecordset(); }

  std::string Field(long row, const char* field) {
    Recordset& rows = Rows();
    rows.SetAbsolutePosition(row + 1);
    return rows.GetText(field);
  }
};

TEST_F(NewFormsTest, AddsARangeWithTheFieldsOfTheEntry) {
  auto& d = ShowNewForms();
  d.cmdButton(7).PerformClick();  // an untouched entry area adds nothing and says nothing
  EXPECT_EQ(Rows().RecordCount(), 0);
  Enter("A1", "ENF001 Citation", "1100001", "1100250", "Box 14");

  EXPECT_TRUE(ui->messages.empty());
  EXPECT_THAT(ReadChangeRows(Rows()),
              ElementsAre(ChangeRow{"ADD", "1100001", "1100250", "A", "1", "C", "0", "A",
                                    "Box 14" + CommentStamp(LocalDay(2026, 5, 14))}));
  EXPECT_EQ(Field(0, "FORM_TYP_DESC"), "ENF001 Citation");
  EXPECT_TRUE(Rows().GetValue("FORM_QTR_DT").IsNull());
  EXPECT_THAT(Field(0, "TRP_FORM_CMMT_TXT"), StartsWith("Box 14  (Margaret Hartley 05/14/2026"));

  // The entry area is emptied for the next range, without a Troop/District mark.
  for (int i : {0, 1, 2, 3, 4}) EXPECT_EQ(d.txtBox(i).Text(), "") << i;
  EXPECT_EQ(d.qmCboFormTypes.SelectedCode(), "");
  EXPECT_FALSE(d.txtBox(0).ErrorMark());
  EXPECT_FALSE(d.TroopCheckSuppressed());
  EXPECT_EQ(d.LastSearchCriteria().troop, "A");
  EXPECT_EQ(d.LastSearchCriteria().district, "1");
  EXPECT_EQ(d.LastSearchCriteria().formType, "C");

  d.grdNewForms.LoadRows(0, 10);
  EXPECT_EQ(d.grdNewForms.CellTextAt(0, "TroopDistrict"), "A1");
}

TEST_F(NewFormsTest, FormTypeSetsQuarterYearAndRangeLength) {
  auto& d = ShowNewForms();
  d.qmCboFormTypes.SetSelectionFromText("CVSA Decals");
  // Choosing the type sets the quarter and year to today's and shows them.
  EXPECT_EQ(d.txtBox(5).Text(), "2");
  EXPECT_EQ(d.txtBox(6).Text(), "2026");
  EXPECT_TRUE(d.txtBox(5).Visible());
  Enter("B2", "CVSA Decals", "4000000001", "4000000500");
  ASSERT_EQ(Rows().RecordCount(), 1);
  EXPECT_EQ(Field(0, "FORM_QTR_DT") + "/" + Field(0, "FORM_YR_DT"), "2/2026");
  EXPECT_EQ(Field(0, "FRM_FORM_NBR"), "4000000001");
  // An empty comment stores the stamp alone.
  EXPECT_THAT(Field(0, "TRP_FORM_CMMT_TXT"), StartsWith("(Margaret Hartley "));

  // Quarter and year text left over from the decals is not stored for permits.
  Enter("B2", "Temporary Permits", "1000001", "1000100");
  ASSERT_EQ(Rows().RecordCount(), 2);
  EXPECT_TRUE(Rows().GetValue("FORM_QTR_DT").IsNull());
  EXPECT_TRUE(Rows().GetValue("FORM_YR_DT").IsNull());
  EXPECT_FALSE(d.txtBox(5).Visible());

  // The form type sets the range length and cuts longer numbers.
  d.qmCboFormTypes.SetSelectionFromText("OOS Decals");
  EXPECT_EQ(d.txtBox(2).MaxLength(), 10);
  d.txtBox(2).SetText("12345678");
  d.txtBox(3).SetText("1234567890");
  d.qmCboFormTypes.SetSelectionFromText("ENF001 Citation");
  EXPECT_EQ(d.txtBox(2).Text() + "/" + d.txtBox(3).Text(), "1234567/1234567");
  EXPECT_EQ(d.txtBox(2).MaxLength(), 7);
  EXPECT_EQ(d.txtBox(3).MaxLength(), 7);
}

TEST_F(NewFormsTest, AWrongEntryShowsTheCheckAndKeepsTheEntry) {
  auto& d = ShowNewForms();
  Enter("A1", "Receipts", "1100000", "1200010");
  EXPECT_EQ(Rows().RecordCount(), 0);
  ExpectOneMessage(
      "The Range value 1100000 must be equal to or between 1200001 to 1999999 for form type "
      "RECEIPTS\r\n");
  EXPECT_EQ(d.txtBox(2).Text(), "1100000") << "the clerk corrects the entry";
}

TEST_F(NewFormsTest, OverlapsWithPendingOrSearchedRangesAreRefused) {
  auto& d = ShowNewForms();
  Enter("A1", "ENF001 Citation", "1100001", "1100100");
  ASSERT_EQ(Rows().RecordCount(), 1);

  Enter("A1", "ENF001 Citation", "1100001", "1100100");  // the same range again
  EXPECT_EQ(Rows().RecordCount(), 1);
  ExpectOneMessage("The New form range entered conflicts with an existing form range");

  // A pending range wholly inside the new one is a conflict too.
  Enter("A1", "ENF001 Citation", "1100000", "1100200");
  EXPECT_EQ(Rows().RecordCount(), 1);
  EXPECT_EQ(ui->messages.size(), 2U);

  // Another form type with the same numbers is free.
  Enter("A1", "ENF003 Warning", "1100001", "1100100");
  EXPECT_EQ(Rows().RecordCount(), 2);

  // A range the last search found: ten-digit numbers compare as numbers.
  Recordset& found = d.FormsAssignmentDataSet()->GetRecordset();
  found.AddNew();
  found.SetValue("FORM_TYP_CD", "B");
  found.SetValue("FRM_FORM_NBR", "5000000000");
  found.SetValue("TO_FORM_NBR", "5000009999");
  found.Update();
  Enter("C1", "OOS Decals", "4999999990", "5000000001");
  EXPECT_EQ(Rows().RecordCount(), 2);
  ASSERT_EQ(ui->messages.size(), 3U);
  EXPECT_EQ(ui->messages[2].text,
            "The Range entered conflicts with the form range available in the Forms Assignment "
            "window");
  Enter("C1", "OOS Decals", "5000010000", "5000010099");
  EXPECT_EQ(Rows().RecordCount(), 3);
}

TEST_F(NewFormsTest, RemoveFormsTakesOutTheCurrentRowOnlyAndTheSaveItemFollows) {
  auto& d = ShowNewForms();
  d.cmdButton(6).PerformClick();
  ASSERT_EQ(ui->messages.size(), 1U);
  EXPECT_EQ(ui->messages[0].text, "Please select a range to remove");

  Enter("A1", "Seals", "1", "10");
  Enter("A1", "Seals", "11", "20");
  Enter("A1", "Seals", "21", "30");
  ASSERT_EQ(Rows().RecordCount(), 3);
  EXPECT_EQ(frame->toolbarCalls.back(), (RecordingHostFrame::ToolbarCall{7, true, ""}));

  d.grdNewForms.LoadRows(0, 3);
  d.grdNewForms.ClickRow(1);
  d.grdNewForms.ClickRow(2, DataGrid::ClickModifier::Ctrl);
  ASSERT_EQ(d.grdNewForms.SelectedCount(), 2);
  d.cmdButton(6).PerformClick();
  ASSERT_EQ(Rows().RecordCount(), 2) << "one row per command";
  EXPECT_EQ(Field(0, "FRM_FORM_NBR"), "1");
  EXPECT_EQ(Field(1, "FRM_FORM_NBR"), "11");

  for (int i = 0; i < 2; ++i) {
    d.grdNewForms.ClickRow(0);
    d.cmdButton(6).PerformClick();
  }
  EXPECT_EQ(Rows().RecordCount(), 0);
  EXPECT_EQ(frame->toolbarCalls.back(), (RecordingHostFrame::ToolbarCall{7, false, ""}));
  EXPECT_EQ(d.grdNewForms.RowCount(), 0);
}

TEST_F(NewFormsTest, QuarterOfYearFollowsTheMonth) {
  auto& d = ShowDocument();
  const std::pair<int, int> cases[] = {{1, 1}, {3, 1}, {4, 2},  {6, 2},
                                       {7, 3}, {9, 3}, {10, 4}, {12, 4}};
  for (auto [month, quarter] : cases) {
    d.SetNow([month = month] { return LocalDay(2026, month, 15); });
    EXPECT_EQ(d.QuarterOfYear(), quarter) << "month " << month;
  }
}

}  // namespace
}  // namespace fm::testing

#include <chrono>

#include "assignment/ChangeRows.h"
#include "assignment/frmUnAssignForms.h"
#include "base/Text.h"
#include "common/CommentStamp.h"
#include "controls/ComboBox.h"
#include "controls/Label.h"
#include "platform/DataSet.h"
#include "search/SearchFixture.h"

namespace fm::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::chrono::system_clock::time_point kNow{std::chrono::seconds{1767258000}};

// The document after a search for C4 / form type C that found two ranges and two officers:
// row 0 is 1100001-1100100 held by 1001 with a comment, row 1 1100101-1100200 unassigned.
class AssignUnassignTest : public SearchFixture {
 protected:
  void SetUp() override {
    SearchFixture::SetUp();
    Doc().SetNow([] { return kNow; });
    SearchAndReply({{"C", "4", "C", 1100001, 1100100, Value(1001), "A", 100, Value("from HQ")},
                    {"C", "4", "C", 1100101, 1100200, Value(0), "A", 100}},
                   {{1001, "Hartley", "Margaret", "A"}, {1005, "Doe", Value(), "A"}});
  }

  void Click(int button) {
    std::int16_t index = static_cast<std::int16_t>(button);
    Doc().ProcessCmdButtonAssignUnAssignClick(index);
  }

  // Runs `script` with the dialog while it is shown modally.
  void WhenShown(std::function<void(frmUnAssignForms&)> script) {
    WhenModal<frmUnAssignForms>(std::move(script));
  }

  std::size_t SentCount() const { return messages->Sent().size(); }
  static std::string Stamped(const std::string& comment) {
    return text::Trim(comment + CommentStamp(kNow));
  }
};

TEST_F(AssignUnassignTest, AssignWithoutAnOfficerAsksForOneWithoutRangesEndsSilently) {
  Doc().grdFormsAssignment.ClickRow(1);
  Click(2);
  ExpectOneMessage("Select an officer to assign the range of forms.");
  EXPECT_EQ(ui->modalShows, 0);
  EXPECT_THAT(errors->Reports(), IsEmpty());

  Doc().ProcessCmdButtonSearchClick();
  ReplyWith(
      {{"TROOPFORM", TroopForms({})}, {"OFFICER", Officers({{1001, "Hartley", "Margaret", "A"}})}});
  Doc().grdOfficerList.ClickRow(0);
  const std::size_t sent = SentCount();
  ui->messages.clear();
  Click(2);
  Click(3);
  EXPECT_EQ(ui->modalShows, 0);
  EXPECT_THAT(ui->messages, IsEmpty());
  EXPECT_THAT(errors->Reports(), IsEmpty());
  EXPECT_EQ(SentCount(), sent);
}

TEST_F(AssignUnassignTest, AssignHandsTheSelectedRangeAndOfficerToTheDialog) {
  Doc().grdFormsAssignment.ClickRow(0);
  Doc().grdOfficerList.ClickRow(1);
  bool shown = false;
  WhenShown([&](frmUnAssignForms& d) {
    shown = true;
    EXPECT_EQ(d.Flag(), "ASSIGN");
    EXPECT_EQ(d.lblForm(8).Caption(), "DOE, A.");
    EXPECT_EQ(d.lblForm(10).Caption(), "1005");
    EXPECT_EQ(d.txtBox(0).Text() + "-" + d.txtBox(1).Text(), "1100001-1100100");
    EXPECT_EQ(d.txtBox(2).Text(), Doc().grdFormsAssignment.CellTextAt(0, "ASSIGNED_TO"));
    EXPECT_EQ(d.txtBox(2).Text().rfind("1001:", 0), 0u);
    EXPECT_EQ(d.txtBox(3).Tag(), "0");
    EXPECT_EQ(d.Troop() + "/" + d.District() + "/" + d.FormType(), "C/4/C");
    EXPECT_EQ(d.PreviousComment(), "from HQ");
    EXPECT_EQ(d.PreviousRegistry(), "1001");
    d.cmdCancel.PerformClick();
  });
  Click(2);
  EXPECT_TRUE(shown);
}

TEST_F(AssignUnassignTest, SaveSendsTheRowsWithARequery) {
  Doc().grdFormsAssignment.ClickRow(0);
  Doc().grdOfficerList.ClickRow(1);
  WhenShown([](frmUnAssignForms& d) {
    d.txtBox(3).SetText("1100051");
    d.cmdOk.PerformClick();
  });
  const std::size_t before = SentCount();
  Click(2);

  ASSERT_EQ(SentCount(), before + 1);
  const auto& request = messages->LastSent();
  EXPECT_EQ(Doc().Origin(), "ProcessCmdButtonAssignUnAssignClick");
  EXPECT_THAT(
      ReadChangeRows(*request.dataSets.at("TROOPFORM")),
      ElementsAre(ChangeRow{"UPD", "1100001", "1100050", "C", "4", "C", "1001", "A", "from HQ"},
                  ChangeRow{"ADD", "1100051", "1100100", "C", "4", "C", "1005", "A", Stamped("")}));
  EXPECT_THAT(errors->Reports(), IsEmpty());
}

TEST_F(AssignUnassignTest, ChangeStatusOpensTheDialogForTheRowsOwnOfficer) {
  Doc().grdFormsAssignment.ClickRow(0);
  WhenShown([](frmUnAssignForms& d) {
    EXPECT_EQ(d.Flag(), "UNASSIGN");
    EXPECT_EQ(d.lblForm(8).Caption(), "");
    EXPECT_EQ(d.lblForm(10).Caption(), "1001");
    d.cboStatus.SetText("Unassign");
    d.txtBox(4).SetText("1100010");
    d.cmdOk.PerformClick();
  });
  Click(3);
  EXPECT_THAT(
      ReadChangeRows(*messages->LastSent().dataSets.at("TROOPFORM")),
      ElementsAre(ChangeRow{"UPD", "1100001", "1100010", "C", "4", "C", "0", "U", Stamped("")},
                  ChangeRow{"ADD", "1100011", "1100100", "C", "4", "C", "1001", "A", "from HQ"}));
}

TEST_F(AssignUnassignTest, CloseSendsNothing) {
  Doc().grdFormsAssignment.ClickRow(1);
  Doc().grdOfficerList.ClickRow(0);
  WhenShown([](frmUnAssignForms& d) { d.cmdCancel.PerformClick(); });
  const std::size_t before = SentCount();
  Click(2);
  EXPECT_EQ(SentCount(), before);
  EXPECT_EQ(Doc().Origin(), "");
}

TEST_F(AssignUnassignTest, UnloadedRangeRowIsLoadedBeforeItIsRead) {
  // Selected by code, never drawn: the Assigned To text comes from the row-loaded handler.
  Doc().grdFormsAssignment.SelectRow(Doc().grdFormsAssignment.BookmarkAt(1));
  Doc().grdFormsAssignment.SetCurrentRowIndex(1);
  ASSERT_FALSE(Doc().grdFormsAssignment.IsRowLoaded(Doc().grdFormsAssignment.BookmarkAt(1)));
  std::string assignedTo;
  WhenShown([&](frmUnAssignForms& d) { assignedTo = d.txtBox(2).Text(); });
  Click(3);
  EXPECT_EQ(assignedTo, "C4");
}

}  // namespace
}  // namespace fm::testing

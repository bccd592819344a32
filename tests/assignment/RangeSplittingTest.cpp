#include <gmock/gmock.h>

#include "assignment/DialogFixture.h"

namespace fm::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class RangeSplittingTest : public DialogFixture {
 protected:
  std::vector<ChangeRow> Assign(const std::string& from, const std::string& to,
                                SelectedRange range = {}) {
    OpenAssign(range);
    Enter(from, to);
    return Save();
  }

  std::vector<ChangeRow> ChangeStatus(const std::string& reason, const std::string& from,
                                      const std::string& to, const std::string& comment = "",
                                      const SelectedRange& range = {}) {
    OpenChangeStatus(reason, range);
    Enter(from, to, comment);
    return Save();
  }

  void TearDown() override {
    EXPECT_THAT(errors->Reports(), IsEmpty());
    DialogFixture::TearDown();
  }
};

// The selected range: 100 to 199 of troop C, district 4, form type C, held by registry 1234
// with the comment "C0" (Plain); the same held by no officer and uncommented (Unowned); a
// voided range seen in the Inactive Forms view (Voided); quarterly decals of the third
// quarter of 2025 (Decals).
enum class Selected { Plain, Unowned, Voided, Decals };

struct SplitCase {
  const char* name;
  Selected selected;
  const char* reason;  // nullptr: Assign to registry 5678
  const char* from;
  const char* to;
  const char* comment;
  // Each piece as "ACTION from-to registry status comment", the comment "stamp" for the
  // clerk's comment with the stamp and "null" for none.
  const char* pieces;
};

class RangeSplittingTableTest : public RangeSplittingTest,
                                public ::testing::WithParamInterface<SplitCase> {};

TEST_P(RangeSplittingTableTest, SplitsTheSelectedRangeAroundTheEnteredOne) {
  const SplitCase& c = GetParam();
  settings->SetSwitch("VoidManualForms", true);
  SelectedRange range;
  if (c.selected == Selected::Unowned) {
    range.registry = "";
    range.comment = "";
    range.assignedTo = "C4";
  } else if (c.selected == Selected::Voided) {
    SetCurrentViewMode(kInactiveForms);
    range.status = "V";
  } else if (c.selected == Selected::Decals) {
    range.formType = "Y";
    range.quarter = "3";
    range.year = "2025";
  }
  const auto rows = c.reason ? ChangeStatus(c.reason, c.from, c.to, c.comment, range)
                             : Assign(c.from, c.to, range);
  std::string pieces;
  for (const ChangeRow& r : rows) {
    EXPECT_EQ(r.troop + r.district + r.formType + r.quarter + r.year,
              c.selected == Selected::Decals ? "C4Y32025" : "C4C");
    pieces += (pieces.empty() ? "" : ", ") + r.action + " " + r.from + "-" + r.to + " " +
              r.registry + " " + r.status + " " +
              (!r.comment                         ? "null"
               : *r.comment == Stamped(c.comment) ? "stamp"
                                                  : *r.comment);
  }
  EXPECT_EQ(pieces, c.pieces);
  EXPECT_FALSE(dialog->Visible());
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, RangeSplittingTableTest,
    ::testing::Values(
        SplitCase{"AssignWholeRangeIsOneUpdate", Selected::Plain, nullptr, "100", "199", "",
                  "UPD 100-199 5678 A stamp"},
        SplitCase{"AssignFromTheStartAddsTheRest", Selected::Plain, nullptr, "100", "149", "",
                  "UPD 100-149 5678 A stamp, ADD 150-199 1234 A C0"},
        SplitCase{"AssignToTheEndKeepsTheStartInTheRow", Selected::Plain, nullptr, "150", "199", "",
                  "UPD 100-149 1234 A C0, ADD 150-199 5678 A stamp"},
        SplitCase{"AssignInsideMakesThreePieces", Selected::Plain, nullptr, "120", "149", "",
                  "UPD 100-119 1234 A C0, ADD 150-199 1234 A C0, ADD 120-149 5678 A stamp"},
        SplitCase{"AssignOneFormInside", Selected::Plain, nullptr, "150", "150", "",
                  "UPD 100-149 1234 A C0, ADD 151-199 1234 A C0, ADD 150-150 5678 A stamp"},
        SplitCase{"OneFormPieceAtTheStart", Selected::Plain, nullptr, "100", "100", "",
                  "UPD 100-100 5678 A stamp, ADD 101-199 1234 A C0"},
        SplitCase{"OneFormPieceAtTheEnd", Selected::Plain, nullptr, "199", "199", "",
                  "UPD 100-198 1234 A C0, ADD 199-199 5678 A stamp"},
        SplitCase{"LeadingZeroIsTheSameBound", Selected::Plain, nullptr, "0100", "0149", "",
                  "UPD 100-149 5678 A stamp, ADD 150-199 1234 A C0"},
        SplitCase{"UnassignTakesTheEnteredPieceFromItsOfficer", Selected::Plain, "Unassign", "120",
                  "149", "", "UPD 100-119 1234 A C0, ADD 150-199 1234 A C0, ADD 120-149 0 U stamp"},
        SplitCase{"ReasonIsFoundWhateverItsCaseAndBlanks", Selected::Plain, "  uNASSIGN ", "100",
                  "199", "", "UPD 100-199 0 U stamp"},
        SplitCase{"UnassignAtTheEndChangesTheAddedPiece", Selected::Plain, "Unassign", "150", "199",
                  "", "UPD 100-149 1234 A C0, ADD 150-199 0 U stamp"},
        SplitCase{"VoidKeepsTheOfficerOnTheVoidedPiece", Selected::Plain, "Void", "120", "149",
                  "water damage",
                  "UPD 100-119 1234 A C0, ADD 150-199 1234 A C0, ADD 120-149 1234 V stamp"},
        SplitCase{"OtherReasonsKeepTheRegistryOnTheWholeRange", Selected::Plain, "Lost", "100",
                  "199", " left in cruiser ", "UPD 100-199 1234 L stamp"},
        SplitCase{"ReactivatingInTheInactiveViewWritesActivate", Selected::Voided, "Activate",
                  "100", "149", "", "UPD 100-149 1234 A stamp, ADD 150-199 1234 A C0"},
        SplitCase{"UntouchedPiecesOfAnUnownedRowStayUnownedAndUncommented", Selected::Unowned,
                  nullptr, "120", "149", "",
                  "UPD 100-119 0 A null, ADD 150-199 0 A null, ADD 120-149 5678 A stamp"},
        // Quarterly decals: one row for the entered range.
        SplitCase{"DecalsAssignIsOneUpdate", Selected::Decals, nullptr, "120", "149", "",
                  "UPD 120-149 5678 A stamp"},
        SplitCase{"DecalsReturnedToSupplyLeaveNoOfficer", Selected::Decals, "Returned to Supply",
                  "100", "199", "", "UPD 100-199 0 R stamp"},
        SplitCase{"DecalsLostKeepTheOfficer", Selected::Decals, "Lost", "150", "199", "",
                  "UPD 150-199 1234 L stamp"},
        SplitCase{"DecalsUnassignedKeepTheOfficerToo", Selected::Decals, "Unassign", "150", "199",
                  "", "UPD 150-199 1234 U stamp"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(RangeSplittingTest, TenDigitNumbersSplitExactly) {
  SelectedRange range;
  range.formType = "B";
  range.from = "9999999000";
  range.to = "9999999999";
  std::vector<ChangeRow> rows = Assign("9999999500", "9999999599", range);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].from + "-" + rows[0].to, "9999999000-9999999499");
  EXPECT_EQ(rows[1].from + "-" + rows[1].to, "9999999600-9999999999");
  EXPECT_EQ(rows[2].from + "-" + rows[2].to, "9999999500-9999999599");
}

// --- Failures after validation

class SplittingFailureTest : public DialogFixture {};

TEST_F(SplittingFailureTest, IsReportedAndKeepsTheDialogOpenWithNoRowsAndNoStamp) {
  SelectedRange range;
  range.formType = "Y";
  range.quarter = "Q3";  // not a number: the quarter column refuses it
  range.year = "2025";
  OpenAssign(range);
  Enter("120", "149", "first box");

  EXPECT_THAT(Save(), IsEmpty());
  EXPECT_EQ(dialog->Recordset(), nullptr);
  EXPECT_TRUE(dialog->Visible());
  EXPECT_EQ(dialog->txtBox(5).Text(), "first box");
  EXPECT_THAT(ReportSources(), ElementsAre("frmUnAssignForms.MakeRecordset"));
  EXPECT_THAT(errors->Reports().front().description, ::testing::HasSubstr("Q3"));
  EXPECT_THAT(ui->messages, IsEmpty());

  // Put right, the next Save stamps the comment once.
  dialog->txtBox(6).SetText("3");
  errors->ClearReports();
  const auto rows = Save();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].comment, Stamped("first box"));
  EXPECT_THAT(errors->Reports(), IsEmpty());
}

}  // namespace
}  // namespace fm::testing

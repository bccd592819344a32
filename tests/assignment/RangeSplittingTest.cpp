#include <gmock/gmock.h>

#include "assignment/DialogFixture.h"

namespace fm::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Selected range 100 to 199 of troop C, district 4, form type C, held by registry 1234
// with the comment "C0".
ChangeRow Piece(const char* action, const char* from, const char* to, const char* registry,
                const char* status, std::optional<std::string> comment) {
  return {action, from, to, "C", "4", "C", registry, status, std::move(comment)};
}

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

  const std::string stamp = Stamped("");
};

// --- The worked examples: "Assign" to registry 5678, and "Change Status"

struct SplitCase {
  const char* name;
  const char* reason;  // nullptr: Assign
  const char* from;
  const char* to;
  // Each piece as "ACTION from-to registry status comment", the comment "stamp" for the
  // stamp alone and "null" for none; every piece is of troop C, district 4, form type C.
  const char* pieces;
};

class RangeSplittingTableTest : public RangeSplittingTest,
                                public ::testing::WithParamInterface<SplitCase> {};

TEST_P(RangeSplittingTableTest, SplitsTheSelectedRangeAroundTheEnteredOne) {
  const SplitCase& c = GetParam();
  const auto rows = c.reason ? ChangeStatus(c.reason, c.from, c.to) : Assign(c.from, c.to);
  std::string pieces;
  for (const ChangeRow& r : rows) {
    EXPECT_EQ(r.troop + r.district + r.formType + r.quarter + r.year, "C4C");
    pieces += (pieces.empty() ? "" : ", ") + r.action + " " + r.from + "-" + r.to + " " +
              r.registry + " " + r.status + " " +
              (!r.comment            ? "null"
               : *r.comment == stamp ? "stamp"
                                     : *r.comment);
  }
  EXPECT_EQ(pieces, c.pieces);
  EXPECT_FALSE(dialog->Visible());
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, RangeSplittingTableTest,
    ::testing::Values(
        SplitCase{"AssignWholeRangeIsOneUpdate", nullptr, "100", "199", "UPD 100-199 5678 A stamp"},
        SplitCase{"AssignFromTheStartAddsTheRest", nullptr, "100", "149",
                  "UPD 100-149 5678 A stamp, ADD 150-199 1234 A C0"},
        SplitCase{"AssignToTheEndKeepsTheStartInTheRow", nullptr, "150", "199",
                  "UPD 100-149 1234 A C0, ADD 150-199 5678 A stamp"},
        SplitCase{"AssignInsideMakesThreePieces", nullptr, "120", "149",
                  "UPD 100-119 1234 A C0, ADD 150-199 1234 A C0, ADD 120-149 5678 A stamp"},
        SplitCase{"AssignOneFormInside", nullptr, "150", "150",
                  "UPD 100-149 1234 A C0, ADD 151-199 1234 A C0, ADD 150-150 5678 A stamp"},
        SplitCase{"OneFormPieceAtTheStart", nullptr, "100", "100",
                  "UPD 100-100 5678 A stamp, ADD 101-199 1234 A C0"},
        SplitCase{"OneFormPieceAtTheEnd", nullptr, "199", "199",
                  "UPD 100-198 1234 A C0, ADD 199-199 5678 A stamp"},
        SplitCase{"LeadingZeroIsTheSameBound", nullptr, "0100", "0149",
                  "UPD 100-149 5678 A stamp, ADD 150-199 1234 A C0"},
        SplitCase{"LeadingZerosAtTheEnd", nullptr, "0120", "00199",
                  "UPD 100-119 1234 A C0, ADD 120-199 5678 A stamp"},
        SplitCase{"UnassignTakesTheEnteredPieceFromItsOfficer", "Unassign", "120", "149",
                  "UPD 100-119 1234 A C0, ADD 150-199 1234 A C0, ADD 120-149 0 U stamp"},
        SplitCase{"ReasonIsFoundWhateverItsCaseAndBlanks", "  uNASSIGN ", "100", "199",
                  "UPD 100-199 0 U stamp"},
        SplitCase{"UnassignAtTheEndChangesTheAddedPiece", "Unassign", "150", "199",
                  "UPD 100-149 1234 A C0, ADD 150-199 0 U stamp"}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(RangeSplittingTest, VoidKeepsTheOfficerOnTheVoidedPiece) {
  settings->SetSwitch("VoidManualForms", true);
  EXPECT_THAT(ChangeStatus("Void", "120", "149", "water damage"),
              ElementsAre(Piece("UPD", "100", "119", "1234", "A", "C0"),
                          Piece("ADD", "150", "199", "1234", "A", "C0"),
                          Piece("ADD", "120", "149", "1234", "V", Stamped("water damage"))));
}

TEST_F(RangeSplittingTest, OtherReasonsKeepTheRegistryOnTheWholeRange) {
  EXPECT_THAT(ChangeStatus("Lost", "100", "199", " left in cruiser "),
              ElementsAre(Piece("UPD", "100", "199", "1234", "L", Stamped(" left in cruiser "))));
}

TEST_F(RangeSplittingTest, ReactivatingInTheInactiveViewWritesActivate) {
  SetCurrentViewMode(kInactiveForms);
  SelectedRange range;
  range.status = "V";
  EXPECT_THAT(ChangeStatus("Activate", "100", "149", "", range),
              ElementsAre(Piece("UPD", "100", "149", "1234", "A", stamp),
                          Piece("ADD", "150", "199", "1234", "A", "C0")));
}

// --- What the clerk may have typed or the row may hold

TEST_F(RangeSplittingTest, UntouchedPiecesOfAnUnownedRowStayUnownedAndUncommented) {
  SelectedRange range;
  range.registry = "";
  range.comment = "";
  range.assignedTo = "C4";
  EXPECT_THAT(Assign("120", "149", range),
              ElementsAre(Piece("UPD", "100", "119", "0", "A", std::nullopt),
                          Piece("ADD", "150", "199", "0", "A", std::nullopt),
                          Piece("ADD", "120", "149", "5678", "A", stamp)));
}

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

// --- Quarterly decals: one row for the entered range

class QuarterlySplittingTest : public RangeSplittingTest {
 protected:
  SelectedRange Decals() const {
    SelectedRange range;
    range.formType = "Y";
    range.quarter = "3";
    range.year = "2025";
    return range;
  }
  static ChangeRow Decal(const char* from, const char* to, const char* registry, const char* status,
                         std::optional<std::string> comment) {
    return {"UPD", from, to, "C", "4", "Y", registry, status, std::move(comment), "3", "2025"};
  }
};

TEST_F(QuarterlySplittingTest, AssignIsOneUpdateWithQuarterAndYear) {
  EXPECT_THAT(Assign("120", "149", Decals()), ElementsAre(Decal("120", "149", "5678", "A", stamp)));
}

TEST_F(QuarterlySplittingTest, ReturnedToSupplyLeavesNoOfficer) {
  EXPECT_THAT(ChangeStatus("Returned to Supply", "100", "199", "", Decals()),
              ElementsAre(Decal("100", "199", "0", "R", stamp)));
}

TEST_F(QuarterlySplittingTest, OtherReasonsKeepTheOfficerEvenUnassign) {
  EXPECT_THAT(ChangeStatus("Lost", "150", "199", "", Decals()),
              ElementsAre(Decal("150", "199", "1234", "L", stamp)));
  dialog.reset();
  EXPECT_THAT(ChangeStatus("Unassign", "150", "199", "", Decals()),
              ElementsAre(Decal("150", "199", "1234", "U", stamp)));
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

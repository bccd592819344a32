#include "search/SearchFixture.h"

namespace fm::testing {
namespace {

using TroopDistrictTest = SearchFixture;

TEST_F(TroopDistrictTest, TypedLettersAreCapitalsPastedTextKeepsItsCaseInTheSplit) {
  auto& box = Doc().txtBox(0);
  box.TypeText("d12");
  EXPECT_EQ(box.Text(), "D12");
  EXPECT_EQ(ui->beeps, 0);
  EXPECT_FALSE(box.ErrorMark());
  EXPECT_EQ(Doc().CurrentCriteria().troop + "/" + Doc().CurrentCriteria().district, "D/12");
  box.SetText("");
  box.TypeText("A-");  // punctuation is refused with a beep
  EXPECT_EQ(box.Text(), "A");
  EXPECT_EQ(ui->beeps, 1);

  box.SetText("");
  box.Paste("d12");
  EXPECT_EQ(box.Text(), "d12");
  EXPECT_EQ(Doc().CurrentCriteria().troop + "/" + Doc().CurrentCriteria().district, "d/12");
  // The checks against the troop tables ignore letter case.
  EXPECT_TRUE(Doc().TroopDistrictCheck());
}

TEST_F(TroopDistrictTest, CheckMarksTheBoxOnlyForAnUnknownTroopOrDistrict) {
  auto& box = Doc().txtBox(0);
  box.SetText("A");  // one character: the troop test alone decides
  EXPECT_TRUE(Doc().TroopDistrictCheck());
  EXPECT_FALSE(box.ErrorMark());

  box.SetText("Q");
  EXPECT_TRUE(box.ErrorMark());
  EXPECT_FALSE(Doc().TroopDistrictCheck());
  EXPECT_EQ(Doc().CurrentCriteria().troop, "Q");
  EXPECT_EQ(Doc().CurrentCriteria().district, "");

  box.SetText("A9");  // troop A has no district 9
  EXPECT_TRUE(box.ErrorMark());

  box.SetText("");
  EXPECT_TRUE(Doc().TroopDistrictCheck());
  EXPECT_FALSE(box.ErrorMark());
}

TEST_F(TroopDistrictTest, SuppressedTroopCheckLeavesTheBoxUnmarked) {
  Doc().SetTroopCheckSuppressed(true);
  Doc().txtBox(0).SetText("Q");
  EXPECT_FALSE(Doc().txtBox(0).ErrorMark());
  Doc().SetTroopCheckSuppressed(false);
  Doc().txtBox(0).SetText("Q1");
  EXPECT_TRUE(Doc().txtBox(0).ErrorMark());
}

TEST_F(TroopDistrictTest, EachBoxTakesItsKeysAndBeepsAtTheRest) {
  struct Case {
    int box;
    std::string taken;
    std::string refused;
    int beeps;
  } const cases[] = {
      // Number boxes: digits and backspace only.
      {1, "07\b", "aZ- \r", 5},
      {2, "07\b", "aZ- \r", 5},
      {3, "07\b", "aZ- \r", 5},
      {6, "07\b", "aZ- \r", 5},
      // The quarter: the four quarters; a 5 is a digit but no quarter, a letter is refused by
      // the digit test and again as no quarter.
      {5, "1234\b", "5", 1},
      {5, "", "q", 2},
      // Comment and form number take any key.
      {4, "a- 9", "", 0},
      {7, "a- 9", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("txtBox(" + std::to_string(c.box) + ")");
    const int beepsBefore = ui->beeps;
    for (char key : c.taken) {
      int code = key;
      Doc().txtBox_KeyPress(c.box, code);
      EXPECT_EQ(code, key);
    }
    for (char key : c.refused) {
      int code = key;
      Doc().txtBox_KeyPress(c.box, code);
      EXPECT_EQ(code, 0) << key;
    }
    EXPECT_EQ(ui->beeps - beepsBefore, c.beeps);
  }
  // The boxes on the screen: a refused key never reaches them.
  Doc().txtBox(1).TypeText("1a0x0");
  EXPECT_EQ(Doc().txtBox(1).Text(), "100");
  Doc().txtBox(7).TypeText("a-1");
  EXPECT_EQ(Doc().txtBox(7).Text(), "a-1");
}

TEST_F(TroopDistrictTest, LeavingABoxRunsTheEntryCheck) {
  Doc().txtBox(1).SetText("9999");
  Doc().txtBox_LostFocus(1);
  EXPECT_EQ(Doc().ErrorMessages(), "Please enter a valid Registry Number\r\n");
  EXPECT_TRUE(Doc().txtBox(1).ErrorMark());
}

}  // namespace
}  // namespace fm::testing

#include "search/SearchFixture.h"

namespace fm::testing {
namespace {

constexpr int kBackspace = 8;

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

TEST_F(TroopDistrictTest, NumberBoxesTakeDigitsAndBackspaceOnly) {
  for (int index : {1, 2, 3, 6}) {
    SCOPED_TRACE(index);
    const int beepsBefore = ui->beeps;
    for (int key : {int{'0'}, int{'7'}, kBackspace}) {
      int code = key;
      Doc().txtBox_KeyPress(index, code);
      EXPECT_EQ(code, key);
    }
    for (int key : {int{'a'}, int{'Z'}, int{'-'}, int{' '}, 13}) {
      int code = key;
      Doc().txtBox_KeyPress(index, code);
      EXPECT_EQ(code, 0);
    }
    EXPECT_EQ(ui->beeps - beepsBefore, 5);
  }
  // The registry box is on the screen: a refused key never reaches it.
  Doc().txtBox(1).TypeText("1a0x0");
  EXPECT_EQ(Doc().txtBox(1).Text(), "100");
}

TEST_F(TroopDistrictTest, QuarterBoxTakesOnlyTheFourQuartersAndBackspace) {
  for (int key : {int{'1'}, int{'2'}, int{'3'}, int{'4'}, kBackspace}) {
    int code = key;
    Doc().txtBox_KeyPress(5, code);
    EXPECT_EQ(code, key);
  }
  EXPECT_EQ(ui->beeps, 0);

  int five = '5';  // a digit, but no quarter: one beep
  Doc().txtBox_KeyPress(5, five);
  EXPECT_EQ(five, 0);
  EXPECT_EQ(ui->beeps, 1);

  int letter = 'q';  // refused by the digit test, and again as no quarter
  Doc().txtBox_KeyPress(5, letter);
  EXPECT_EQ(letter, 0);
  EXPECT_EQ(ui->beeps, 3);
}

TEST_F(TroopDistrictTest, CommentAndFormNumberBoxesTakeAnyKey) {
  for (int index : {4, 7}) {
    for (int key : {'a', '-', ' ', '9'}) {
      int code = key;
      Doc().txtBox_KeyPress(index, code);
      EXPECT_EQ(code, key);
    }
  }
  Doc().txtBox(7).TypeText("a-1");
  EXPECT_EQ(Doc().txtBox(7).Text(), "a-1");
  EXPECT_EQ(ui->beeps, 0);
}

TEST_F(TroopDistrictTest, LeavingABoxRunsTheEntryCheck) {
  Doc().txtBox(1).SetText("9999");
  Doc().txtBox_LostFocus(1);
  EXPECT_EQ(Doc().ErrorMessages(), "Please enter a valid Registry Number\r\n");
  EXPECT_TRUE(Doc().txtBox(1).ErrorMark());
}

}  // namespace
}  // namespace fm::testing

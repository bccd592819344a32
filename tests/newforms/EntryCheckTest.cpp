#include "search/SearchFixture.h"

namespace fm::testing {
namespace {

using ::testing::ElementsAre;

class EntryCheckTest : public SearchFixture {
 protected:
  // The names of the controls that carry an error mark.
  std::vector<std::string> Marked() {
    std::vector<std::string> marked;
    if (Doc().qmCboFormTypes.ErrorMark()) marked.push_back("qmCboFormTypes");
    for (int index = 0; index < 8; ++index) {
      if (Doc().txtBox(index).ErrorMark()) marked.push_back(Doc().txtBox(index).Name());
    }
    return marked;
  }

  std::string Check() {
    Doc().CheckEdit();
    return Doc().ErrorMessages();
  }
};

// --- Forms Assignment view: search criteria

TEST_F(EntryCheckTest, SearchCriteriaWithoutFormTypeOrRegistryAskForTheFormType) {
  EXPECT_EQ(Check(), "Please Enter an Account Type to complete search criteria\r\n");
  EXPECT_THAT(Marked(), ElementsAre("qmCboFormTypes"));
}

TEST_F(EntryCheckTest, SearchCriteriaWithFormTypeAloneAskWhereToLook) {
  SelectFormType("C");
  EXPECT_EQ(Check(),
            "Please Enter a Troop/District and/or a Registry Number and/or a Form Number to "
            "complete search criteria\r\n");
  EXPECT_THAT(Marked(), ElementsAre("txtBox(0)", "txtBox(1)", "txtBox(7)"));
}

TEST_F(EntryCheckTest, ValidRegistryNumberAloneCompletesTheSearchCriteria) {
  Doc().txtBox(1).SetText("1001");
  EXPECT_EQ(Check(), "");
  EXPECT_TRUE(Marked().empty());
}

TEST_F(EntryCheckTest, UnknownTroopAndRegistryAreReportedInCheckOrder) {
  Doc().txtBox(0).SetText("Q1");
  Doc().txtBox(1).SetText("9999");
  EXPECT_EQ(Check(),
            "Please Enter a valid Troop/District\r\nPlease enter a valid Registry Number\r\n");
  EXPECT_THAT(Marked(), ElementsAre("txtBox(0)", "txtBox(1)"));

  // A corrected entry loses its mark on the next run.
  Doc().txtBox(1).SetText("1001");
  EXPECT_EQ(Check(), "Please Enter a valid Troop/District\r\n");
  EXPECT_THAT(Marked(), ElementsAre("txtBox(0)"));
}

TEST_F(EntryCheckTest, PastedRegistryThatIsNoNumberEndsTheCheckWithAReport) {
  Doc().txtBox(0).SetText("Q1");
  Doc().txtBox(1).Paste("12a");
  EXPECT_EQ(Check(), "Please Enter a valid Troop/District\r\n");  // what came before stays
  ASSERT_EQ(errors->Reports().size(), 1u);
  EXPECT_EQ(errors->Reports()[0].source, "TARVO_FormsMaint.CheckEdit");
  EXPECT_NE(errors->Reports()[0].description.find("12a"), std::string::npos);
}

TEST_F(EntryCheckTest, InactiveFormsChecksOnlyTroopAndRegistry) {
  Doc().optButton(2).Choose();
  EXPECT_EQ(Check(), "");
  Doc().txtBox(0).SetText("Q");
  Doc().txtBox(1).SetText("9999");
  Doc().txtBox(2).SetText("5");
  EXPECT_EQ(Check(),
            "Please Enter a valid Troop/District\r\nPlease enter a valid Registry Number\r\n");
}

// --- New Forms view: a new range

class NewRangeCheckTest : public EntryCheckTest {
 protected:
  void SetUp() override {
    EntryCheckTest::SetUp();
    Doc().optButton(1).Choose();
  }
  void Range(const std::string& from, const std::string& to) {
    Doc().txtBox(2).SetText(from);
    Doc().txtBox(3).SetText(to);
  }
};

TEST_F(NewRangeCheckTest, UntouchedEntryAreaIsNoError) {
  Doc().txtBox(5).SetText("7");
  Doc().txtBox(6).SetText("1800");
  Doc().txtBox(1).SetText("9999");  // not read in this view
  EXPECT_EQ(Check(), "");
  EXPECT_TRUE(Marked().empty());
}

TEST_F(NewRangeCheckTest, FormTypeAloneAsksForTroopAndBothRangeValues) {
  SelectFormType("C");
  EXPECT_EQ(Check(),
            "Please Enter a valid Troop/District\r\nPlease enter a valid range value\r\n"
            "Please enter a valid range value\r\n");
  EXPECT_THAT(Marked(), ElementsAre("txtBox(0)", "txtBox(2)", "txtBox(3)"));
}

TEST_F(NewRangeCheckTest, RangeWithoutFormTypeIsCheckedAgainstTheDefaultBounds) {
  Doc().txtBox(0).SetText("C4");
  Range("5", "1000000");
  EXPECT_EQ(Check(),
            "Please enter a valid Account Type\r\n"
            "The Range value 5 must be equal to or between 1000000 to 1999999\r\n");
  EXPECT_THAT(Marked(), ElementsAre("qmCboFormTypes", "txtBox(2)"));
  EXPECT_EQ(Doc().RangeMessage(),
            "The Range value 5 must be equal to or between 1000000 to 1999999");
}

TEST_F(NewRangeCheckTest, RangeOutsideTheFormTypeBoundsNamesTheFormType) {
  Doc().txtBox(0).SetText("C4");
  SelectFormType("C");
  Range("1100001", "2000000");
  EXPECT_EQ(Check(),
            "The Range value 2000000 must be equal to or between 1100001 to 1999999 for form "
            "type ENF001\r\n");
  EXPECT_THAT(Marked(), ElementsAre("txtBox(3)"));
}

TEST_F(NewRangeCheckTest, PastedTextInARangeBoxIsNotNumeric) {
  Doc().txtBox(0).SetText("C4");
  SelectFormType("C");
  Doc().txtBox(2).Paste("11x");
  Doc().txtBox(3).SetText("1100001");
  EXPECT_EQ(Check(), "The Range value is not numeric\r\n");
}

TEST_F(NewRangeCheckTest, ReversedRangeIsReportedOnceAndMarksBothEnds) {
  Doc().txtBox(0).SetText("C4");
  SelectFormType("B");
  Range("200", "100");
  EXPECT_EQ(Check(), "The 'From' Range must be less than or equal to the 'To' Range\r\n");
  EXPECT_THAT(Marked(), ElementsAre("txtBox(2)", "txtBox(3)"));
  Range("100", "100");
  EXPECT_EQ(Check(), "");
}

TEST_F(NewRangeCheckTest, CvsaDecalsNeedQuarterAndYear) {
  Doc().txtBox(0).SetText("C4");
  SelectFormType("Y");
  Range("100", "200");
  Doc().txtBox(5).SetText("");
  Doc().txtBox(6).SetText("");
  EXPECT_EQ(Check(), "Quarter Year is required\r\nYear is required\r\n");
  EXPECT_THAT(Marked(), ElementsAre("txtBox(5)", "txtBox(6)"));

  Doc().txtBox(5).SetText("5");  // as if pasted: the key filter takes no 5
  Doc().txtBox(6).SetText("1949");
  EXPECT_EQ(Check(), "Quarter Year must be 1 to 4\r\nYear must be at least 1950\r\n");

  Doc().txtBox(5).SetText("4");
  Doc().txtBox(6).SetText("1950");
  EXPECT_EQ(Check(), "");
  EXPECT_TRUE(Marked().empty());
}

TEST_F(NewRangeCheckTest, PastedQuarterThatIsNoNumberEndsTheCheckBeforeTheYear) {
  Doc().txtBox(0).SetText("C4");
  SelectFormType("Y");
  Range("100", "200");
  Doc().txtBox(5).SetText("x");
  Doc().txtBox(6).SetText("");
  EXPECT_EQ(Check(), "");
  ASSERT_EQ(errors->Reports().size(), 1u);
  EXPECT_EQ(errors->Reports()[0].source, "TARVO_FormsMaint.CheckEdit");
}

// --- The bounds of each form type

struct RangeCase {
  const char* code;  // "": no form type chosen
  const char* value;
  const char* bounds;    // "": within them
  const char* formType;  // as the bounds report names it, "" for none
  const char* other;     // the report when the value is no number
};

class RangeBoundsTest : public SearchFixture, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(RangeBoundsTest, ValueIsCheckedAgainstTheFormTypeBounds) {
  const RangeCase& c = GetParam();
  std::string expected = c.other;
  if (*c.bounds != '\0') {
    expected = std::string("The Range value ") + c.value + " must be equal to or between " +
               c.bounds + (*c.formType != '\0' ? " for form type " : "") + c.formType;
  }
  if (*c.code != '\0') SelectFormType(c.code);
  std::string value = c.value;
  std::string message = "left over";
  EXPECT_EQ(Doc().CheckEditRange(value, message), expected.empty());
  EXPECT_EQ(message, expected);
  EXPECT_EQ(value, c.value);
}

INSTANTIATE_TEST_SUITE_P(
    FormTypes, RangeBoundsTest,
    ::testing::Values(RangeCase{"V", "999", "1000 to 1999999", "ENF004", ""},
                      RangeCase{"V", "1000", "", "", ""}, RangeCase{"V", "1999999", "", "", ""},
                      RangeCase{"B", "1", "", "", ""}, RangeCase{"B", "9999999999", "", "", ""},
                      RangeCase{"Z", "10000000000", "1 to 9999999999", "SEALS", ""},
                      RangeCase{"K", "10000000", "1 to 9999999", "WRECKER DECALS", ""},
                      RangeCase{"Y", "10000000", "", "", ""},
                      RangeCase{"C", "1100000", "1100001 to 1999999", "ENF001", ""},
                      RangeCase{"M", "1000000", "1000001 to 1999999", "ENF003", ""},
                      RangeCase{"O", "2000000", "1000001 to 1999999", "ENF507", ""},
                      RangeCase{"T", "1000000", "1000001 to 1999999", "TEMPORARY PERMITS", ""},
                      RangeCase{"R", "1200000", "1200001 to 1999999", "RECEIPTS", ""},
                      RangeCase{"B", "0", "1 to 9999999999", "OOS DECALS", ""},
                      RangeCase{"Y", "0", "1 to 9999999999", "CVSA DECALS", ""},
                      RangeCase{"", "5", "1000000 to 1999999", "", ""},
                      RangeCase{"", "1000000", "", "", ""},
                      RangeCase{"C", " ", "", "", "Please enter a valid range value"},
                      RangeCase{"C", "12-4", "", "", "The Range value is not numeric"}));

}  // namespace
}  // namespace fm::testing

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

// One entry area as the clerk leaves it, the messages of the check and the boxes marked.
struct EntryCase {
  const char* name;
  int view;  // the option: 0 Forms Assignment, 1 New Forms, 2 Inactive Forms
  const char* troopDistrict;
  const char* formType;  // the code, "" for none chosen
  const char* registry;
  const char* from;
  const char* to;
  const char* quarter;  // nullptr: as the form type set it
  const char* year;
  const char* messages;
  const char* marked;  // the names, blank-separated
};

class EntryCheckTableTest : public EntryCheckTest,
                            public ::testing::WithParamInterface<EntryCase> {};

TEST_P(EntryCheckTableTest, GivesTheMessagesInCheckOrderAndMarksTheBoxes) {
  const EntryCase& c = GetParam();
  if (c.view != 0) Doc().optButton(c.view).Choose();
  Doc().txtBox(0).SetText(c.troopDistrict);
  if (*c.formType != '\0') SelectFormType(c.formType);
  Doc().txtBox(1).SetText(c.registry);
  Doc().txtBox(2).SetText(c.from);
  Doc().txtBox(3).SetText(c.to);
  if (c.quarter) Doc().txtBox(5).SetText(c.quarter);
  if (c.year) Doc().txtBox(6).SetText(c.year);
  EXPECT_EQ(Check(), c.messages);
  std::string marked;
  for (const auto& name : Marked()) marked += (marked.empty() ? "" : " ") + name;
  EXPECT_EQ(marked, c.marked);
  EXPECT_TRUE(errors->Reports().empty());
}

constexpr const char* kNoTroop = "Please Enter a valid Troop/District\r\n";

INSTANTIATE_TEST_SUITE_P(
    EveryView, EntryCheckTableTest,
    ::testing::Values(
        EntryCase{"NothingAsksForTheFormType", 0, "", "", "", "", "", nullptr, nullptr,
                  "Please Enter an Account Type to complete search criteria\r\n", "qmCboFormTypes"},
        EntryCase{"FormTypeAloneAsksWhereToLook", 0, "", "C", "", "", "", nullptr, nullptr,
                  "Please Enter a Troop/District and/or a Registry Number and/or a Form Number "
                  "to complete search criteria\r\n",
                  "txtBox(0) txtBox(1) txtBox(7)"},
        EntryCase{"RegistryAloneIsEnough", 0, "", "", "1001", "", "", nullptr, nullptr, "", ""},
        EntryCase{"UnknownTroopAndRegistry", 0, "Q1", "", "9999", "", "", nullptr, nullptr,
                  "Please Enter a valid Troop/District\r\nPlease enter a valid Registry Number\r\n",
                  "txtBox(0) txtBox(1)"},
        EntryCase{"InactiveFormsNeedNothing", 2, "", "", "", "", "", nullptr, nullptr, "", ""},
        EntryCase{"InactiveFormsCheckOnlyTroopAndRegistry", 2, "Q", "", "9999", "5", "", nullptr,
                  nullptr,
                  "Please Enter a valid Troop/District\r\nPlease enter a valid Registry Number\r\n",
                  "txtBox(0) txtBox(1)"},
        // New Forms: the registry is not read, an untouched entry area is no error.
        EntryCase{"UntouchedNewRange", 1, "", "", "9999", "", "", "7", "1800", "", ""},
        EntryCase{"FormTypeAloneAsksForTroopAndRange", 1, "", "C", "", "", "", nullptr, nullptr,
                  "Please Enter a valid Troop/District\r\nPlease enter a valid range value\r\n"
                  "Please enter a valid range value\r\n",
                  "txtBox(0) txtBox(2) txtBox(3)"},
        EntryCase{"RangeWithoutFormTypeHasTheDefaultBounds", 1, "C4", "", "", "5", "1000000",
                  nullptr, nullptr,
                  "Please enter a valid Account Type\r\n"
                  "The Range value 5 must be equal to or between 1000000 to 1999999\r\n",
                  "qmCboFormTypes txtBox(2)"},
        EntryCase{"RangeOutsideTheFormTypeBounds", 1, "C4", "C", "", "1100001", "2000000", nullptr,
                  nullptr,
                  "The Range value 2000000 must be equal to or between 1100001 to 1999999 for "
                  "form type ENF001\r\n",
                  "txtBox(3)"},
        EntryCase{"ReversedRangeIsReportedOnce", 1, "C4", "B", "", "200", "100", nullptr, nullptr,
                  "The 'From' Range must be less than or equal to the 'To' Range\r\n",
                  "txtBox(2) txtBox(3)"},
        EntryCase{"OneFormRange", 1, "C4", "B", "", "100", "100", nullptr, nullptr, "", ""},
        EntryCase{"DecalsNeedQuarterAndYear", 1, "C4", "Y", "", "100", "200", "", "",
                  "Quarter Year is required\r\nYear is required\r\n", "txtBox(5) txtBox(6)"},
        // As if pasted: the key filter takes no 5.
        EntryCase{"DecalsQuarterAndYearOutOfBounds", 1, "C4", "Y", "", "100", "200", "5", "1949",
                  "Quarter Year must be 1 to 4\r\nYear must be at least 1950\r\n",
                  "txtBox(5) txtBox(6)"},
        EntryCase{"DecalsAtTheBounds", 1, "C4", "Y", "", "100", "200", "4", "1950", "", ""}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(EntryCheckTest, ACorrectedEntryLosesItsMarkOnTheNextRun) {
  Doc().txtBox(0).SetText("Q1");
  Doc().txtBox(1).SetText("9999");
  Check();
  ASSERT_EQ(Marked().size(), 2u);
  Doc().txtBox(1).SetText("1001");
  EXPECT_EQ(Check(), kNoTroop);
  EXPECT_THAT(Marked(), ElementsAre("txtBox(0)"));
}

TEST_F(EntryCheckTest, PastedTextThatIsNoNumberEndsTheCheckWithAReport) {
  Doc().txtBox(0).SetText("Q1");
  Doc().txtBox(1).Paste("12a");
  EXPECT_EQ(Check(), kNoTroop);  // what came before stays
  ASSERT_EQ(errors->Reports().size(), 1u);
  EXPECT_EQ(errors->Reports()[0].source, "TARVO_FormsMaint.CheckEdit");
  EXPECT_NE(errors->Reports()[0].description.find("12a"), std::string::npos);

  // A quarter that is no number ends the check before the year.
  errors->ClearReports();
  Doc().optButton(1).Choose();
  Doc().txtBox(0).SetText("C4");
  SelectFormType("Y");
  Doc().txtBox(2).SetText("100");
  Doc().txtBox(3).SetText("200");
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

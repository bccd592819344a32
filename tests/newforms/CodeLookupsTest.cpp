#include "search/SearchFixture.h"

namespace fm::testing {
namespace {

class CodeLookupTest : public SearchFixture {
 protected:
  std::string Form(std::string code) {
    const std::string before = code;
    std::string description = Doc().FormDescription(code);
    EXPECT_EQ(code, before);
    return description;
  }
  std::string Delisting(std::string code) {
    const std::string before = code;
    std::string description = Doc().DelistingDescription(code);
    EXPECT_EQ(code, before);
    return description;
  }
};

TEST_F(CodeLookupTest, FormTypeDescriptionIsTheWordingWithoutEndDate) {
  EXPECT_EQ(Form("C"), "ENF001 Citation");  // not the wording that ended in 2004
  EXPECT_EQ(Form("M"), "ENF003 Warning");   // nor one whose end date is still to come
  EXPECT_EQ(Form("K"), "Wrecker Decals");
  EXPECT_EQ(Form("Q"), "");
  EXPECT_TRUE(errors->Reports().empty());
}

TEST_F(CodeLookupTest, DelistingDescriptionIsTheEntryInForceToday) {
  EXPECT_EQ(Delisting("U"), "Unassign");
  EXPECT_EQ(Delisting("L"), "Lost");                       // not the wording that ended
  EXPECT_EQ(Delisting("W"), "Withdrawn from Service");     // ends in six months
  EXPECT_EQ(Delisting("X"), "Destroyed by Court Order");   // ends today
  EXPECT_EQ(Delisting("F"), "Forwarded to Headquarters");  // starts today
  EXPECT_EQ(Delisting("E"), "");                           // ended last month
  EXPECT_EQ(Delisting("T"), "");                           // starts next month
  EXPECT_EQ(Delisting("Q"), "");
  EXPECT_TRUE(errors->Reports().empty());
}

TEST_F(CodeLookupTest, LookUpsReadTheRegionAfreshOnlyDelistingTrimsAndCapitalisesIt) {
  EXPECT_EQ(Form("T"), "Temporary Permits");
  settings->SetRegion("SOUTH");
  EXPECT_EQ(Form("T"), "Trip Permits");
  settings->SetRegion(" south ");
  EXPECT_EQ(Delisting("V"), "Voided");
  EXPECT_EQ(Form("V"), "");
}

TEST_F(CodeLookupTest, CodeWithAQuoteIsReportedAndGivesNoDescription) {
  EXPECT_EQ(Form("C'"), "");
  EXPECT_EQ(Delisting("C'"), "");
  EXPECT_EQ(ReportSources(), (std::vector<std::string>{"TARVO_FormsMaint.FormDescription",
                                                       "TARVO_FormsMaint.DelistingDescription"}));
  // The failure leaves nothing behind that spoils the next look-up.
  EXPECT_EQ(Form("C"), "ENF001 Citation");
}

}  // namespace
}  // namespace fm::testing

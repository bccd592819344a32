#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "server/RequestError.h"
#include "server/SearchCriteria.h"

namespace fm::server {
namespace {

using protocol::Criterion;
using ::testing::HasSubstr;

Criterion Key(std::string name, std::string value, std::string op = "=") {
  return Criterion{"key:" + std::move(name), std::move(value), std::move(op), "QUILLMAR"};
}

std::string ErrorOf(const std::vector<Criterion>& criteria) {
  try {
    ParseCriteria(criteria);
  } catch (const RequestError& e) {
    return e.what();
  }
  return "accepted";
}

TEST(ParseCriteria, ScreenSearchBecomesRangeAndOfficerQueries) {
  // The search the screen sends for Troop/District A1 and form type C.
  SearchCriteria c =
      ParseCriteria({Key("TRP_ID", "A"), Key("TRP_DIST_ID", "1"), Key("REF_TYP_CD", "c "),
                     Key("INACTIVE", "N"), Key("TRP_ACTN_CD", "V", "<>"), Key("THIN", "YES")});
  ASSERT_EQ(c.ranges.formType.size(), 1u);
  EXPECT_EQ(c.ranges.formType[0].value, "C");
  ASSERT_EQ(c.ranges.status.size(), 1u);
  EXPECT_EQ(c.ranges.status[0].comparison, Comparison::NotEqual);
  EXPECT_FALSE(c.ranges.inactiveOnly);
  EXPECT_TRUE(c.thin);
  EXPECT_EQ(c.officers.troop, "A");
  EXPECT_EQ(c.officers.district, "1");
  EXPECT_FALSE(c.officers.registry.has_value());
}

TEST(ParseCriteria, RegistryAndFormNumberAreNumbers) {
  SearchCriteria c = ParseCriteria(
      {Key("ASGND_REG_NBR", " 1003"), Key("FORM_SEARCH_NBR", "9999999999"), Key("INACTIVE", "y")});
  EXPECT_EQ(c.officers.registry, 1003);
  EXPECT_EQ(c.ranges.formNumber, 9999999999);
  EXPECT_TRUE(c.ranges.inactiveOnly);
  EXPECT_FALSE(c.thin);
}

TEST(ParseCriteria, KeyNamesIgnoreLetterCase) {
  EXPECT_EQ(ParseCriteria({Criterion{"KEY:trp_id", "a", "=", ""}}).ranges.troop[0].value, "A");
}

TEST(ParseCriteria, RefusalsNameTheKeyOperatorOrValue) {
  EXPECT_THAT(ErrorOf({Key("COLOUR", "A")}), HasSubstr("\"key:COLOUR\" is not known"));
  EXPECT_THAT(ErrorOf({Criterion{"TRP_ID", "A", "=", ""}}), HasSubstr("\"TRP_ID\""));
  EXPECT_THAT(ErrorOf({Key("TRP_ID", "A", "==")}), HasSubstr("operator \"==\""));
  EXPECT_THAT(ErrorOf({Key("THIN", "YES", "<>")}), HasSubstr("only the operator \"=\""));
  EXPECT_THAT(ErrorOf({Key("FORM_SEARCH_NBR", "-5")}), HasSubstr("\"-5\""));
  EXPECT_THAT(ErrorOf({Key("FORM_SEARCH_NBR", "99999999999999999999")}),
              HasSubstr("a form number"));
  EXPECT_THAT(ErrorOf({Key("THIN", "PERHAPS")}), HasSubstr("\"PERHAPS\""));
  EXPECT_THAT(ErrorOf({Key("INACTIVE", "MAYBE")}), HasSubstr("\"MAYBE\""));
  EXPECT_THAT(ErrorOf({Key("ASGND_REG_NBR", "12a")}), HasSubstr("\"12a\""));
  EXPECT_THAT(ErrorOf({Key("FORM_SEARCH_NBR", "150", "<")}), HasSubstr("only the operator \"=\""));
  EXPECT_THAT(ErrorOf({Key("INACTIVE", "Y"), Key("INACTIVE", "N")}), HasSubstr("given twice"));
}

}  // namespace
}  // namespace fm::server

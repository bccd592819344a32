#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "server/handler/RequestError.h"
#include "server/handler/SearchCriteria.h"

namespace fm::server {
namespace {

using protocol::Criterion;

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

// Every refusal names the criterion as the screen captions it, never by its key.
TEST(ParseCriteria, RefusalsNameTheCriterionByTheScreensCaption) {
  const struct {
    std::vector<Criterion> criteria;
    const char* message;
  } cases[] = {
      {{Key("COLOUR", "A")}, "The criterion \"key:COLOUR\" is not known"},
      {{Criterion{"TRP_ID", "A", "=", ""}},
       "The criterion \"TRP_ID\" is not known; criteria are written \"key:\" and a name"},
      {{Key("TRP_ID", "A", "==")},
       "The operator \"==\" of the Troop/District (troop) criterion is not known; use one of = "
       "<> < <= > >="},
      {{Key("THIN", "YES", "<>")},
       "The thin reply criterion takes only the operator \"=\", not \"<>\""},
      {{Key("FORM_SEARCH_NBR", "-5")},
       "The Form Number \"-5\" is not a form number; it is written in digits only"},
      {{Key("FORM_SEARCH_NBR", "99999999999999999999")},
       "The Form Number \"99999999999999999999\" is too large to be a form number"},
      {{Key("THIN", "PERHAPS")},
       "The thin reply criterion takes \"YES\" or \"NO\", not \"PERHAPS\""},
      {{Key("INACTIVE", "MAYBE")},
       "The Inactive Forms criterion takes \"Y\" or \"N\", not \"MAYBE\""},
      {{Key("ASGND_REG_NBR", "12a")},
       "The Registry # \"12a\" is not a registry number; it is written in digits only"},
      {{Key("FORM_SEARCH_NBR", "150", "<")},
       "The Form Number criterion takes only the operator \"=\", not \"<\""},
      {{Key("FORM_SEARCH_NBR", "1"), Key("FORM_SEARCH_NBR", "2")},
       "The Form Number is given twice, with different numbers"},
      {{Key("INACTIVE", "Y"), Key("INACTIVE", "N")},
       "The Inactive Forms criterion is given twice, with different values"},
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorOf(c.criteria), c.message);
}

}  // namespace
}  // namespace fm::server

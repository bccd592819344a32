#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/ParameterText.h"

namespace fm {
namespace {

using ::testing::ElementsAre;

TEST(ParameterTextTest, OrdinaryFieldsAreJoinedByTildeAndSplitKeepsEmptyFieldsAtEitherEnd) {
  EXPECT_EQ(JoinParameterFields({"1100001", "1100100", "C4", "C", "4", "C", "", "", ""}),
            "1100001~1100100~C4~C~4~C~~~");
  EXPECT_THAT(SplitParameterFields("~a~~b~"), ElementsAre("", "a", "", "b", ""));
  EXPECT_THAT(SplitParameterFields(""), ElementsAre(""));
}

TEST(ParameterTextTest, FieldsHoldingTildeOrPercentComeBackWholeAndABarePercentIsKept) {
  const std::vector<std::string> fields = {"3~5 damaged", "~", "100%", "%7E", "%25~%", ""};
  const std::string joined = JoinParameterFields(fields);
  EXPECT_EQ(std::count(joined.begin(), joined.end(), '~'), 5);
  EXPECT_EQ(SplitParameterFields(joined), fields);
  // A hand-written text may hold a percent sign that escapes nothing.
  EXPECT_THAT(SplitParameterFields("50% off~%7e~%2"), ElementsAre("50% off", "~", "%2"));
}

}  // namespace
}  // namespace fm

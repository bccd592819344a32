#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>

#include "shell/SearchSummary.h"

namespace fm::shell {
namespace {

TEST(SearchSummaryTest, CountsReadAsAClerkWritesThem) {
  struct Case {
    SearchTotals totals;
    const char* text;
  };
  const Case cases[] = {
      {{14, 1186, 0, 0, 9, false}, "14 ranges, 1,186 forms in stock \u00B7 9 troopers"},
      {{7, 300, 2, 75, 9, false},
       "7 ranges, 300 forms in stock; 2 delisted (75 forms) \u00B7 9 troopers"},
      {{1, 1, 1, 1, 1, false}, "1 range, 1 form in stock; 1 delisted (1 form) \u00B7 1 trooper"},
      {{0, 0, 924, 1234567, std::nullopt, false}, "924 delisted ranges, 1,234,567 forms"},
      {{3, 750, 0, 0, std::nullopt, true}, "3 new ranges, 750 forms"},
      {{0, 0, 0, 0, 4, false}, "0 ranges, 0 forms in stock \u00B7 4 troopers"},
      {{0, 0, 0, 0, 0, false}, ""},
      {{0, 0, 0, 0, std::nullopt, true}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(SummaryText(c.totals), c.text);
  // The reasons of the code table that keep forms in stock, described in any letter case.
  EXPECT_EQ(StockStatuses({{"U", " unassign "}, {"V", "Void"}, {"X", "Unassigned"}}),
            (std::set<std::string>{"A", "U"}));
}

}  // namespace
}  // namespace fm::shell

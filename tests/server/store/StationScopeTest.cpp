#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "server/store/StationScope.h"

namespace fm::server {
namespace {

TEST(StationScopeTest, TroopsCoverTheirDistrictsAndTroopDistrictsOnlyThemselves) {
  struct Case {
    const char* scope;
    const char* troop;
    const char* district;
    bool covered;
  };
  const Case cases[] = {
      {"A", "A", "", true},       {"A", "A", "1", true},      {"A", "A", "12", true},
      {"A", "B", "", false},      {"A1", "A", "1", true},     {"A1", "A", "", false},
      {"A1", "A", "12", false},   {"A12", "A", "12", true},   {"A12", "A", "1", false},
      {"a1 , B", "A", "1", true}, {"a1 , B", "b", "7", true}, {"a1 , B", "C", "1", false},
      {"*", "Z", "99", true},     {"*", "", "", true},        {"A", "", "", false},
      {"A1", "A1", "", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StationScope::Parse(c.scope).Covers(c.troop, c.district), c.covered)
        << c.scope << " / " << c.troop << c.district;
  }
  EXPECT_FALSE(StationScope().Covers("A", "1")) << "an empty scope covers nothing";
}

// Random scopes over a few troops: the text reads back as the same scope, and a station is
// covered exactly when one of the scope's entries alone covers it.
TEST(StationScopeTest, TextReadsBackAndCoveringIsTheUnionOfTheEntries) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE(fmt::format("seed {}", seed));
  std::mt19937 random(seed);
  const char troops[] = "ABC";
  const char* districts[] = {"", "1", "2", "12"};
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  for (int round = 0; round < 300; ++round) {
    std::vector<std::string> entries;
    const int count = 1 + pick(4);
    for (int i = 0; i < count; ++i) {
      entries.push_back(std::string(1, troops[pick(3)]) + districts[pick(4)]);
    }
    std::string text;
    for (const auto& e : entries) text += (text.empty() ? "" : ",") + e;
    const StationScope scope = StationScope::Parse(text);
    ASSERT_EQ(StationScope::Parse(scope.Text()), scope) << text;
    for (char troop : std::string(troops)) {
      for (const char* district : districts) {
        bool any = false;
        for (const auto& e : entries) {
          any = any || StationScope::Parse(e).Covers(std::string(1, troop), district);
        }
        ASSERT_EQ(scope.Covers(std::string(1, troop), district), any)
            << text << " / " << troop << district;
      }
    }
  }
}

}  // namespace
}  // namespace fm::server

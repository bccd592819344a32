// The books of one save: what it may move, what it must never lose.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "server/store/CustodyLedger.h"
#include "server/store/StoreError.h"

namespace fm::server {
namespace {

using ::testing::HasSubstr;

FormRange R(std::int64_t from, std::int64_t to, std::string type = "C") {
  FormRange r;
  r.formType = std::move(type);
  r.from = from;
  r.to = to;
  return r;
}

std::string RefusalOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const StoreError& e) {
    EXPECT_EQ(e.GetKind(), StoreError::Kind::Rejected);
    return e.what();
  }
  return "(not refused)";
}

// Against the plain definition: the numbers of the span in no cover, by counting them.
TEST(UncoveredParts, AgreesWithCountingNumberByNumber) {
  const char* seedText = std::getenv("FM_LEDGER_SEED");
  const unsigned seed = seedText ? static_cast<unsigned>(std::strtoul(seedText, nullptr, 10))
                                 : std::random_device{}();
  SCOPED_TRACE(::testing::Message() << "FM_LEDGER_SEED=" << seed);
  std::mt19937 random(seed);
  auto number = [&](int low, int high) { return std::uniform_int_distribution(low, high)(random); };
  for (int round = 0; round < 2000; ++round) {
    const NumberSpan span{number(0, 40), number(0, 60)};
    std::vector<NumberSpan> covers(static_cast<std::size_t>(number(0, 6)));
    for (auto& c : covers) {
      c.first = number(-5, 65);
      c.last = c.first + number(0, 20);
    }
    std::sort(covers.begin(), covers.end(),
              [](const NumberSpan& a, const NumberSpan& b) { return a.first < b.first; });

    std::vector<NumberSpan> expected;
    for (std::int64_t n = span.first; n <= span.last; ++n) {
      bool held = std::any_of(covers.begin(), covers.end(),
                              [&](const NumberSpan& c) { return c.first <= n && n <= c.last; });
      if (held) continue;
      if (!expected.empty() && expected.back().last == n - 1) {
        expected.back().last = n;
      } else {
        expected.push_back({n, n});
      }
    }
    ASSERT_EQ(UncoveredParts(span, covers), expected)
        << "span " << span.first << "-" << span.last << ", round " << round;
  }
}

TEST(CustodyLedger, ShrinkingUpdateIsRefusedNamingEverySpanLost) {
  CustodyLedger ledger;
  ledger.Replaced("Row 1 (UPD 1100001-1100002 of form type C)", R(1100001, 1100100));
  ledger.Written(R(1100001, 1100002));
  EXPECT_EQ(RefusalOf([&] { ledger.CheckNothingLost(); }),
            "Row 1 (UPD 1100001-1100002 of form type C) would leave forms 1100003-1100100 in no "
            "range; a change may split or move forms but never lose them.");
  CustodyLedger holes;
  holes.Replaced("Row 1 (UPD 100-119 of form type C)", R(100, 199));
  for (const auto& piece : {R(100, 119), R(130, 149), R(151, 198)}) holes.Written(piece);
  EXPECT_THAT(RefusalOf([&] { holes.CheckNothingLost(); }),
              HasSubstr("would leave forms 120-129, 150, 199 in no range"));
}

TEST(CustodyLedger, SplitsMovesAndWithdrawalsKeepTheBooks) {
  CustodyLedger split;
  split.Replaced("Row 1", R(100, 199));
  split.Written(R(100, 119));
  EXPECT_EQ(split.ClassifyAdd("Row 2", R(150, 199)), R(100, 199));
  split.Written(R(150, 199));
  EXPECT_EQ(split.ClassifyAdd("Row 3", R(120, 149)), R(100, 199));
  split.Written(R(120, 149));
  // A receipt elsewhere, and the same numbers of another form type, are receipts.
  EXPECT_EQ(split.ClassifyAdd("Row 4", R(500, 599)), std::nullopt);
  EXPECT_EQ(split.ClassifyAdd("Row 5", R(100, 199, "B")), std::nullopt);
  EXPECT_NO_THROW(split.CheckNothingLost());

  CustodyLedger withdrawal;
  withdrawal.Replaced("The range 100-199", R(100, 199));
  withdrawal.Withdrawn("C", {120, 149});
  withdrawal.Written(R(100, 119));
  withdrawal.Written(R(150, 199));
  EXPECT_NO_THROW(withdrawal.CheckNothingLost());
}

TEST(CustodyLedger, RowsThatWouldBlurReceiptsAndMovesAreRefused) {
  struct Case {
    const char* what;
    std::function<void(CustodyLedger&)> rows;
    const char* refusal;
  };
  const std::vector<Case> cases = {
      {"an ADD half in the replaced range, half new",
       [](CustodyLedger& l) {
         l.Replaced("Row 1", R(100, 199));
         l.Written(R(100, 149));
         l.ClassifyAdd("Row 2", R(150, 250));
       },
       "Row 2: forms 150-199 come from the range 100-199 this save replaces, forms 200-250 are "
       "new"},
      {"an ADD joining pieces of two replaced ranges",
       [](CustodyLedger& l) {
         l.Replaced("Row 1", R(100, 199));
         l.Replaced("Row 2", R(200, 299));
         l.ClassifyAdd("Row 3", R(150, 249));
       },
       "Row 3: the range joins forms of the ranges 100-199 and 200-299"},
      {"an UPD reaching beyond the range it replaces",
       [](CustodyLedger&) { CustodyLedger::CheckUpdateWithin("Row 1", R(100, 199), R(100, 250)); },
       "Row 1: the change reaches forms 200-250 outside the range 100-199"},
      {"a range replaced twice",
       [](CustodyLedger& l) {
         l.Replaced("Row 1", R(100, 199));
         l.Written(R(100, 149));
         l.Replaced("Row 2", R(100, 149));
       },
       "Row 2: the range 100-149 was written by an earlier row of this save"},
  };
  for (const auto& c : cases) {
    CustodyLedger ledger;
    EXPECT_THAT(RefusalOf([&] { c.rows(ledger); }), HasSubstr(c.refusal)) << c.what;
  }
}

}  // namespace
}  // namespace fm::server

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "server/ChangeRules.h"
#include "server/StoreError.h"

namespace fm::server {
namespace {

FormRange Stored(std::int64_t from, std::int64_t to, std::int64_t remaining) {
  FormRange r;
  r.formType = "B";
  r.from = from;
  r.to = to;
  r.troop = "A";
  r.district = "1";
  r.registry = 1002;
  r.status = "V";
  r.remaining = remaining;
  r.comment = "old";
  return r;
}

TEST(RemainingCounter, NewRangeCountsEveryForm) {
  RemainingCounter counter;
  EXPECT_EQ(counter.RemainingFor("B", 100, 199), 100);
}

TEST(RemainingCounter, PiecesOfASplitShareTheRemainingFromTheLowestNumberUp) {
  RemainingCounter counter;
  counter.Replaced(Stored(100, 199, 70));  // 100-129 used
  EXPECT_EQ(counter.RemainingFor("B", 100, 119), 0);
  EXPECT_EQ(counter.RemainingFor("B", 120, 149), 20);
  EXPECT_EQ(counter.RemainingFor("B", 150, 199), 50);
  EXPECT_EQ(counter.RemainingFor("B", 100, 199), 70);  // a move keeps the count
  EXPECT_EQ(counter.RemainingFor("Z", 100, 119), 20);  // another form type is untouched
  EXPECT_EQ(counter.RemainingFor("B", 90, 109), 10);   // numbers outside count as new
}

TEST(RemainingCounter, CountsAboveTheSizeAreReadAsNothingUsed) {
  RemainingCounter counter;
  counter.Replaced(Stored(100, 199, 250));
  EXPECT_EQ(counter.RemainingFor("B", 100, 109), 10);
}

TEST(ResolveChange, UpdateKeepsWhatTheRowLeavesNull) {
  RangeChange c;
  c.action = RangeChange::Action::Update;
  c.formType = "B";
  c.from = 100;
  c.to = 150;
  c.troop = "C";
  c.comment = "";
  FormRange r = ResolveChange("Row 1", c, Stored(100, 199, 70));
  EXPECT_EQ(r.status, "V");
  EXPECT_EQ(r.registry, 1002);
  EXPECT_EQ(r.troop, "C");
  EXPECT_EQ(r.district, "");
  EXPECT_EQ(r.to, 150);
  EXPECT_FALSE(r.comment.has_value()) << "an empty comment is stored as none";
}

TEST(ResolveChange, AddNeedsAStatusAndDefaultsToNoOfficer) {
  RangeChange c;
  c.formType = "B";
  c.from = 1;
  c.to = 2;
  c.troop = "A";
  EXPECT_THROW(ResolveChange("Row 1", c, std::nullopt), StoreError);
  c.status = "A";
  EXPECT_EQ(ResolveChange("Row 1", c, std::nullopt).registry, kNoOfficer);
}

TEST(ChangeFingerprint, DiffersWhenAnyFieldDiffers) {
  RangeChange a;
  a.formType = "B";
  a.from = 1;
  a.to = 2;
  a.troop = "A";
  a.status = "A";
  RangeChange b = a;
  EXPECT_EQ(ChangeFingerprint({a}), ChangeFingerprint({b}));
  b.comment = "x";
  EXPECT_NE(ChangeFingerprint({a}), ChangeFingerprint({b}));
  b = a;
  b.action = RangeChange::Action::Update;
  EXPECT_NE(ChangeFingerprint({a}), ChangeFingerprint({b}));
  // Field boundaries are framed: "A"+"1" is not "A1"+"".
  RangeChange c = a;
  c.troop = "A1";
  c.district = "";
  b = a;
  b.district = "1";
  EXPECT_NE(ChangeFingerprint({b}), ChangeFingerprint({c}));
  EXPECT_NE(ChangeFingerprint({a}), ChangeFingerprint({a, a}));
}

}  // namespace
}  // namespace fm::server

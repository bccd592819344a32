#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <optional>

#include "server/store/ChangeRules.h"
#include "server/store/ReferenceData.h"
#include "server/store/StoreError.h"

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

TEST(RemainingCounter, PiecesOfASplitShareTheRemainingFromTheLowestNumberUp) {
  RemainingCounter counter;
  EXPECT_EQ(counter.RemainingFor("B", 100, 199), 100) << "a new range counts every form";
  counter.Replaced(Stored(100, 199, 70));  // 100-129 used
  EXPECT_EQ(counter.RemainingFor("B", 100, 119), 0);
  EXPECT_EQ(counter.RemainingFor("B", 120, 149), 20);
  EXPECT_EQ(counter.RemainingFor("B", 150, 199), 50);
  EXPECT_EQ(counter.RemainingFor("B", 100, 199), 70);  // a move keeps the count
  EXPECT_EQ(counter.RemainingFor("Z", 100, 119), 20);  // another form type is untouched
  EXPECT_EQ(counter.RemainingFor("B", 90, 109), 10);   // numbers outside count as new
  RemainingCounter overCounted;  // a count above the size is read as nothing used
  overCounted.Replaced(Stored(300, 399, 250));
  EXPECT_EQ(overCounted.RemainingFor("B", 300, 309), 10);
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
  b = a;
  b.rowVersion = 3;  // the same rows read from another version are another save
  EXPECT_NE(ChangeFingerprint({a}), ChangeFingerprint({b}));
}

// The local time zone is the process's: each case sets TZ and puts it back.
class StaleRangeMessageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) mOldTz = tz;
  }
  void TearDown() override {
    if (mOldTz) {
      ::setenv("TZ", mOldTz->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }
  static void UseZone(const char* tz) {
    ::setenv("TZ", tz, 1);
    ::tzset();
  }
  std::optional<std::string> mOldTz;
};

TEST_F(StaleRangeMessageTest, NamesTheRangeWhoChangedItAndWhenInLocalTime) {
  const auto reference = ReferenceData::FromDemoDatabase("NORTH");
  FormRange stored = Stored(1101076, 1101175, 100);
  struct Case {
    const char* zone;
    LastChange last;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"UTC0",
       {"2024-05-01T13:05:09.250Z", "r", 1002, "Ann Lee"},
       "by Ann Lee at 05/01/2024 01:05:09 PM"},
      {"EST5EDT,M3.2.0,M11.1.0",
       {"2024-05-01T13:05:09Z", "r", 1002, "Ann Lee"},
       "by Ann Lee at 05/01/2024 09:05:09 AM"},
      {"UTC0",
       {"2024-12-31T00:30:00.000Z", "r", 1007, ""},
       "by User 1007 at 12/31/2024 12:30:00 AM"},
      {"UTC0", {"yesterday", "r", 1007, "Bo"}, "by Bo at yesterday"},  // shown as stored
  };
  for (const auto& c : cases) {
    UseZone(c.zone);
    EXPECT_EQ(StaleRangeMessage(stored, "ENF001", c.last),
              std::string("Range 1101076-1101175 of ENF001 was changed ") + c.expected +
                  " after your search. Search again and repeat the change.")
        << c.zone << " " << c.last.at;
  }
}

TEST(ClerkWords, FormTypesAndStatusesByTheirDescriptionRowsByWhatTheyDo) {
  const auto reference = ReferenceData::FromDemoDatabase("NORTH");
  const std::pair<std::string, std::string> formTypes[] = {
      {"C", "ENF001 Citation"}, {"T", "Temporary Permits"}, {"Q", "Q"}};
  for (const auto& [code, name] : formTypes) EXPECT_EQ(FormTypeName(code, reference), name);
  const std::pair<std::string, std::string> statuses[] = {
      {"A", "Activate"}, {"V", "Void"}, {"U", "Unassign"}, {"Q", "Q"}};
  for (const auto& [code, name] : statuses) EXPECT_EQ(StatusName(code, reference), name);
  RangeChange change;
  change.formType = "B";
  change.from = 150;
  change.to = 199;
  EXPECT_EQ(RowLabel(1, change, reference), "Row 2 (new range 150-199 of OOS Decals)");
  change.action = RangeChange::Action::Update;
  change.formType = "Q";
  EXPECT_EQ(RowLabel(0, change, reference), "Row 1 (change of 150-199 of Q)");
}

}  // namespace
}  // namespace fm::server

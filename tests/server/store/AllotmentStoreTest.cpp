// Allotment caps and reissue rules on both backends: a save giving an officer more than a
// limit allows is refused whole with its figures, passes with an override of the right
// account, and the history keeps the override's reason.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "RandomSaves.h"
#include "StoreBackends.h"
#include "server/store/StoreError.h"

namespace fm::server::testing {
namespace {

using ::testing::HasSubstr;

constexpr std::int64_t kOfficerAtA1 = 1002;  // on duty at A1

SaveContext AllotmentClerk(std::string id, std::string reason = {}, bool admin = false) {
  SaveContext c{std::move(id), "test", 7, "Margaret Hartley"};
  c.overrideReason = std::move(reason);
  c.mayOverrideCaps = admin;
  return c;
}

template <typename Backend>
class AllotmentSuite : public StoreFixture<Backend> {
 protected:
  void SetUp() override {
    StoreFixture<Backend>::SetUp();
    if (this->IsSkipped() || this->HasFatalFailure()) return;
    FormRange usedUp = Stock("C", 1100201, 1100300);
    usedUp.remaining = 0;
    S().LoadInventory(
        {Stock("C", 1100001, 1100100), Stock("C", 1100101, 1100200), usedUp, Stock("K", 500, 599)},
        AllotmentClerk("load"), true);
  }
  Store& S() { return *this->mStore; }
  StoredRange Held(std::int64_t from) {
    RangeQuery q;
    q.formNumber = from;
    q.formType = {{Comparison::Equal, "C"}};
    return S().FindRanges(q).at(0);
  }
  SaveOutcome Give(std::int64_t from, const SaveContext& context) {
    RangeChange c = Rewrite(Held(from));
    c.registry = kOfficerAtA1;
    return S().ApplyChanges(context, {c});
  }
};

TYPED_TEST_SUITE(AllotmentSuite, StoreBackends, BackendNames);

enum class Outcome { Saved, OverLimit, Rejected, Forbidden };

struct LimitCase {
  const char* name;
  std::int64_t cap;  // of C at A1; 0: none
  bool rule;         // A1's reissue rule
  const char* reason;
  bool admin;
  Outcome outcome;
  const char* says;  // in the refusal
};

// The officer holds 1100001-1100100 (100 unused) and is given 1100101-1100200.
const LimitCase kCases[] = {
    {"WithinTheCap", 200, false, "", false, Outcome::Saved, ""},
    {"OverTheCapAdmin", 150, false, "", true, Outcome::OverLimit,
     "would hold 200 unused forms of ENF001 Citation at Troop/District A1, over its allotment cap "
     "of 150: "
     "100 held before and 100 given now. It may be saved with an override"},
    {"OverTheCapClerk", 150, false, "", false, Outcome::Rejected,
     "An administrator may save it with an override"},
    {"OverTheCapClerkReason", 150, false, "court week", false, Outcome::Forbidden,
     "Only an administrator may override an allotment cap"},
    {"OverTheCapAdminReason", 150, false, "court week", true, Outcome::Saved, ""},
    {"RuleOffByDefault", 0, false, "", false, Outcome::Saved, ""},
    {"RuleOn", 0, true, "", false, Outcome::OverLimit,
     "still holds 100 unused forms of ENF001 Citation given earlier, and Troop/District A1 gives "
     "no new ones"},
    {"RuleOnClerkReason", 0, true, "book damaged", false, Outcome::Saved, ""},
    {"BlankReasonIsNone", 0, true, "   ", false, Outcome::OverLimit, "with an override"},
};

TYPED_TEST(AllotmentSuite, ASaveOverALimitIsRefusedWholeUnlessTheRightAccountOverridesIt) {
  for (const LimitCase& t : kCases) {
    SCOPED_TRACE(t.name);
    this->TearDown();
    this->SetUp();
    const SaveContext admin{"limits", "test", 1, "Admin"};
    this->S().SetAllotmentCap(admin, {"A", "1", "C", t.cap});
    ReissueRule rule;
    rule.troop = "A";
    rule.district = "1";
    rule.on = t.rule;
    this->S().SetReissueRule(admin, rule);
    this->Give(1100001, AllotmentClerk("first"));

    const SaveContext second = AllotmentClerk("second", t.reason, t.admin);
    if (t.outcome == Outcome::Saved) {
      EXPECT_EQ(this->Give(1100101, second).receipts.size(), 1u);
      const auto history = this->S().FormHistory("C", 1100150);
      ASSERT_EQ(history.size(), 2u);
      EXPECT_EQ(history[1].overrideReason.value_or(""), std::string(t.reason))
          << "a reason is kept only where it lifted a limit";
      continue;
    }
    try {
      this->Give(1100101, second);
      ADD_FAILURE() << "saved";
    } catch (const StoreError& e) {
      const auto kind = t.outcome == Outcome::OverLimit  ? StoreError::Kind::OverLimit
                        : t.outcome == Outcome::Rejected ? StoreError::Kind::Rejected
                                                         : StoreError::Kind::Forbidden;
      EXPECT_EQ(e.GetKind(), kind) << e.what();
      EXPECT_THAT(e.what(), HasSubstr(t.says));
      EXPECT_THAT(e.what(), HasSubstr("nothing was saved"));
    }
    EXPECT_EQ(this->Held(1100101).range.registry, 0) << "nothing of the refused save stays";
    EXPECT_EQ(this->S().FormHistory("C", 1100150).size(), 1u);
  }
}

TYPED_TEST(AllotmentSuite, AReissueRuleCountsEarlierFormsOfTheSameTypeOnly) {
  const SaveContext admin{"limits", "test", 1, "Admin"};
  ReissueRule rule;
  rule.troop = "A";
  rule.district = "1";
  rule.on = true;
  this->S().SetReissueRule(admin, rule);
  // Two books handed over at once are one issue, and forms of another type are no reason to
  // wait.
  RangeChange both = Rewrite(this->Held(1100001));
  both.registry = kOfficerAtA1;
  RangeChange other = Rewrite(this->Held(1100101));
  other.registry = kOfficerAtA1;
  EXPECT_NO_THROW(this->S().ApplyChanges(AllotmentClerk("both"), {both, other}));
  RangeQuery k;
  k.formType = {{Comparison::Equal, "K"}};
  RangeChange decals = Rewrite(this->S().FindRanges(k).at(0));
  decals.registry = kOfficerAtA1;
  EXPECT_NO_THROW(this->S().ApplyChanges(AllotmentClerk("decals"), {decals}));
}

// A book whose forms are all used adds nothing to hold: an officer over both limits may still
// be handed it.
TYPED_TEST(AllotmentSuite, ABookOfUsedFormsPassesEveryLimit) {
  this->Give(1100001, AllotmentClerk("first"));
  const SaveContext admin{"limits", "test", 1, "Admin"};
  this->S().SetAllotmentCap(admin, {"A", "1", "C", 50});
  this->S().SetReissueRule(admin, {"A", "1", true});
  EXPECT_NO_THROW(this->Give(1100201, AllotmentClerk("used up")));
  EXPECT_THROW(this->Give(1100101, AllotmentClerk("unused")), StoreError);
}

TYPED_TEST(AllotmentSuite, LimitsAreSetListedReplacedAndRemoved) {
  const SaveContext admin{"limits", "test", 1, "Admin"};
  Store& s = this->S();
  s.SetAllotmentCap(admin, {"A", "1", "C", 300});
  const AllotmentCap kept = s.SetAllotmentCap(admin, {"A", "1", "C", 250});
  EXPECT_EQ(kept.setBy, "Admin");
  EXPECT_FALSE(kept.setAt.empty());
  ASSERT_EQ(s.AllotmentCaps().size(), 1u);
  EXPECT_EQ(s.AllotmentCaps()[0].cap, 250);
  s.SetAllotmentCap(admin, {"A", "1", "C", 0});
  EXPECT_TRUE(s.AllotmentCaps().empty());
  ReissueRule on{"A", "1", true};
  s.SetReissueRule(admin, on);
  ASSERT_EQ(s.ReissueRules().size(), 1u);
  on.on = false;
  s.SetReissueRule(admin, on);
  EXPECT_TRUE(s.ReissueRules().empty());

  SaveContext outside = admin;
  outside.scope = StationScope::Parse("B2");
  const struct {
    AllotmentCap cap;
    SaveContext context;
    StoreError::Kind kind;
  } bad[] = {{{"Q", "9", "C", 5}, admin, StoreError::Kind::Rejected},
             {{"A", "1", "ZZ", 5}, admin, StoreError::Kind::Rejected},
             {{"A", "1", "C", -1}, admin, StoreError::Kind::Rejected},
             {{"A", "1", "C", 5}, outside, StoreError::Kind::Forbidden}};
  for (const auto& b : bad) {
    try {
      s.SetAllotmentCap(b.context, b.cap);
      ADD_FAILURE() << "set " << b.cap.troop << b.cap.district << " " << b.cap.formType;
    } catch (const StoreError& e) {
      EXPECT_EQ(e.GetKind(), b.kind) << e.what();
    }
  }
  EXPECT_TRUE(s.AllotmentCaps().empty());
}

}  // namespace
}  // namespace fm::server::testing

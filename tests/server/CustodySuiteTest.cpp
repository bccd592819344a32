// Every form accounted for, on both backends: saves that would lose forms or overwrite a
// colleague's change are refused whole, withdrawals are the only way out, and the history
// says what each entry was.
#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "StoreBackends.h"
#include "server/StoreError.h"

namespace fm::server::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr std::int64_t kSmith = 1002;  // John Smith,jr, on duty at A1

FormRange Stock(std::int64_t from, std::int64_t to, std::int64_t remaining) {
  FormRange r;
  r.formType = "C";
  r.from = from;
  r.to = to;
  r.troop = "A";
  r.district = "1";
  r.remaining = remaining;
  r.comment = "received";
  return r;
}

RangeChange Row(RangeChange::Action action, std::int64_t from, std::int64_t to,
                std::string status = "A", std::int64_t registry = 0) {
  RangeChange c;
  c.action = action;
  c.formType = "C";
  c.from = from;
  c.to = to;
  c.troop = "A";
  c.district = "1";
  c.registry = registry;
  c.status = std::move(status);
  return c;
}
RangeChange Add(std::int64_t from, std::int64_t to) {
  return Row(RangeChange::Action::Add, from, to);
}
RangeChange Upd(std::int64_t from, std::int64_t to, std::string status = "A",
                std::int64_t registry = 0) {
  return Row(RangeChange::Action::Update, from, to, std::move(status), registry);
}

SaveContext Clerk(std::string requestId, std::int64_t user, std::string name) {
  return SaveContext{std::move(requestId), "FORMSMAINT", user, std::move(name)};
}

std::vector<std::string> Held(Store& store) {
  std::vector<std::string> out;
  for (const auto& s : store.FindRanges({})) {
    out.push_back(fmt::format("{} {}-{} v{} {} rem {}", s.range.formType, s.range.from, s.range.to,
                              s.version, s.range.status, s.range.remaining));
  }
  return out;
}

std::vector<std::string> Events(Store& store, std::int64_t number) {
  std::vector<std::string> out;
  for (const auto& e : store.FormHistory("C", number)) {
    out.push_back(fmt::format(
        "{} {}-{}{}", e.event, e.after.from, e.after.to,
        e.before ? fmt::format(" from {}-{}", e.before->from, e.before->to) : std::string()));
  }
  return out;
}

template <typename Backend>
class CustodySuite : public StoreFixture<Backend> {
 protected:
  void SetUp() override {
    StoreFixture<Backend>::SetUp();
    if (this->IsSkipped() || this->HasFatalFailure()) return;
    // Two adjacent ranges of citations: 1100001-1100100 (20 used) and 1100101-1100200.
    S().LoadInventory({Stock(1100001, 1100100, 80), Stock(1100101, 1100200, 100)},
                      Clerk("load", 0, "stores"), true);
  }
  Store& S() { return *this->mStore; }

  // Expects the save refused with `kind` and `message`, and nothing changed: ranges,
  // versions, history, and the request id still free.
  void ExpectRefused(std::vector<RangeChange> rows, const std::string& message,
                     StoreError::Kind kind = StoreError::Kind::Rejected) {
    const auto before = Held(S());
    const auto history = Events(S(), 1100050);
    const std::string id = fmt::format("refused-{}", mRefusals++);
    try {
      S().ApplyChanges(Clerk(id, 1001, "Margaret Hartley"), rows);
      ADD_FAILURE() << "applied; expected: " << message;
    } catch (const StoreError& e) {
      EXPECT_EQ(e.GetKind(), kind) << e.what();
      EXPECT_THAT(e.what(), HasSubstr(message));
    }
    EXPECT_EQ(Held(S()), before);
    EXPECT_EQ(Events(S(), 1100050), history);
    // The id was not recorded: sent again (here with no rows) it is a new save.
    EXPECT_FALSE(S().ApplyChanges(Clerk(id, 1001, ""), {}).alreadyApplied);
  }
  int mRefusals = 0;
};

TYPED_TEST_SUITE(CustodySuite, StoreBackends, BackendNames);

TYPED_TEST(CustodySuite, SavesThatWouldLoseOrInventFormsAreRefusedWhole) {
  auto v = [](RangeChange c, std::int64_t version = 1) {
    c.rowVersion = version;
    return c;
  };
  struct Case {
    const char* what;
    std::vector<RangeChange> rows;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"a shrinking UPD",
       {v(Upd(1100001, 1100002))},
       "Row 1 (UPD 1100001-1100002 of form type C) would leave forms 1100003-1100100 in no "
       "range; a change may split or move forms but never lose them."},
      {"a split that drops its middle piece",
       {v(Upd(1100001, 1100019)), Add(1100050, 1100100)},
       "Row 1 (UPD 1100001-1100019 of form type C) would leave forms 1100020-1100049 in no range"},
      {"pieces of both ranges dropped",
       {v(Upd(1100001, 1100098)), v(Upd(1100101, 1100199))},
       "Row 1 (UPD 1100001-1100098 of form type C) would leave forms 1100099-1100100 in no range"},
      {"an UPD receiving new forms",
       {v(Upd(1100101, 1100300))},
       "Row 1 (UPD 1100101-1100300 of form type C): the change reaches forms 1100201-1100300 "
       "outside the range 1100101-1100200 it replaces"},
      {"an ADD half piece, half receipt",
       {v(Upd(1100101, 1100150)), Add(1100151, 1100250)},
       "Row 2 (ADD 1100151-1100250 of form type C): forms 1100151-1100200 come from the range "
       "1100101-1100200 this save replaces, forms 1100201-1100250 are new"},
      {"an ADD overlapping a stored range", {Add(1100190, 1100210)}, "overlaps the stored range"},
      {"a range replaced twice",
       {v(Upd(1100001, 1100050)), Add(1100051, 1100100), v(Upd(1100001, 1100050), 2)},
       "Row 3 (UPD 1100001-1100050 of form type C): the range 1100001-1100050 of form type C was "
       "written by an earlier row of this save"},
      {"an UPD without its version",
       {Upd(1100001, 1100100, "V")},
       "Row 1 (UPD 1100001-1100100 of form type C): the row carries no ROW_VERSION"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    this->ExpectRefused(c.rows, c.message);
  }
  EXPECT_THAT(Held(this->S()),
              ElementsAre("C 1100001-1100100 v1 A rem 80", "C 1100101-1100200 v1 A rem 100"));
}

TYPED_TEST(CustodySuite, StaleVersionIsRefusedNamingWhoChangedTheRangeAndWhen) {
  Store& s = this->S();
  // Clerk B assigns the range to Smith: version 1 becomes 2.
  auto assign = Upd(1100101, 1100200, "A", kSmith);
  assign.rowVersion = 1;
  s.ApplyChanges(Clerk("b-assign", 1002, "John Smith,jr"), {assign});
  // Clerk A, whose search still showed version 1, voids it.
  auto voided = Upd(1100101, 1100200, "V");
  voided.rowVersion = 1;
  const auto before = Held(s);
  try {
    s.ApplyChanges(Clerk("a-void", 1001, "Margaret Hartley"), {voided});
    ADD_FAILURE() << "the stale void was applied";
  } catch (const StoreError& e) {
    EXPECT_EQ(e.GetKind(), StoreError::Kind::Stale);
    // The time is B's change in local time, whatever the zone the test runs in.
    EXPECT_THAT(e.what(), ::testing::MatchesRegex(
                              "Range 1100101-1100200 of ENF001 was changed by John Smith,jr at "
                              "[0-9]+/[0-9]+/2024 [0-9:]+ [AP]M after your search\\. Search again "
                              "and repeat the change\\."));
  }
  EXPECT_EQ(Held(s), before);
  EXPECT_THAT(Held(s),
              ElementsAre("C 1100001-1100100 v1 A rem 80", "C 1100101-1100200 v2 A rem 100"));
  EXPECT_EQ(s.FindRanges({})[1].range.registry, kSmith);
  EXPECT_EQ(s.FindRanges({})[1].lastChange.userName, "John Smith,jr");

  // With the version read after B's change, A's void goes through: 3.
  voided.rowVersion = 2;
  s.ApplyChanges(Clerk("a-void-again", 1001, "Margaret Hartley"), {voided});
  EXPECT_THAT(Held(s),
              ElementsAre("C 1100001-1100100 v1 A rem 80", "C 1100101-1100200 v3 V rem 100"));
}

TYPED_TEST(CustodySuite, HistoryTellsReceiptsPiecesAndChangesApart) {
  Store& s = this->S();
  auto split = Upd(1100001, 1100019);
  split.rowVersion = 1;
  auto given = Add(1100040, 1100100);
  s.ApplyChanges(Clerk("split", 1001, "Margaret Hartley"),
                 {split, given, Row(RangeChange::Action::Add, 1100020, 1100039, "V")});
  s.ApplyChanges(Clerk("receive", 1001, "Margaret Hartley"), {Add(1100201, 1100300)});
  EXPECT_THAT(Events(s, 1100010),
              ElementsAre("LOAD 1100001-1100100", "CHANGE 1100001-1100019 from 1100001-1100100"));
  EXPECT_THAT(Events(s, 1100030),
              ElementsAre("LOAD 1100001-1100100", "PIECE 1100020-1100039 from 1100001-1100100"));
  EXPECT_THAT(Events(s, 1100250), ElementsAre("RECEIVE 1100201-1100300"));
  const auto entry = s.FormHistory("C", 1100250).at(0);
  EXPECT_EQ(entry.userId, 1001);
  EXPECT_EQ(entry.userName, "Margaret Hartley");
  // The used forms stay with the lowest numbers: the first piece holds them all.
  EXPECT_THAT(Held(s),
              ElementsAre("C 1100001-1100019 v2 A rem 0", "C 1100020-1100039 v1 V rem 19",
                          "C 1100040-1100100 v1 A rem 61", "C 1100101-1100200 v1 A rem 100",
                          "C 1100201-1100300 v1 A rem 100"));
}

TYPED_TEST(CustodySuite, WithdrawalCutsTheRangesAndIsTheLastWordOfTheHistory) {
  Store& s = this->S();
  const auto outcome =
      s.Withdraw(Clerk("wdr-1", 0, "admin"), "C", 1100091, 1100110, "  printed twice  ");
  ASSERT_EQ(outcome.withdrawn.size(), 2u);
  EXPECT_EQ(outcome.withdrawn[0].from, 1100091);
  EXPECT_EQ(outcome.withdrawn[1].to, 1100110);
  ASSERT_EQ(outcome.kept.size(), 2u);
  EXPECT_THAT(Held(s),
              ElementsAre("C 1100001-1100090 v2 A rem 70", "C 1100111-1100200 v2 A rem 90"));

  const auto history = s.FormHistory("C", 1100095);
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[1].event, custody::kWithdraw);
  EXPECT_EQ(history[1].action, "WDR");
  EXPECT_EQ(history[1].reason, "printed twice");
  EXPECT_EQ(history[1].userName, "admin");
  EXPECT_EQ(history[1].after.from, 1100091);
  EXPECT_EQ(history[1].after.to, 1100100);
  EXPECT_EQ(history[1].before->to, 1100100);

  // From the middle of one range: its row keeps the low piece, the high piece is split off.
  s.Withdraw(Clerk("wdr-2", 0, "admin"), "C", 1100150, 1100150, "torn");
  EXPECT_THAT(Held(s), ElementsAre("C 1100001-1100090 v2 A rem 70", "C 1100111-1100149 v3 A rem 39",
                                   "C 1100151-1100200 v1 A rem 50"));
  EXPECT_THAT(Events(s, 1100180),
              ElementsAre("LOAD 1100101-1100200", "CHANGE 1100111-1100200 from 1100101-1100200",
                          "PIECE 1100151-1100200 from 1100111-1100200"));
}

TYPED_TEST(CustodySuite, WithdrawalsOfFormsNotHeldOrWithoutAReasonChangeNothing) {
  Store& s = this->S();
  struct Case {
    std::string formType;
    std::int64_t from;
    std::int64_t to;
    std::string reason;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"C", 1100150, 1100260, "lost", "Forms 1100201-1100260 of form type C are in no range"},
      {"C", 1099990, 1100010, "lost", "Forms 1099990-1100000 of form type C are in no range"},
      {"C", 1100001, 1100010, "   ", "A withdrawal needs a reason"},
      {"C", 1100001, 1100010, std::string(501, 'x'), "at most 500 characters"},
      {"Q", 1, 2, "lost", "The form type \"Q\" is not known"},
      {"C", 1100010, 1100001, "lost", "The To number 1100001 is below the From number 1100010"},
  };
  const auto before = Held(s);
  for (const auto& c : cases) {
    try {
      s.Withdraw(Clerk("wdr", 0, "admin"), c.formType, c.from, c.to, c.reason);
      ADD_FAILURE() << "withdrew " << c.from << "-" << c.to;
    } catch (const StoreError& e) {
      EXPECT_EQ(e.GetKind(), StoreError::Kind::Rejected);
      EXPECT_THAT(e.what(), HasSubstr(c.message));
    }
  }
  EXPECT_EQ(Held(s), before);
  EXPECT_EQ(s.FormHistory("C", 1100005).size(), 1u);
}

TYPED_TEST(CustodySuite, MigrationClassifiesTheHistoryWrittenBefore) {
  Store& s = this->S();
  auto split = Upd(1100001, 1100049);
  split.rowVersion = 1;
  s.ApplyChanges(Clerk("old-split", 1001, ""), {split, Add(1100050, 1100100)});
  s.ApplyChanges(Clerk("old-receipt", 1001, ""), {Add(1100201, 1100220)});
  // Back to the schema before versions: the columns go, the pieces forget their source.
  this->mStore.reset();
  for (const char* sql :
       {"ALTER TABLE form_range DROP COLUMN row_version",
        "ALTER TABLE form_range DROP COLUMN chg_usr_nme",
        "ALTER TABLE range_audit DROP COLUMN user_name",
        "ALTER TABLE range_audit DROP COLUMN event", "ALTER TABLE range_audit DROP COLUMN reason",
        "UPDATE range_audit SET before_from = NULL, before_to = NULL WHERE action = 'ADD'",
        "DELETE FROM schema_migration WHERE version = 3"}) {
    ASSERT_EQ(this->mBackend.ExecuteDirectly(sql), "") << sql;
  }
  this->mStore = OpenStore(this->mBackend.Address(), this->Options());
  EXPECT_EQ(this->mStore->SchemaVersion(), 3);
  EXPECT_THAT(Events(*this->mStore, 1100060),
              ElementsAre("LOAD 1100001-1100100", "PIECE 1100050-1100100 from 1100001-1100100"));
  EXPECT_THAT(Events(*this->mStore, 1100010),
              ElementsAre("LOAD 1100001-1100100", "CHANGE 1100001-1100049 from 1100001-1100100"));
  EXPECT_THAT(Events(*this->mStore, 1100210), ElementsAre("RECEIVE 1100201-1100220"));
  EXPECT_THAT(Held(*this->mStore),
              ElementsAre("C 1100001-1100049 v1 A rem 29", "C 1100050-1100100 v1 A rem 51",
                          "C 1100101-1100200 v1 A rem 100", "C 1100201-1100220 v1 A rem 20"));
}

}  // namespace
}  // namespace fm::server::testing

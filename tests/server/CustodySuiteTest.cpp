// Every form accounted for, on both backends: the history says what each entry was,
// withdrawals are the only way out, and a database written before versions is classified.
// (Refused saves are the property test's and the ledger's.)
#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "StoreBackends.h"
#include "server/StoreError.h"

namespace fm::server::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

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
                std::string status = "A") {
  RangeChange c;
  c.action = action;
  c.formType = "C";
  c.from = from;
  c.to = to;
  c.troop = "A";
  c.district = "1";
  c.registry = 0;
  c.status = std::move(status);
  return c;
}
RangeChange Add(std::int64_t from, std::int64_t to) {
  return Row(RangeChange::Action::Add, from, to);
}
// An "UPD" of a range as first stored (version 1).
RangeChange Upd(std::int64_t from, std::int64_t to) {
  RangeChange c = Row(RangeChange::Action::Update, from, to);
  c.rowVersion = 1;
  return c;
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
};

TYPED_TEST_SUITE(CustodySuite, StoreBackends, BackendNames);

TYPED_TEST(CustodySuite, HistoryTellsReceiptsPiecesAndChangesApart) {
  Store& s = this->S();
  auto split = Upd(1100001, 1100019);
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
  s.ApplyChanges(Clerk("old-split", 1001, ""), {split, Add(1100050, 1100100)});
  s.ApplyChanges(Clerk("old-receipt", 1001, ""), {Add(1100201, 1100220)});
  // Back to the schema before versions: the columns go, the pieces forget their source.
  this->mStore.reset();
  for (const auto& sql : UndoHistoryIndexSql()) {
    ASSERT_EQ(this->mBackend.ExecuteDirectly(sql), "") << sql;
  }
  for (const char* sql :
       {"ALTER TABLE range_audit DROP COLUMN claimed_user_id",
        "ALTER TABLE form_range DROP COLUMN row_version",
        "ALTER TABLE form_range DROP COLUMN chg_usr_nme",
        "ALTER TABLE range_audit DROP COLUMN user_name",
        "ALTER TABLE range_audit DROP COLUMN event", "ALTER TABLE range_audit DROP COLUMN reason",
        "DROP INDEX range_audit_request",
        "UPDATE range_audit SET before_from = NULL, before_to = NULL WHERE action = 'ADD'",
        "DELETE FROM schema_migration WHERE version >= 3"}) {
    ASSERT_EQ(this->mBackend.ExecuteDirectly(sql), "") << sql;
  }
  this->mStore = OpenStore(this->mBackend.Address(), this->Options());
  EXPECT_EQ(this->mStore->SchemaVersion(), 5);
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

// The store suite: every test runs on SQLite and on PostgreSQL, which must agree.
#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <barrier>
#include <thread>

#include "StoreBackends.h"
#include "server/store/PostgresConnection.h"
#include "server/store/SqlError.h"
#include "server/store/SqliteConnection.h"
#include "server/store/StoreError.h"

namespace fm::server::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Officers of the demo region that stand in for the registries of the worked example
// ("1234" holds the range, "5678" receives part of it).
constexpr std::int64_t kHolder = 1002;    // on duty at A1
constexpr std::int64_t kReceiver = 1003;  // on duty at B2

RangeChange Add(std::string type, std::int64_t from, std::int64_t to, std::int64_t registry = 0,
                std::string status = "A", std::optional<std::string> comment = std::nullopt) {
  return Change(RangeChange::Action::Add, std::move(type), from, to, registry, std::move(status),
                std::move(comment));
}

RangeChange Upd(std::string type, std::int64_t from, std::int64_t to, std::int64_t registry,
                std::string status = "A", std::optional<std::string> comment = std::nullopt) {
  return Change(RangeChange::Action::Update, std::move(type), from, to, registry, std::move(status),
                std::move(comment));
}

SaveContext Ctx(std::string requestId, std::int64_t user = 1001, std::string name = "") {
  return SaveContext{std::move(requestId), "FORMSMAINT", user, std::move(name)};
}

std::vector<FormRange> AllRanges(Store& store) {
  std::vector<FormRange> ranges;
  for (auto& stored : store.FindRanges({})) ranges.push_back(stored.range);
  return ranges;
}

std::string Span(const FormRange& r) {
  return fmt::format("{} {}-{} reg {} {} rem {}", r.formType, r.from, r.to, r.registry, r.status,
                     r.remaining);
}

std::vector<std::string> Spans(const std::vector<FormRange>& ranges) {
  std::vector<std::string> out;
  for (const auto& r : ranges) out.push_back(Span(r));
  return out;
}
// "C 1100001-1100019 v2 A rem 0" for each range.
std::vector<std::string> Spans(const std::vector<StoredRange>& ranges) {
  std::vector<std::string> out;
  for (const auto& s : ranges) {
    out.push_back(fmt::format("{} {}-{} v{} {} rem {}", s.range.formType, s.range.from, s.range.to,
                              s.version, s.range.status, s.range.remaining));
  }
  return out;
}
void ExpectNoOverlaps(const std::vector<FormRange>& ranges) {
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    for (std::size_t j = i + 1; j < ranges.size(); ++j) {
      const auto& a = ranges[i];
      const auto& b = ranges[j];
      EXPECT_FALSE(a.formType == b.formType && a.from <= b.to && b.from <= a.to)
          << Span(a) << " overlaps " << Span(b);
    }
  }
}

template <typename Backend>
class StoreSuite : public StoreFixture<Backend> {
 protected:
  Store& S() { return *this->mStore; }

  // The rows with every "UPD" carrying the version of the range it replaces as stored now,
  // as a client that has just searched sends them.
  std::vector<RangeChange> Versioned(std::vector<RangeChange> changes) {
    return WithCurrentVersions(S(), std::move(changes));
  }

  // The selected range of the worked example: 100-199 of OOS decals held by kHolder.
  void LoadSelectedRange(std::int64_t remaining = 100) {
    auto r = Stock("B", 100, 199, kHolder);
    r.remaining = remaining;
    r.comment = "C0";
    S().LoadInventory({r}, Ctx("load"), true);
  }

  // Expects `changes` to be refused with `message`, and the inventory and its history to
  // be exactly as before.
  void ExpectRefused(const std::vector<RangeChange>& changes, const std::string& message) {
    auto before = AllRanges(S());
    auto historyBefore = S().FormHistory("B", 150);
    try {
      S().ApplyChanges(Ctx("refused"), Versioned(changes));
      ADD_FAILURE() << "the save was applied; expected: " << message;
    } catch (const StoreError& e) {
      EXPECT_EQ(e.GetKind(), StoreError::Kind::Rejected);
      EXPECT_THAT(e.what(), HasSubstr(message));
    }
    EXPECT_EQ(AllRanges(S()), before);
    EXPECT_EQ(S().FormHistory("B", 150).size(), historyBefore.size());
  }
};

TYPED_TEST_SUITE(StoreSuite, StoreBackends, BackendNames);

// Assign 120-149 of 100-199 to the receiver (the rows the assignment dialog sends), then
// receive new numbers: a quarterly type's keep their quarter, another type's have none.
TYPED_TEST(StoreSuite, SplitsAndReceiptsAreStoredAsSent) {
  this->LoadSelectedRange();
  this->S().ApplyChanges(Ctx("split"),
                         this->Versioned({Upd("B", 100, 119, kHolder, "A", "C0"),
                                          Add("B", 150, 199, kHolder, "A", "C0"),
                                          Add("B", 120, 149, kReceiver, "A", "stamped")}));
  RangeChange decals = Add("Y", 1, 50);
  decals.quarter = 3;
  decals.year = 2025;
  RangeChange seals = decals;
  seals.formType = "Z";
  const auto outcome = this->S().ApplyChanges(Ctx("q"), {decals, seals});
  EXPECT_FALSE(outcome.alreadyApplied);
  EXPECT_EQ(outcome.rowsApplied, 2u);
  const auto ranges = AllRanges(this->S());
  EXPECT_THAT(
      Spans(ranges),
      ElementsAre("B 100-119 reg 1002 A rem 20", "B 120-149 reg 1003 A rem 30",
                  "B 150-199 reg 1002 A rem 50", "Y 1-50 reg 0 A rem 50", "Z 1-50 reg 0 A rem 50"));
  ASSERT_EQ(ranges.size(), 5u);
  EXPECT_EQ(ranges[0].comment, "C0");
  EXPECT_EQ(ranges[1].comment, "stamped");
  EXPECT_EQ(ranges[3].quarter, 3);
  EXPECT_EQ(ranges[3].year, 2025);
  EXPECT_FALSE(ranges[4].quarter.has_value());
  EXPECT_FALSE(ranges[4].year.has_value());
}

TYPED_TEST(StoreSuite, BrokenRulesAreRefusedWithNothingChanged) {
  this->LoadSelectedRange();
  this->ExpectRefused({Upd("B", 101, 199, kHolder)}, "no stored range of OOS Decals starts at 101");
  this->ExpectRefused({Add("B", 199, 250)}, "overlaps the stored range 100-199");
  this->ExpectRefused({Add("B", 50, 100)}, "overlaps the stored range 100-199");
  this->ExpectRefused({Add("B", 20, 300)}, "overlaps");  // holds the stored range whole
  this->ExpectRefused({Add("B", 300, 299)}, "the To Range 299 is below the From Range 300");
  this->ExpectRefused({Add("C", 1000, 1100)},
                      "the form number 1000 must be equal to or between 1100001 and 1999999");
  this->ExpectRefused({Add("K", 9999990, 10000000)}, "10000000 must be equal to or between 1");
  this->ExpectRefused({Add("Q", 1, 2)}, "\"Q\" is not known");
  RangeChange station = Add("B", 300, 399);
  station.troop = "G";
  this->ExpectRefused({station}, "): there is no Troop/District G1");
  this->ExpectRefused({Add("B", 300, 399, 0, "Q")}, "): the status \"Q\" is not known");
  this->ExpectRefused({Add("B", 300, 399, 2001)}, "): no officer has the Registry # 2001");
  this->ExpectRefused({Add("Y", 300, 399)},
                      "): a range of CVSA Decals needs a quarter from 1 to 4");
  this->ExpectRefused({Change(RangeChange::Action::Add, "B", 300, 399, 0, std::nullopt)},
                      "): a new range needs a status");
  // All or nothing: the first two rows are fine on their own; the third overlaps the second.
  const std::vector<RangeChange> third = {
      Upd("B", 100, 149, kHolder), Add("B", 150, 199, kReceiver), Add("B", 199, 210, kReceiver)};
  this->ExpectRefused(third, "Row 3 (new range 199-210 of ");
  this->ExpectRefused(third, "the range overlaps the stored range 150-199");
}

TYPED_TEST(StoreSuite, RequestIdIsAppliedOnceAndOnlyWhenTheSaveIs) {
  this->LoadSelectedRange();
  const auto rows = this->Versioned({Upd("B", 100, 149, kHolder), Add("B", 150, 199, kReceiver)});
  EXPECT_FALSE(this->S().ApplyChanges(Ctx("once"), rows).alreadyApplied);
  auto after = AllRanges(this->S());
  auto second = this->S().ApplyChanges(Ctx("once"), rows);
  EXPECT_TRUE(second.alreadyApplied);
  EXPECT_EQ(second.rowsApplied, 0u);
  EXPECT_EQ(AllRanges(this->S()), after);
  EXPECT_EQ(this->S().FormHistory("B", 170).size(), 2u);  // the load and one ADD

  // The same id with other rows is a client fault, not a repeat.
  try {
    this->S().ApplyChanges(Ctx("once"), {Add("B", 500, 599)});
    ADD_FAILURE() << "a reused request id was applied";
  } catch (const StoreError& e) {
    EXPECT_THAT(e.what(), HasSubstr("already used for a save with other rows"));
  }
  // A refused save does not use up its id.
  EXPECT_THROW(this->S().ApplyChanges(Ctx("retry"), {Add("B", 150, 250)}), StoreError);
  EXPECT_FALSE(this->S().ApplyChanges(Ctx("retry"), {Add("B", 200, 250)}).alreadyApplied);
}

TYPED_TEST(StoreSuite, RacingConflictingSplitsLetExactlyOneWin) {
  constexpr int kRounds = 6;
  for (int round = 0; round < kRounds; ++round) {
    const std::int64_t base = 1000 + round * 1000;
    this->S().ApplyChanges(Ctx(fmt::format("base{}", round)), {Add("B", base, base + 99, kHolder)});
    // Both split the same stored range, each into its own pieces.
    // Both read the range before either saves.
    const auto first = this->Versioned({Upd("B", base, base + 19, kHolder),
                                        Add("B", base + 50, base + 99, kHolder),
                                        Add("B", base + 20, base + 49, kReceiver)});
    const auto second = this->Versioned({Upd("B", base, base + 39, kHolder),
                                         Add("B", base + 60, base + 99, kHolder),
                                         Add("B", base + 40, base + 59, kReceiver)});
    std::atomic<int> wins{0};
    std::atomic<int> refusals{0};
    std::barrier start(2);
    auto run = [&](const std::vector<RangeChange>& rows, std::string id) {
      start.arrive_and_wait();
      try {
        this->S().ApplyChanges(Ctx(id), rows);
        ++wins;
      } catch (const StoreError& e) {
        EXPECT_NE(e.GetKind(), StoreError::Kind::Internal) << e.what();
        ++refusals;
      }
    };
    std::thread a(run, first, fmt::format("a{}", round));
    std::thread b(run, second, fmt::format("b{}", round));
    a.join();
    b.join();
    EXPECT_EQ(wins.load(), 1) << "round " << round;
    EXPECT_EQ(refusals.load(), 1) << "round " << round;
    auto ranges = AllRanges(this->S());
    ExpectNoOverlaps(ranges);
    std::int64_t covered = 0;
    for (const auto& r : ranges) {
      if (r.from >= base && r.to <= base + 99) covered += r.Size();
    }
    EXPECT_EQ(covered, 100) << "round " << round;  // the winner's pieces cover the range
  }
}

TYPED_TEST(StoreSuite, LoadingNeedsAnEmptyInventoryAndKeepsTheRules) {
  EXPECT_THROW(this->S().LoadInventory({Stock("B", 1, 10), Stock("B", 10, 20)}, Ctx("l"), false),
               StoreError);
  EXPECT_THROW(this->S().LoadInventory({Stock("C", 1, 10)}, Ctx("l"), false), StoreError);
  EXPECT_EQ(this->S().RangeCount(), 0u);
  this->S().LoadInventory({Stock("B", 1, 10)}, Ctx("l"), false);
  try {
    this->S().LoadInventory({Stock("B", 100, 110)}, Ctx("l2"), false);
    ADD_FAILURE() << "loaded into a store that holds ranges";
  } catch (const StoreError& e) {
    EXPECT_THAT(e.what(), HasSubstr("holds no ranges yet"));
  }
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

// Every form accounted for: the history says what each entry was, withdrawals are the only
// way out, and a database written before versions is classified. (Refused saves are the
// property test's and the ledger's.)
template <typename Backend>
class CustodySuite : public StoreSuite<Backend> {
 protected:
  void SetUp() override {
    StoreSuite<Backend>::SetUp();
    if (this->IsSkipped() || this->HasFatalFailure()) return;
    // Two adjacent ranges of citations: 1100001-1100100 (20 used) and 1100101-1100200.
    this->S().LoadInventory({[] {
                               auto used = Stock("C", 1100001, 1100100);
                               used.remaining = 80;
                               return used;
                             }(),
                             Stock("C", 1100101, 1100200)},
                            Ctx("load", 0, "stores"), true);
  }
};

TYPED_TEST_SUITE(CustodySuite, StoreBackends, BackendNames);

TYPED_TEST(CustodySuite, HistoryTellsWhoHeldEachFormInWhichStatusSinceWhen) {
  Store& s = this->S();
  // Out of 1100001-1100100, 1100020-1100039 voided and 1100040-1100100 given to the
  // receiver; a receipt; then another clerk voids the receiver's piece.
  s.ApplyChanges(
      Ctx("split", 1001, "Margaret Hartley"),
      this->Versioned({Upd("C", 1100001, 1100019, 0), Add("C", 1100040, 1100100, kReceiver),
                       Add("C", 1100020, 1100039, 0, "V")}));
  s.ApplyChanges(Ctx("receive", 1001, "Margaret Hartley"), {Add("C", 1100201, 1100300)});
  s.ApplyChanges(Ctx("void", 1006), this->Versioned({Upd("C", 1100040, 1100100, kReceiver, "V")}));
  EXPECT_THAT(Events(s, 1100050),
              ElementsAre("LOAD 1100001-1100100", "PIECE 1100040-1100100 from 1100001-1100100",
                          "CHANGE 1100040-1100100 from 1100040-1100100"));
  const auto history = s.FormHistory("C", 1100050);
  ASSERT_EQ(history.size(), 3u);
  EXPECT_EQ(history[0].action, "LOAD");
  EXPECT_EQ(history[1].action, "ADD");
  EXPECT_EQ(history[1].requestId, "split");
  EXPECT_EQ(history[1].requester, "FORMSMAINT");
  EXPECT_EQ(history[1].userId, 1001);
  EXPECT_EQ(history[1].userName, "Margaret Hartley");
  EXPECT_EQ(history[1].after.registry, kReceiver);
  EXPECT_EQ(history[2].action, "UPD");
  EXPECT_EQ(history[2].userId, 1006);
  EXPECT_EQ(history[2].before->status, "A");
  EXPECT_EQ(history[2].after.status, "V");
  EXPECT_LT(history[1].at, history[2].at);
  EXPECT_TRUE(s.FormHistory("B", 1100050).empty());
  // The used forms stay with the lowest numbers: the first piece holds them all.
  EXPECT_THAT(Spans(s.FindRanges({})),
              ElementsAre("C 1100001-1100019 v2 A rem 0", "C 1100020-1100039 v1 V rem 19",
                          "C 1100040-1100100 v2 V rem 61", "C 1100101-1100200 v1 A rem 100",
                          "C 1100201-1100300 v1 A rem 100"));
}

TYPED_TEST(CustodySuite, WithdrawalCutsTheRangesAndIsTheLastWordOfTheHistory) {
  Store& s = this->S();
  const auto outcome =
      s.Withdraw(Ctx("wdr-1", 0, "admin"), "C", 1100091, 1100110, "  printed twice  ");
  ASSERT_EQ(outcome.withdrawn.size(), 2u);
  EXPECT_EQ(outcome.withdrawn[0].from, 1100091);
  EXPECT_EQ(outcome.withdrawn[1].to, 1100110);
  ASSERT_EQ(outcome.kept.size(), 2u);
  EXPECT_THAT(Spans(s.FindRanges({})),
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
  s.Withdraw(Ctx("wdr-2", 0, "admin"), "C", 1100150, 1100150, "torn");
  EXPECT_THAT(Spans(s.FindRanges({})),
              ElementsAre("C 1100001-1100090 v2 A rem 70", "C 1100111-1100149 v3 A rem 39",
                          "C 1100151-1100200 v1 A rem 50"));
  EXPECT_THAT(Events(s, 1100180),
              ElementsAre("LOAD 1100101-1100200", "CHANGE 1100111-1100200 from 1100101-1100200",
                          "PIECE 1100151-1100200 from 1100111-1100200"));
}

// Saves of other form types may take history ids between the entries of one request (on
// PostgreSQL only the saves of one form type queue for each other): a withdrawal's first
// piece still replaces the range it cut.
TYPED_TEST(CustodySuite, VerifyHoldsAWithdrawalInterleavedWithAnotherFormTypesSave) {
  Store& s = this->S();
  s.ApplyChanges(Ctx("receive"), {Add("B", 100, 199)});
  s.Withdraw(Ctx("wdr", 0, "admin"), "C", 1100150, 1100150, "torn");
  s.ApplyChanges(Ctx("assign"), this->Versioned({Upd("B", 100, 199, kHolder)}));
  ASSERT_EQ(this->mBackend.ExecuteDirectly("UPDATE range_audit SET audit_id = audit_id + 1000"
                                           " WHERE request_id = 'wdr' AND action <> 'WDR'"),
            "");
  const InventoryCheck check = s.CheckInventory();
  EXPECT_THAT(check.violations, ElementsAre());
  EXPECT_EQ(check.historyEntries, 7u);
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
      {"C", 1100150, 1100260, "lost", "Forms 1100201-1100260 of ENF001 Citation are in no range"},
      {"C", 1099990, 1100010, "lost", "Forms 1099990-1100000 of ENF001 Citation are in no range"},
      {"C", 1100001, 1100010, "   ", "A withdrawal needs a reason"},
      {"C", 1100001, 1100010, std::string(501, 'x'), "at most 500 characters"},
      {"Q", 1, 2, "lost", "The Form Type \"Q\" is not known"},
      {"C", 1100010, 1100001, "lost", "The To Range 1100001 is below the From Range 1100010"},
  };
  const auto before = Spans(s.FindRanges({}));
  for (const auto& c : cases) {
    try {
      s.Withdraw(Ctx("wdr", 0, "admin"), c.formType, c.from, c.to, c.reason);
      ADD_FAILURE() << "withdrew " << c.from << "-" << c.to;
    } catch (const StoreError& e) {
      EXPECT_EQ(e.GetKind(), StoreError::Kind::Rejected);
      EXPECT_THAT(e.what(), HasSubstr(c.message));
    }
  }
  EXPECT_EQ(Spans(s.FindRanges({})), before);
  EXPECT_EQ(s.FormHistory("C", 1100005).size(), 1u);
}

TYPED_TEST(CustodySuite, MigrationClassifiesTheHistoryWrittenBefore) {
  Store& s = this->S();
  s.ApplyChanges(Ctx("old-split"),
                 this->Versioned({Upd("C", 1100001, 1100049, 0), Add("C", 1100050, 1100100)}));
  s.ApplyChanges(Ctx("old-receipt"), {Add("C", 1100201, 1100220)});
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
  EXPECT_EQ(this->mStore->SchemaVersion(), 15);
  EXPECT_EQ(this->mStore->FormTypes().size(), 10u);
  EXPECT_THAT(Events(*this->mStore, 1100060),
              ElementsAre("LOAD 1100001-1100100", "PIECE 1100050-1100100 from 1100001-1100100"));
  EXPECT_THAT(Events(*this->mStore, 1100010),
              ElementsAre("LOAD 1100001-1100100", "CHANGE 1100001-1100049 from 1100001-1100100"));
  EXPECT_THAT(Events(*this->mStore, 1100210), ElementsAre("RECEIVE 1100201-1100220"));
  EXPECT_THAT(Spans(this->mStore->FindRanges({})),
              ElementsAre("C 1100001-1100049 v1 A rem 29", "C 1100050-1100100 v1 A rem 51",
                          "C 1100101-1100200 v1 A rem 100", "C 1100201-1100220 v1 A rem 20"));
}

// PostgreSQL keeps overlapping ranges out by itself, whatever a client does.
// A connection maps as much of the file as it is asked to (none by default), and reads
// through the map what another connection has just written.
TEST(SqliteConnections, AMappedConnectionReadsWhatAnotherWrote) {
  SqliteBackend backend;
  std::string why;
  ASSERT_TRUE(backend.Prepare(&why)) << why;
  const std::string file = backend.Address().substr(7);
  {
    SqliteConnection plain(file, std::chrono::seconds(5));
    SqliteConnection mapped(file, std::chrono::seconds(5), 2, 64);
    auto number = [](SqliteConnection& c, const char* sql) {
      return SqlInteger(c.Query(sql, {}).at(0).at(0));
    };
    EXPECT_EQ(number(plain, "PRAGMA mmap_size"), 0);
    EXPECT_EQ(number(mapped, "PRAGMA mmap_size"), std::int64_t{64} << 20);
    plain.ExecuteScript("CREATE TABLE t (n INTEGER); INSERT INTO t VALUES (1), (2);");
    EXPECT_EQ(number(mapped, "SELECT sum(n) FROM t"), 3);
    plain.ExecuteScript("INSERT INTO t SELECT n + 2 FROM t;");
    EXPECT_EQ(number(mapped, "SELECT sum(n) FROM t"), 10);
  }
  backend.Cleanup();
}

class PostgresConstraints : public StoreFixture<PostgresBackend> {};

TEST_F(PostgresConstraints, DatabaseRefusesOverlappingRangesWrittenAroundTheStore) {
  mStore->ApplyChanges(Ctx("r"), {Add("B", 100, 199)});
  const std::string insert =
      "INSERT INTO form_range (form_typ_cd, frm_form_nbr, to_form_nbr, trp_id, trp_dist_id,"
      " asgnd_reg_nbr, trp_actn_cd, rmng_form_cnt, chg_ts, chg_req_id, chg_usr_id)"
      " VALUES ('B', {}, {}, 'A', '1', 0, 'A', 1, 't', 'x', 0)";
  EXPECT_THAT(mBackend.ExecuteDirectly(fmt::format(fmt::runtime(insert), 199, 199)),
              HasSubstr("form_range_no_overlap"));
  EXPECT_THAT(mBackend.ExecuteDirectly(fmt::format(fmt::runtime(insert), 300, 299)),
              HasSubstr("check"));
  EXPECT_EQ(mBackend.ExecuteDirectly(fmt::format(fmt::runtime(insert), 200, 200)), "");
  // Another form type may use the same numbers.
  EXPECT_EQ(mBackend.ExecuteDirectly(
                "INSERT INTO form_range (form_typ_cd, frm_form_nbr, to_form_nbr, trp_id,"
                " trp_dist_id, asgnd_reg_nbr, trp_actn_cd, rmng_form_cnt, chg_ts, chg_req_id,"
                " chg_usr_id) VALUES ('Z', 150, 150, 'A', '1', 0, 'A', 1, 't', 'x', 0)"),
            "");
}

// A read streams its rows (a cursor's pages inside a transaction, single rows outside): one
// ended early, by `each` answering false or throwing, or by the server failing halfway, leaves
// the connection ready for the next statement.
TEST_F(PostgresConstraints, ARowReadEndedEarlyLeavesTheConnectionUsable) {
  PostgresConnection c(mBackend.Address(), std::chrono::seconds(5));
  c.Begin(SqlConnection::Transaction::Read);
  const char* series = "SELECT g, 'n' || g FROM generate_series(1, ?) g";
  std::int64_t seen = 0;
  c.QueryEach(series, {std::int64_t{100000}}, [&](const SqlRow& row) {
    EXPECT_EQ(std::get<std::int64_t>(row[0]), ++seen);
    EXPECT_EQ(std::get<std::string>(row[1]), fmt::format("n{}", seen));
    // Inside a transaction the visitor may run statements of its own meanwhile.
    EXPECT_EQ(c.Query(series, {seen}).size(), static_cast<std::size_t>(seen));
    return seen < 10;
  });
  EXPECT_EQ(seen, 10);
  EXPECT_THROW(c.QueryEach(series, {std::int64_t{1000}},
                           [](const SqlRow&) -> bool { throw std::runtime_error("enough"); }),
               std::runtime_error);
  EXPECT_EQ(c.Query(series, {std::int64_t{3}}).size(), 3u);
  c.Commit();
  seen = 0;
  EXPECT_THROW(c.QueryEach("SELECT 1 / (5000 - g) FROM generate_series(1, 10000) g", {},
                           [&](const SqlRow&) { return ++seen > 0; }),
               SqlError);
  EXPECT_GT(seen, 0);  // rows came before the division by zero
  EXPECT_TRUE(c.Healthy());
  EXPECT_EQ(std::get<std::int64_t>(c.Query("SELECT 7", {}).at(0).at(0)), 7);
}

// A cursor's next page is read while the visitor works on this one: the rows of every page
// come in order whatever the visitor runs meanwhile (a statement, another cursor's read), and
// a page that fails fails the read after the pages before it.
TEST_F(PostgresConstraints, PagesReadAheadKeepTheirOrderAndTheirFailures) {
  PostgresConnection c(mBackend.Address(), std::chrono::seconds(5));
  c.Begin(SqlConnection::Transaction::Read);
  const char* series = "SELECT g FROM generate_series(1, ?) g";
  std::int64_t seen = 0;
  c.QueryEach(series, {std::int64_t{25000}}, [&](const SqlRow& row) {
    EXPECT_EQ(std::get<std::int64_t>(row[0]), ++seen);
    if (seen % 9999 == 0) {
      EXPECT_EQ(c.Query(series, {std::int64_t{2}}).size(), 2u);
      std::int64_t inner = 0;
      c.QueryEach(series, {std::int64_t{12000}}, [&](const SqlRow&) { return ++inner > 0; });
      EXPECT_EQ(inner, 12000);
    }
    return true;
  });
  EXPECT_EQ(seen, 25000);
  seen = 0;
  EXPECT_THROW(c.QueryEach("SELECT 1 / (15000 - g) FROM generate_series(1, 20000) g", {},
                           [&](const SqlRow&) { return ++seen > 0; }),
               SqlError);
  EXPECT_EQ(seen, 10000);
  c.Rollback();
  EXPECT_TRUE(c.Healthy());
  EXPECT_EQ(std::get<std::int64_t>(c.Query("SELECT 7", {}).at(0).at(0)), 7);
}

}  // namespace
}  // namespace fm::server::testing

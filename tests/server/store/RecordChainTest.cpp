// The record chain on both backends: plain SQL that changes, removes, inserts or reorders a
// record or a link is named by the check; a checkpoint taken before shows a chain recomputed
// whole after it; writers of two servers at once still link one after the other.
#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "StoreBackends.h"
#include "server/store/StoreError.h"

namespace fm::server::testing {
namespace {

using ::testing::HasSubstr;

const SaveContext kClerk{"", "test", 1001, "Clara Clerk"};
const SaveContext kChainAuditor{"", "test", 40, "Avery Auditor"};

template <typename Backend>
class ChainSuite : public StoreFixture<Backend> {
 protected:
  // History of a load, a three-way split and a withdrawal; three uses; a certified count.
  void SetUp() override {
    StoreFixture<Backend>::SetUp();
    if (this->IsSkipped() || this->HasFatalFailure()) return;
    Store& s = S();
    s.LoadInventory({Stock("C", 1100001, 1100100), Stock("C", 1100101, 1100200)},
                    As(kClerk, "load"), true);
    s.ApplyChanges(As(kClerk, "split"),
                   WithCurrentVersions(
                       s, {Change(RangeChange::Action::Update, "C", 1100001, 1100019, 0, "A"),
                           Change(RangeChange::Action::Add, "C", 1100050, 1100100, 0, "A"),
                           Change(RangeChange::Action::Add, "C", 1100020, 1100049, 1002, "A")}));
    s.Withdraw(As(kClerk, "withdraw"), "C", 1100190, 1100200, "water damage");
    UseBatch batch;
    batch.sourceText = "desk";
    batch.rules.today = "2099-12-31";
    batch.lines = [](const std::function<void(const UseLine&)>& each) {
      for (std::int64_t n = 1100020; n < 1100023; ++n) {
        each({n - 1100019,
              {"C", std::to_string(n), "ISSUED", "2026-06-01", "1002", "T1", "", ""},
              ""});
      }
    };
    const auto uses = s.RecordUses(As(kClerk, "uses"), batch);
    ASSERT_EQ(uses.recorded, 3) << (uses.badLines.empty() ? "" : uses.badLines[0].message);
    const PhysicalCount count = s.OpenCount(As(kChainAuditor, "open"), "A", "1", {"C"});
    s.AddCounted(As(kChainAuditor, "shelf"), count.number, {{"C", 1100001, 1100189}});
    s.CertifyCount(As(kChainAuditor, "certify"), count.number, "Counted at A1.");
  }
  Store& S() { return *this->mStore; }
  void Sql(const std::string& sql) { ASSERT_EQ(this->mBackend.ExecuteDirectly(sql), "") << sql; }
  ChainCheck Check(std::optional<ChainHead> checkpoint = std::nullopt) {
    ChainCheckOptions options;
    options.checkpoint = std::move(checkpoint);
    options.pageLinks = 4;  // the history's seven entries on two pages
    return S().CheckRecordChain(options);
  }
};

TYPED_TEST_SUITE(ChainSuite, StoreBackends, BackendNames);

TYPED_TEST(ChainSuite, EveryWriteLinksItsRecordsAndTheCheckFindsThemUnchanged) {
  const ChainCheck check = this->Check();
  EXPECT_THAT(check.violations, ::testing::IsEmpty());
  // 2 loads, 3 split entries, a withdrawal and its piece; 3 uses; a count and its
  // certification.
  EXPECT_EQ(check.links, 12);
  EXPECT_EQ(check.head.seq, 12);
  EXPECT_EQ(check.head, this->S().RecordChainHead());
}

TYPED_TEST(ChainSuite, PlainSqlOnRecordsOrLinksIsNamed) {
  struct Case {
    const char* what;
    std::vector<const char*> sql;
    const char* named;
  };
  const Case cases[] = {
      {"a field of a history entry",
       {"UPDATE range_audit SET after_reg_nbr = 1003 WHERE audit_id = 4"},
       "The history entry 4 was changed after it was written"},
      {"a history entry deleted",
       {"DELETE FROM range_audit WHERE audit_id = 5"},
       "The history entry 5 was removed: chain link 5 records it"},
      {"a history entry inserted",
       {"INSERT INTO range_audit (audit_id, request_id, requester, user_id, applied_at, action,"
        " form_typ_cd, after_from, after_to, after_trp_id, after_trp_dist_id, after_reg_nbr,"
        " after_actn_cd, after_rmng_cnt, user_name, event) SELECT 99, request_id, requester,"
        " user_id, applied_at, action, form_typ_cd, after_from, after_to, after_trp_id,"
        " after_trp_dist_id, after_reg_nbr, after_actn_cd, after_rmng_cnt, user_name, event"
        " FROM range_audit WHERE audit_id = 1"},
       "The history entry 99 was inserted outside the server"},
      {"two history entries reordered",
       {"UPDATE range_audit SET audit_id = -3 WHERE audit_id = 3",
        "UPDATE range_audit SET audit_id = 3 WHERE audit_id = 4",
        "UPDATE range_audit SET audit_id = 4 WHERE audit_id = -3"},
       "The history entry 3 holds what chain link 4 recorded for the history entry 4: the records "
       "were reordered"},
      {"a use's officer",
       {"UPDATE form_use SET reg_nbr = 1003 WHERE use_id = 2"},
       "The use 2 was changed"},
      {"a certified statement",
       {"UPDATE physical_count SET statement = 'Nothing was missing.'"},
       "The certification of count 1 was changed"},
      {"a counted span",
       {"UPDATE physical_count_counted SET to_nbr = 1100200"},
       "The certification of count 1 was changed"},
      {"a link deleted",
       {"DELETE FROM record_chain WHERE seq = 7"},
       "Chain link 8 (use 1) follows link 6: links 7-7 were removed there"},
      {"a link's hash",
       {"UPDATE record_chain SET content_hash = link_hash WHERE seq = 2"},
       "Chain link 2 (history entry 2) does not follow link 1"},
      {"the last link dropped with its record",
       {"DELETE FROM record_chain WHERE seq = 12",
        "UPDATE physical_count SET certified_at = NULL, statement = NULL"},
       "The chain's head names link 12, but the chain ends at link 11"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* sql : c.sql) this->Sql(sql);
    const ChainCheck check = this->Check();
    ASSERT_FALSE(check.violations.empty());
    EXPECT_THAT(check.violations.front(), HasSubstr(c.named));
    this->TearDown();
    this->SetUp();
  }
}

TYPED_TEST(ChainSuite, ACheckpointShowsTheChainRecomputedWholeAfterIt) {
  const ChainHead checkpoint = this->S().RecordChainHead();
  this->S().Withdraw(As(kClerk, "later"), "C", 1100180, 1100180, "torn");
  EXPECT_THAT(this->Check(checkpoint).violations, ::testing::IsEmpty())
      << "links after the checkpoint are the chain going on";

  // Whoever holds the database and the server's code can change an entry and link every
  // record again from the first: the chain alone then holds.
  this->mStore.reset();
  for (const char* sql :
       {"UPDATE range_audit SET reason = 'lost in the mail' WHERE event = 'WITHDRAW'",
        "DROP TABLE record_chain_head", "DROP TABLE record_chain",
        "DROP INDEX physical_count_settlement_id",
        "ALTER TABLE physical_count_settlement DROP COLUMN settlement_id",
        "DROP INDEX form_use_day", "DROP INDEX form_use_officer",
        "DELETE FROM schema_migration WHERE version >= 12"}) {
    this->Sql(sql);
  }
  this->mStore = OpenStore(this->mBackend.Address(), this->Options());
  EXPECT_THAT(this->Check().violations, ::testing::IsEmpty());
  const ChainCheck check = this->Check(checkpoint);
  ASSERT_EQ(check.violations.size(), 1u);
  EXPECT_THAT(check.violations[0],
              HasSubstr("is not the link the checkpoint signed: the chain up to it was rewritten"));

  ChainHead beyond = checkpoint;
  beyond.seq = 40;
  EXPECT_THAT(this->Check(beyond).violations.at(0),
              HasSubstr("The checkpoint signed link 40, but the chain ends at link 15"));
}

TYPED_TEST(ChainSuite, TwoServersSavingAtOnceLinkOneAfterTheOther) {
  // A second store on the same database: another server process, as far as the chain knows.
  const auto other = OpenStore(this->mBackend.Address(), this->Options());
  constexpr int kSaves = 12;
  auto saves = [](Store& store, std::string type, std::int64_t base, const char* name) {
    for (int i = 0; i < kSaves; ++i) {
      RangeChange receipt =
          Change(RangeChange::Action::Add, "C", base + i * 10, base + i * 10 + 9, 0, "A");
      receipt.formType = type;
      store.ApplyChanges(As(kClerk, fmt::format("{}{}", name, i)), {receipt});
    }
  };
  std::thread first(saves, std::ref(this->S()), "C", 1300001, "one");
  std::thread second(saves, std::ref(*other), "B", 300, "two");
  first.join();
  second.join();
  // Taking turns, a server finds its head stale at the first save of its turn, and not at
  // the next.
  for (int turn = 0; turn < 4; ++turn) {
    if (turn % 2) {
      saves(this->S(), "C", 1400001 + turn * 1000, turn == 1 ? "turn1-" : "turn3-");
    } else {
      saves(*other, "B", 1000 + turn * 1000, turn == 0 ? "turn0-" : "turn2-");
    }
  }
  const ChainCheck check = this->Check();
  EXPECT_THAT(check.violations, ::testing::IsEmpty());
  EXPECT_EQ(check.links, 12 + 6 * kSaves);
}

}  // namespace
}  // namespace fm::server::testing

// A generated history of three years on both backends: what verify judges holds, every kind
// of work shows in the history, the uses and the counts, and one seed makes one store.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "StoreBackends.h"
#include "server/store/GeneratedHistory.h"
#include "server/store/ReferenceData.h"

namespace fm::server::testing {
namespace {

template <typename Backend>
class GeneratedHistorySuite : public StoreFixture<Backend> {
 protected:
  static HistoryOptions Small() { return SmallHistory(2000, 3, 11); }
  Store& S() { return *this->mStore; }
};

TYPED_TEST_SUITE(GeneratedHistorySuite, StoreBackends, BackendNames);

// What an entry of the history did, told from its before and after.
std::string KindOf(const CustodyEntry& e) {
  if (!e.before || e.event != custody::kChange) return e.event;
  const FormRange& b = *e.before;
  const FormRange& a = e.after;
  if (a.status != b.status) return a.status == "V" ? "void" : "delisting";
  if (a.troop != b.troop || a.district != b.district) return "move";
  if (a.registry != b.registry) return a.registry == kNoOfficer ? "return" : "assignment";
  return "other";
}

TYPED_TEST(GeneratedHistorySuite, VerifiesHoldsEveryKindOfWorkAndRepeatsForOneSeed) {
  const GeneratedHistory made = GenerateHistory(this->mBackend.Address(), {}, this->Small());
  const InventoryCheck check = this->S().CheckInventory();
  EXPECT_TRUE(check.violations.empty()) << check.violations.front();
  EXPECT_EQ(check.ranges, made.ranges);
  EXPECT_NEAR(static_cast<double>(made.ranges), 2000, 300);
  const ChainCheck chain = this->S().CheckRecordChain({});
  EXPECT_EQ(chain.violationCount, 0u) << (chain.violations.empty() ? "" : chain.violations[0]);

  // A troop's last year, as its accountability report reads it, and the kinds of work of
  // every troop over the whole history.
  std::map<std::string, int> kinds;
  for (const auto& troop : this->S().Reference().Troops()) {
    ScopeHistoryQuery q{{troop.id, "", true, std::nullopt}, "", "2025-01-01", "2026-01-02"};
    const HoldingsHistory year = this->S().ScopeHistory(q);
    EXPECT_FALSE(year.entries.empty()) << "troop " << troop.id;
    q.start = "2022-01-01";
    for (const auto& e : this->S().ScopeHistory(q).entries) ++kinds[KindOf(e)];
  }
  for (const char* kind : {custody::kLoad, custody::kReceive, custody::kPiece, custody::kWithdraw,
                           "void", "delisting", "move", "return", "assignment"}) {
    EXPECT_GT(kinds[kind], 0) << kind;
  }
  std::set<protocol::Disposition> dispositions;
  this->S().ForEachUse({}, [&](const protocol::FormUse& u, std::size_t) {
    dispositions.insert(u.disposition);
    return true;
  });
  EXPECT_EQ(dispositions.size(), 4u) << "issued, spoiled, lost and stolen";
  const auto counts = this->S().Counts();
  ASSERT_FALSE(counts.empty());

  TypeParam again;
  std::string why;
  ASSERT_TRUE(again.Prepare(&why)) << why;
  GenerateHistory(again.Address(), {}, this->Small());
  const auto twin = OpenStore(again.Address());
  EXPECT_EQ(twin->RecordChainHead(), this->S().RecordChainHead())
      << "the chain links every entry, use and count with its content";
  EXPECT_EQ(twin->FindRanges({}), this->S().FindRanges({}));
  again.Cleanup();
}

}  // namespace
}  // namespace fm::server::testing

// Months of random saves and uses on both backends (assignments, moves, voids, unassignments;
// uses of every disposition, of held numbers and of others, some contradicting a standing
// one), then reconciliations of random holders, days and gaps:
//   - every held number is in exactly one of used (by disposition), in stock or unaccounted;
//   - a used number has a standing use of that disposition dated on or before the day; a
//     number in stock or unaccounted has none; an unaccounted one lies below a number of the
//     same held span used more than the gap before;
//   - what the holders hold together is the accountability report's ending balance of that
//     day, and every line of the report balances;
//   - every range's remaining count is its size less the standing uses within it;
//   - read the other way (the held spans never left out in SQL, every use in doubt judged
//     from its chain of custody rather than from its officer's former holdings), a
//     reconciliation lists the same lines and exceptions.
//
// FM_PROPERTY_SEED replays a run; the seed is printed with every failure.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <map>
#include <random>

#include "RandomSaves.h"
#include "StoreBackends.h"
#include "server/handler/ReportRequest.h"
#include "server/handler/RequestHandler.h"
#include "server/store/GeneratedHistory.h"
#include "server/store/ReferenceData.h"
#include "server/store/TimeText.h"
#include "server/testing/ForwardingStore.h"

namespace fm::server::testing {
namespace {

using protocol::Disposition;

constexpr int kOperations = 120;
const std::pair<const char*, const char*> kStations[] = {{"A", "1"}, {"A", "2"}, {"B", "1"}};
const char* const kDispositions[] = {"ISSUED", "ISSUED", "ISSUED", "SPOILED", "LOST", "STOLEN"};

// A store that knows of no former holdings: every use in doubt is judged from its chain.
struct ChainsOnly : ForwardingStore {
  using ForwardingStore::ForwardingStore;
  std::vector<CustodyEntry> FormerHoldings(const std::vector<std::int64_t>&, const std::string&,
                                           const std::string&) override {
    return {};
  }
};

// Each number of a tally once per time it is listed.
void Count(const protocol::SerialTally& tally, std::map<std::int64_t, int>& numbers) {
  for (const auto& r : tally.ranges) {
    for (std::int64_t n = r.from; n <= r.to; ++n) ++numbers[n];
  }
}

template <typename Backend>
class ReconciliationProperty : public StoreFixture<Backend>, protected RandomChoices {
 protected:
  void SetUp() override {
    StoreFixture<Backend>::SetUp();
    if (!this->mStore) return;
    this->mStore.reset();
    StoreOptions options = this->Options();
    options.clock = [this] { return UtcTimestamp(mNow); };
    this->mStore = OpenStore(this->mBackend.Address(), options);
    RequestHandlerOptions handlerOptions;
    handlerOptions.today = [this] { return Today(); };
    mHandler = std::make_unique<RequestHandler>(this->mStore, handlerOptions);
    // The same reconciliations read the other way: the held spans never left out in SQL,
    // and every use in doubt judged from its chain of custody.
    handlerOptions.maxExcludedSpans = 0;
    mOtherWay = std::make_unique<RequestHandler>(std::make_shared<ChainsOnly>(this->mStore),
                                                 handlerOptions);
  }

  // One of a few officers, so that numbers come back to those who held them before.
  std::int64_t AnyOfficer() {
    const auto& officers = this->mStore->Reference().Officers();
    const std::int64_t few = std::min<std::int64_t>(6, std::ssize(officers));
    return officers[static_cast<std::size_t>(Pick(0, few - 1))].registry;
  }
  std::string Today() const { return LocalDate(mNow); }
  std::string DayBefore(int days) const { return LocalDate(mNow - std::chrono::hours(24 * days)); }
  SaveContext Clerk() { return {fmt::format("req-{}", ++mRequests), "TEST", 7, "Test Admin"}; }

  void Load() {
    std::vector<FormRange> ranges;
    const std::int64_t base = this->mStore->Reference().FindFormType("C")->lowest;
    for (int i = 0; i < 10; ++i) {
      const auto& [troop, district] = Any(kStations);
      ranges.push_back(Stock("C", base + i * 100, base + i * 100 + Pick(30, 80),
                             Pick(0, 2) ? AnyOfficer() : 0, "A", troop, district));
    }
    this->mStore->LoadInventory(ranges, Clerk(), true);
  }

  // A part of a held range to another officer, station or status, as the screen saves it.
  void Save(const StoredRange& s) {
    const std::int64_t a = Pick(s.range.from, s.range.to);
    const std::int64_t b = Pick(a, s.range.to);
    RangeChange entered = Rewrite(s);
    switch (Pick(0, 3)) {
      case 0:
        entered.registry = AnyOfficer();
        entered.status = "A";
        break;
      case 1:
        entered.registry = 0;
        entered.status = "U";
        break;
      case 2: {
        const auto& [troop, district] = Any(kStations);
        entered.troop = troop;
        entered.district = district;
        break;
      }
      default:
        entered.status = "V";
    }
    this->mStore->ApplyChanges(Clerk(), ScreenSplit(s, a, b, entered));
  }

  // A few uses of one range's numbers (now and then of a number after it), dated up to two
  // months back, by its officer, one who held the number before, or another.
  void Use(const StoredRange& s) {
    std::vector<protocol::ReportedUse> uses;
    for (std::int64_t k = Pick(1, 6); k > 0; --k) {
      const std::int64_t n = Pick(s.range.from, s.range.to + 2);
      std::int64_t officer = Pick(0, 3) && s.range.registry ? s.range.registry : AnyOfficer();
      if (Pick(0, 3) == 0) {  // one who held it once, the use dated in his time or after it
        const auto chain = this->mStore->FormHistory("C", n);
        if (!chain.empty()) {
          const FormRange& before =
              chain[static_cast<std::size_t>(Pick(0, std::ssize(chain) - 1))].after;
          if (before.registry != 0) officer = before.registry;
        }
      }
      uses.push_back({"C", std::to_string(n), Any(kDispositions),
                      DayBefore(static_cast<int>(Pick(0, 60))), std::to_string(officer),
                      fmt::format("REF-{}", n), "torn", ""});
    }
    UseBatch batch;
    batch.sourceText = "handed back";
    batch.rules.today = Today();
    batch.lines = [uses](const std::function<void(const UseLine&)>& each) {
      std::int64_t line = 0;
      for (const auto& use : uses) each({++line, use, ""});
    };
    this->mStore->RecordUses(Clerk(), batch);
  }

  void CheckReconciliation(ReconcileParameters asked) {
    const std::string what = fmt::format("station {} officer {} as of {} gap {}", asked.station,
                                         asked.officer, asked.asOf, asked.gapDays);
    const protocol::Reconciliation r = mHandler->Reconcile(asked);
    const protocol::Reconciliation again = mOtherWay->Reconcile(asked);
    EXPECT_EQ(again.lines, r.lines) << what << ": read the other way";
    EXPECT_EQ(again.exceptions, r.exceptions) << what;
    mSeen.exceptions += static_cast<std::int64_t>(r.exceptions.size());
    std::map<std::int64_t, protocol::FormUse> standing;
    for (const auto& u : this->mStore->UsesIn("C", 0, 9'999'999'999)) standing[u.number] = u;
    const auto usedBy = [&](std::int64_t n, const std::string& day) -> const protocol::FormUse* {
      const auto it = standing.find(n);
      return it != standing.end() && it->second.usedOn <= day ? &it->second : nullptr;
    };
    const std::string gapStart =
        LocalDate(std::chrono::sys_days{*ParseIsoDate(r.asOf)} - std::chrono::days{r.gapDays});
    std::map<std::int64_t, int> held;
    for (const auto& line : r.lines) {
      std::map<std::int64_t, int> lineHeld, parts;
      Count(line.held, lineHeld);
      Count(line.held, held);
      for (Disposition d : protocol::kDispositions) {
        Count(line.Used(d), parts);
        for (const auto& span : line.Used(d).ranges) {
          for (std::int64_t n = span.from; n <= span.to; ++n) {
            const protocol::FormUse* use = usedBy(n, r.asOf);
            ASSERT_TRUE(use && use->disposition == d) << what << ": " << n << " is not used so";
          }
        }
      }
      Count(line.inStock, parts);
      Count(line.unaccounted, parts);
      mSeen.held += line.held.count;
      mSeen.used += line.held.count - line.inStock.count - line.unaccounted.count;
      mSeen.unaccounted += line.unaccounted.count;
      ASSERT_EQ(parts, lineHeld) << what << ", " << line.holder << ": parts differ from held";
      for (const auto* tally : {&line.inStock, &line.unaccounted}) {
        for (const auto& span : tally->ranges) {
          for (std::int64_t n = span.from; n <= span.to; ++n) {
            ASSERT_EQ(usedBy(n, r.asOf), nullptr) << what << ": " << n << " has a use";
          }
        }
      }
      for (const auto& span : line.unaccounted.ranges) {
        const auto& within = *std::find_if(
            line.held.ranges.begin(), line.held.ranges.end(),
            [&](const protocol::SerialRange& h) { return h.from <= span.from && span.to <= h.to; });
        bool later = false;
        for (std::int64_t m = span.to + 1; m <= within.to && !later; ++m) {
          later = usedBy(m, r.asOf) && standing[m].usedOn < gapStart;
        }
        ASSERT_TRUE(later) << what << ": " << span.from << "-" << span.to << " unaccounted";
      }
    }

    ReportParameters report;
    report.station = asked.station;
    report.officer = asked.officer;
    report.from = report.to = asked.asOf;
    std::map<std::int64_t, int> ending;
    for (const auto& line : mHandler->Accountability(report).lines) {
      EXPECT_EQ(line.Imbalance(), 0) << what << ": the report of " << line.formType;
      if (line.formType == "C") Count(line.Tally(protocol::AccountLine::Ending), ending);
    }
    EXPECT_EQ(held, ending) << what << ": held differs from the report's ending balance";
  }

  std::chrono::system_clock::time_point mNow =
      std::chrono::sys_days{std::chrono::year{2026} / 3 / 2} + std::chrono::hours{9};
  std::unique_ptr<RequestHandler> mHandler;
  std::unique_ptr<RequestHandler> mOtherWay;
  int mRequests = 0;
  struct {
    std::int64_t held = 0, used = 0, unaccounted = 0, exceptions = 0;
  } mSeen;  // over every reconciliation checked: a run that met nothing proves nothing
};

TYPED_TEST_SUITE(ReconciliationProperty, StoreBackends, BackendNames);

TYPED_TEST(ReconciliationProperty, HeldNumbersArePartitionedAndTheReportStillBalances) {
  const unsigned seed = PropertySeed();
  SCOPED_TRACE(fmt::format("FM_PROPERTY_SEED={}", seed));
  std::cout << fmt::format("[ SEED     ] FM_PROPERTY_SEED={} ({})\n", seed, TypeParam::kName);
  this->Seed(seed);
  this->Load();
  for (int i = 0; i < kOperations; ++i) {
    this->mNow += std::chrono::hours(this->Pick(2, 40));
    RangeQuery query;
    query.status = {{Comparison::Equal, "A"}};
    const auto held = this->mStore->FindRanges(query);
    if (held.empty()) break;
    const StoredRange& s = held[static_cast<std::size_t>(this->Pick(0, held.size() - 1))];
    if (this->Pick(0, 2) == 0) {
      this->Save(s);
    } else {
      this->Use(s);
    }
  }
  for (const auto& s : this->mStore->FindRanges({})) {
    const auto uses = this->mStore->UsesIn("C", s.range.from, s.range.to);
    EXPECT_EQ(s.range.remaining, s.range.Size() - static_cast<std::int64_t>(uses.size()))
        << s.range.from << "-" << s.range.to;
  }
  for (int i = 0; i < 12; ++i) {
    ReconcileParameters asked;
    if (i % 3 == 0) {
      asked.officer = std::to_string(this->AnyOfficer());
    } else {
      const auto& [troop, district] = this->Any(kStations);
      asked.station = i % 3 == 1 ? std::string(troop) + district : std::string(troop);
    }
    asked.asOf = this->DayBefore(static_cast<int>(this->Pick(0, 30)));
    asked.gapDays = std::to_string(this->Pick(0, 20));
    this->CheckReconciliation(asked);
    if (this->HasFatalFailure()) return;
  }
  std::cout << fmt::format("[ CHECKED  ] {} held, {} used, {} unaccounted, {} exceptions\n",
                           this->mSeen.held, this->mSeen.used, this->mSeen.unaccounted,
                           this->mSeen.exceptions);
  EXPECT_GT(this->mSeen.used, 0);
}

// A generated agency's officers use only what they hold: every exception a troop's
// reconciliation would list of its years is one the generator did not mean.
template <typename Backend>
class GeneratedAgency : public StoreFixture<Backend> {};
TYPED_TEST_SUITE(GeneratedAgency, StoreBackends, BackendNames);

TYPED_TEST(GeneratedAgency, ReconcilesWithoutAnException) {
  const GeneratedHistory made =
      GenerateHistory(this->mBackend.Address(), {}, SmallHistory(1500, 2, 5));
  ASSERT_GT(made.uses, 0u);
  RequestHandler handler(this->mStore);
  std::int64_t used = 0;
  for (const auto& troop : this->mStore->Reference().Troops()) {
    ReconcileParameters asked;
    asked.station = troop.id;
    asked.asOf = "2025-12-31";
    const protocol::Reconciliation r = handler.Reconcile(asked);
    for (const auto& line : r.lines) {
      for (const auto& tally : line.used) used += tally.count;
    }
    EXPECT_EQ(r.exceptions.size(), 0u)
        << "troop " << troop.id << ": " << (r.exceptions.empty() ? "" : r.exceptions.front().facts);
  }
  EXPECT_GT(used, 0);
}

}  // namespace
}  // namespace fm::server::testing

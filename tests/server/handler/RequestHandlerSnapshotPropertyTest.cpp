// Answers read while four threads save, on both backends. An answer reading several
// statements must read them from one snapshot, or a save landing between two of them shows:
// a report whose lines do not balance, a form whose holder is not the range its last entry
// wrote. So, while the saves go on, every report (the store's and type 36) balances and
// every form history's holder is what its last entry wrote. And an answer that can be
// compared with the quiet store is: a report whose period ends before the stamp of every
// save still in flight when it was asked read a history that was complete by then, so it
// equals the same report asked again once the saves have stopped; a form's history read
// during the saves is the start of the one read afterwards.
//
// The store's clock is the test's: stamps three hours apart, so that the saves of a run
// cover weeks and type-36 periods (whole days) can end behind them. FM_PROPERTY_SECONDS
// bounds the run per backend (it only ends the loops); FM_PROPERTY_SEED replays the choices.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <iostream>
#include <limits>
#include <mutex>
#include <optional>
#include <random>
#include <thread>

#include "RandomSaves.h"
#include "StoreBackends.h"
#include "protocol/Custody.h"
#include "server/custody/Accountability.h"
#include "server/handler/RequestHandler.h"
#include "server/store/ReferenceData.h"
#include "server/store/StoreError.h"
#include "server/store/TimeText.h"

namespace fm::server::testing {
namespace {

using namespace std::chrono_literals;
using protocol::Criterion;
using protocol::Request;

constexpr int kWriters = 4;
constexpr int kReaders = 2;
constexpr int kMinReads = 30, kMaxReads = 3000;  // per reader
// Comparisons with the quiet store kept per reader, a uniform sample of all it could make.
constexpr std::size_t kMaxComparisons = 300;
constexpr std::int64_t kIdle = std::numeric_limits<std::int64_t>::max();
const char* const kTypes[] = {"C", "B"};
const HolderScope kScopes[] = {{"A", "1", false, {}},
                               {"B", "2", false, {}},
                               {"D", "", false, {}},
                               {"A", "", true, {}},
                               {"", "", false, 1003}};
const auto kFirstStamp = std::chrono::sys_days{std::chrono::year{2024} / 5 / 1};

std::string Stamp(std::int64_t tick) { return UtcTimestamp(kFirstStamp + tick * 3h); }

Criterion Key(const char* name, std::string value) {
  return {std::string("key:") + name, std::move(value), "=", ""};
}

bool Balanced(const std::vector<protocol::AccountabilityLine>& lines) {
  return std::all_of(lines.begin(), lines.end(), [](const auto& l) { return l.Imbalance() == 0; });
}

// Answers of one kind and how many failed their check, with the first failure in words.
struct Verdicts {
  explicit Verdicts(const char* name) : what(name) {}
  const char* what;
  std::atomic<int> judged{0}, failed{0};
  std::mutex mutex;
  std::string first;

  void Judge(bool ok, const std::function<std::string()>& describe) {
    ++judged;
    if (ok || failed++ > 0) return;
    std::lock_guard lock(mutex);
    first = describe();
  }
};

template <typename Backend>
class SnapshotProperty : public StoreFixture<Backend> {};

TYPED_TEST_SUITE(SnapshotProperty, StoreBackends, BackendNames);

TYPED_TEST(SnapshotProperty, AnswersReadDuringSavesAreThoseOfOneMoment) {
  const unsigned seed = PropertySeed();
  std::cout << fmt::format("[ SEED     ] FM_PROPERTY_SEED={} ({})\n", seed, TypeParam::kName);
  auto ticks = std::make_shared<std::atomic<std::int64_t>>(0);
  this->mStore.reset();
  StoreOptions options = this->Options();
  options.clock = [ticks] { return Stamp((*ticks)++); };
  this->mStore = OpenStore(this->mBackend.Address(), options);
  Store& store = *this->mStore;
  RequestHandler handler(this->mStore);

  std::vector<FormRange> inventory;
  for (const char* type : kTypes) {
    const std::int64_t base = store.Reference().FindFormType(type)->lowest;
    for (int i = 0; i < 12; ++i) {
      const HolderScope& at = kScopes[i % 3];
      inventory.push_back(Stock(type, base + i * 120, base + i * 120 + 99, i % 2 ? 1003 : 0,
                                i % 4 ? "A" : "U", at.troop, at.district));
    }
  }
  store.LoadInventory(inventory, SaveContext{"first", "test", 0, "stores"}, true);
  *ticks = 16;  // two days on, so that whole days lie behind the first save

  std::atomic<bool> stop{false};
  std::atomic<int> saved{0};
  std::atomic<std::int64_t> inFlight[kWriters];  // the clock when each writer's save began
  std::atomic<std::int64_t> fresh[2];
  for (auto& f : inFlight) f = kIdle;
  for (int k = 0; k < 2; ++k) fresh[k] = store.Reference().FindFormType(kTypes[k])->lowest + 90'000;
  auto ofType = [](const std::string& type) {
    RangeQuery q;
    q.formType = {{Comparison::Equal, type}};
    return q;
  };
  auto writer = [&](int t) {
    SaveMaker maker(kTypes[t % 2], seed + static_cast<unsigned>(t),
                    [&, t](std::int64_t size) { return fresh[t % 2].fetch_add(size + 2); });
    for (int n = 0; !stop; ++n) {
      const Attempt attempt = maker.Make(store.FindRanges(ofType(kTypes[t % 2])));
      inFlight[t] = ticks->load();  // every stamp this save takes is at least this
      try {
        store.ApplyChanges({fmt::format("w{}-{}", t, n), "test", 1000 + t, "clerk"}, attempt.rows);
        ++saved;
      } catch (const StoreError& e) {
        if (e.GetKind() == StoreError::Kind::Internal) ADD_FAILURE() << e.what();
      }
      inFlight[t] = kIdle;
    }
  };
  // Every save stamped before this has committed; every later stamp is at least this.
  auto watermark = [&] {
    std::int64_t w = ticks->load();
    for (const auto& f : inFlight) w = std::min(w, f.load());
    return w;
  };

  Verdicts answered{"answers are ok"}, balanced{"reports balance"},
      balanced36{"type-36 answers balance"}, holders{"holders are what the last entry wrote"},
      sameReports{"reports equal the quiet store's"},
      same36{"type-36 answers equal the quiet store's"},
      sameHistories{"histories begin the quiet store's"};
  const Principal auditor{7, "Auditor", Role::Viewer, {}};
  auto answer = [&](int type, std::vector<Criterion> criteria) {
    Request request;
    request.requestId = "read";
    request.messageType = type;
    request.criteria = std::move(criteria);
    protocol::Reply reply = handler.Handle(request, auditor).reply;
    answered.Judge(reply.ok, [&] { return reply.error; });
    return reply.ok ? std::optional(std::move(reply.dataSets)) : std::nullopt;
  };
  auto report = [&](const AccountabilityQuery& q) {
    return ComputeAccountability(q, store.ScopeHistory({q.scope, q.formType, q.start, q.end}),
                                 store.Reference())
        .lines;
  };
  std::vector<std::function<void()>> later[kReaders];  // the comparisons with the quiet store
  auto reader = [&](int r) {
    std::mt19937_64 random(seed + 50 + static_cast<unsigned>(r));
    auto pick = [&](std::int64_t low, std::int64_t high) {
      return std::uniform_int_distribution<std::int64_t>(low, high)(random);
    };
    std::int64_t comparable = 0;
    auto compareLater = [&](std::function<void()> check) {
      const auto slot = static_cast<std::size_t>(pick(0, comparable++));
      if (later[r].size() < kMaxComparisons) {
        later[r].push_back(std::move(check));
      } else if (slot < kMaxComparisons) {
        later[r][slot] = std::move(check);
      }
    };
    for (int i = 0; i < kMaxReads && (i < kMinReads || !stop); ++i) {
      const std::int64_t w = watermark();
      const std::string type = kTypes[pick(0, 1)];
      const HolderScope& scope = kScopes[pick(0, std::ssize(kScopes) - 1)];
      if (i % 3 == 0) {
        AccountabilityQuery q;
        q.scope = scope;
        q.formType = pick(0, 2) ? "" : type;
        q.start = Stamp(pick(0, w));
        q.end = Stamp(pick(0, 1) ? w : w + pick(1, 40));
        const auto lines = report(q);
        const auto text = fmt::format("{}{} {} [{}, {})", scope.troop, scope.district,
                                      scope.registry.value_or(0), q.start, q.end);
        balanced.Judge(Balanced(lines), [=] { return text; });
        if (q.end <= Stamp(w)) {
          compareLater(
              [&, q, lines, text] { sameReports.Judge(report(q) == lines, [=] { return text; }); });
        }
      } else if (i % 3 == 1) {
        const FormRange& held =
            inventory[static_cast<std::size_t>(pick(0, std::ssize(inventory) - 1))];
        const std::vector<Criterion> key = {
            Key("REF_TYP_CD", held.formType),
            Key("FORM_SEARCH_NBR", std::to_string(pick(held.from, held.to)))};
        const auto sets = answer(protocol::kFormHistoryMessage, key);
        if (!sets) continue;
        const auto h = protocol::FormHistoryFromDataSets(*sets);
        const auto text = fmt::format("{} {}", held.formType, key[1].value);
        holders.Judge(h.current && !h.entries.empty() &&
                          h.entries.back().range == *h.currentRange &&
                          h.entries.back().after == *h.current,
                      [=] { return text; });
        compareLater([&, key, h, text] {
          const auto now = answer(protocol::kFormHistoryMessage, key);
          if (!now) return;
          const auto quiet = protocol::FormHistoryFromDataSets(*now);
          sameHistories.Judge(
              h.entries.size() <= quiet.entries.size() &&
                  std::equal(h.entries.begin(), h.entries.end(), quiet.entries.begin()),
              [=] { return text; });
        });
      } else {
        // Whole days up to the one before the watermark's, when there is one.
        const auto last = std::max(kFirstStamp, std::chrono::floor<std::chrono::days>(
                                                    kFirstStamp + w * 3h - std::chrono::days{1}));
        const auto first = std::max(kFirstStamp, last - std::chrono::days{pick(0, 20)});
        std::vector<Criterion> key = {Key("FROM_DT", IsoDate(std::chrono::year_month_day{first})),
                                      Key("TO_DT", IsoDate(std::chrono::year_month_day{last}))};
        if (!scope.troop.empty()) key.push_back(Key("TRP_ID", scope.troop));
        if (!scope.wholeTroop && !scope.district.empty())
          key.push_back(Key("TRP_DIST_ID", scope.district));
        if (scope.registry) key.push_back(Key("ASGND_REG_NBR", std::to_string(*scope.registry)));
        const auto sets = answer(protocol::kAccountabilityMessage, key);
        if (!sets) continue;
        const auto got = protocol::AccountabilityFromDataSets(*sets);
        const auto text = fmt::format("{}{} {} {} to {}", scope.troop, scope.district,
                                      scope.registry.value_or(0), key[0].value, key[1].value);
        balanced36.Judge(Balanced(got.lines), [=] { return text; });
        if (got.parameters.end <= Stamp(w)) {
          compareLater([&, key, got, text] {
            const auto now = answer(protocol::kAccountabilityMessage, key);
            if (!now) return;
            const auto quiet = protocol::AccountabilityFromDataSets(*now);
            same36.Judge(quiet.lines == got.lines, [=] { return text; });
          });
        }
      }
    }
  };

  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(static_cast<long>(PropertySeconds() * 1000));
  std::vector<std::thread> writers, readers;
  for (int t = 0; t < kWriters; ++t) writers.emplace_back(writer, t);
  for (int r = 0; r < kReaders; ++r) readers.emplace_back(reader, r);
  std::thread timer([&] {
    while (!stop && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop = true;
  });
  for (auto& t : readers) t.join();
  stop = true;
  timer.join();
  for (auto& t : writers) t.join();
  readers.clear();
  for (auto& checks : later) {
    readers.emplace_back([&checks] {
      for (auto& check : checks) check();
    });
  }
  for (auto& t : readers) t.join();

  std::printf("%s: %d saves (FM_PROPERTY_SEED=%u)\n", TypeParam::kName, saved.load(), seed);
  for (Verdicts* v :
       {&answered, &balanced, &balanced36, &holders, &sameReports, &same36, &sameHistories}) {
    std::printf("  %s: %d of %d failed\n", v->what, v->failed.load(), v->judged.load());
    EXPECT_EQ(v->failed, 0) << v->what << ": " << v->failed << " of " << v->judged
                            << " failed, the first: " << v->first << " (FM_PROPERTY_SEED=" << seed
                            << ")";
    if (v != &answered) {
      EXPECT_GT(v->judged, 0) << v->what;
    }
  }
}

}  // namespace
}  // namespace fm::server::testing

// A generated history of several months on both backends - receipts (new numbers and
// numbers withdrawn before), splits, assignments, unassignments, moves between stations,
// voids and other delistings, reinstatements, withdrawals - recorded by the test as it asks
// for each change, number by number. Then, for several holders and periods:
//   - the accountability report equals the test's own replay of what it asked for, at the
//     period's start and end and for every movement in between, line by line, range by range;
//   - every line balances;
//   - the history of any form is exactly the entries that wrote it, oldest first;
//   - the lineage written by the saves is what migration 5 works out from the history alone.
//
// FM_PROPERTY_SEED replays a run; the seed is printed with every failure.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <set>

#include "RandomSaves.h"
#include "StoreBackends.h"
#include "server/custody/Accountability.h"
#include "server/handler/ReportRequest.h"
#include "server/handler/RequestHandler.h"
#include "server/store/ReferenceData.h"
#include "server/store/TimeText.h"

namespace fm::server::testing {
namespace {

using protocol::AccountLine;

constexpr int kOperations = 220;
const char* const kTypes[] = {"C", "B"};
const std::pair<const char*, const char*> kStations[] = {
    {"A", "1"}, {"A", "2"}, {"A", ""}, {"B", "1"}, {"C", "3"}};
const char* const kStatuses[] = {"A", "A", "A", "U", "V", "R", "L"};

// What the test knows of one number at one moment.
struct State {
  std::string troop, district;
  std::int64_t registry = 0;
  std::string status;
  friend bool operator==(const State&, const State&) = default;
};

// One row the test asked for, as it touches one number: what the number was before (none:
// received), what it is after (none: withdrawn), and the event the store must record.
struct Step {
  std::string at;
  std::string event;
  std::optional<State> before;
  std::optional<State> after;
  bool used = false;  // the form was used (issued) by then
};

// Per form type and number, every step, in order.
using Replay = std::map<std::pair<std::string, std::int64_t>, std::vector<Step>>;

State StateOf(const FormRange& r) { return {r.troop, r.district, r.registry, r.status}; }

// A multiset of numbers, the way a tally lists them.
using Numbers = std::map<std::int64_t, int>;
Numbers NumbersOf(const protocol::SerialTally& tally) {
  Numbers n;
  for (const auto& r : tally.ranges) {
    for (std::int64_t k = r.from; k <= r.to; ++k) ++n[k];
  }
  return n;
}

template <typename Backend>
class AccountabilityProperty : public StoreFixture<Backend>, protected RandomChoices {
 protected:
  void SetUp() override {
    StoreFixture<Backend>::SetUp();
    if (!this->mStore) return;
    // The clock the test moves on: months of saves in a second.
    this->mStore.reset();
    StoreOptions options = this->Options();
    options.clock = [this] { return UtcTimestamp(mNow); };
    this->mStore = OpenStore(this->mBackend.Address(), options);
  }

  std::int64_t AnyOfficer() { return RandomChoices::AnyOfficer(this->mStore->Reference()); }
  std::string Now() const { return UtcTimestamp(mNow); }
  void Tick() { mNow += std::chrono::minutes(Pick(30, 60 * 24 * 2)); }

  void Record(const std::string& type, std::int64_t from, std::int64_t to, const std::string& event,
              const std::optional<State>& after) {
    for (std::int64_t n = from; n <= to; ++n) {
      auto& steps = mReplay[{type, n}];
      const bool arrives = event == custody::kReceive || event == custody::kLoad;
      std::optional<State> before;
      bool used = false;
      if (!steps.empty() && !arrives) {
        before = steps.back().after;
        used = steps.back().used;
      }
      steps.push_back({Now(), event, before, after, used});
    }
  }

  std::vector<StoredRange> Held(const std::string& type) {
    RangeQuery q;
    q.formType.push_back({Comparison::Equal, type});
    return this->mStore->FindRanges(q);
  }

  SaveContext Clerk() { return {fmt::format("req-{}", ++mRequests), "TEST", 1001, "Test Clerk"}; }

  void Load() {
    std::vector<FormRange> ranges;
    for (const char* type : kTypes) {
      const std::int64_t base = this->mStore->Reference().FindFormType(type)->lowest;
      for (int i = 0; i < 8; ++i) {
        const std::int64_t from = base + i * 100;
        const auto& [troop, district] = Any(kStations);
        const std::string status = Any(kStatuses);
        FormRange r =
            Stock(type, from, from + Pick(20, 90), status == "A" && Pick(0, 1) ? AnyOfficer() : 0,
                  status, troop, district);
        r.remaining = r.Size() - Pick(0, r.Size() / 2);
        ranges.push_back(r);
      }
      mNextFresh[type] = base + 1000;
    }
    this->mStore->LoadInventory(ranges, Clerk(), true);
    for (const auto& r : ranges) {
      Record(r.formType, r.from, r.to, custody::kLoad, StateOf(r));
      for (std::int64_t n = r.from; n <= r.to - r.remaining; ++n) {
        mReplay[{r.formType, n}].back().used = true;
      }
    }
  }

  // A receipt of new numbers, or of numbers withdrawn before.
  void Receive(const std::string& type) {
    FormRange r;
    r.formType = type;
    if (!mWithdrawn[type].empty() && Pick(0, 1)) {
      auto it = mWithdrawn[type].begin();
      std::advance(it, Pick(0, static_cast<std::int64_t>(mWithdrawn[type].size()) - 1));
      r.from = it->first;
      r.to = it->second;
      mWithdrawn[type].erase(it);
    } else {
      r.from = mNextFresh[type];
      r.to = r.from + Pick(5, 60);
      mNextFresh[type] = r.to + Pick(1, 20);
    }
    const auto& [troop, district] = Any(kStations);
    StoredRange received;
    received.range = Stock(type, r.from, r.to, 0, "A", troop, district);
    RangeChange add = Rewrite(received);
    add.action = RangeChange::Action::Add;
    add.rowVersion.reset();
    this->mStore->ApplyChanges(Clerk(), {add});
    Record(type, r.from, r.to, custody::kReceive, State{troop, district, 0, "A"});
  }

  // [a, b] of the stored range `s` becomes `next`; the rest stays as it was (the screen's
  // three-way split).
  void Change(const StoredRange& s, std::int64_t a, std::int64_t b, const State& next) {
    RangeChange entered = Rewrite(s);
    entered.troop = next.troop;
    entered.district = next.district;
    entered.registry = next.registry;
    entered.status = next.status;
    const auto rows = ScreenSplit(s, a, b, entered);
    this->mStore->ApplyChanges(Clerk(), rows);
    for (const auto& c : rows) {
      const char* event =
          c.action == RangeChange::Action::Update ? custody::kChange : custody::kPiece;
      Record(s.range.formType, c.from, c.to, event,
             State{c.troop, c.district, *c.registry, *c.status});
    }
  }

  void Operate(const std::string& type) {
    const auto held = Held(type);
    const int kind = static_cast<int>(Pick(0, 9));
    if (held.empty() || kind == 0) return Receive(type);
    const StoredRange& s = held[static_cast<std::size_t>(Pick(0, held.size() - 1))];
    const FormRange& r = s.range;
    std::int64_t a = Pick(r.from, r.to);
    std::int64_t b = Pick(a, r.to);
    if (Pick(0, 2) == 0) {
      a = r.from;
      b = r.to;
    }
    State next = StateOf(r);
    switch (kind) {
      case 1:
      case 2:  // assignment (and a reinstatement, when the range was delisted)
        next.registry = AnyOfficer();
        next.status = "A";
        break;
      case 3:  // unassignment, as the screen writes it
        next.registry = 0;
        next.status = "U";
        break;
      case 4:
      case 5:
      case 6:
      case 7: {  // a move to another station, a void or another delisting, back to "A", or both
        if (kind <= 5 || Pick(0, 2) == 0) {
          const auto& [troop, district] = Any(kStations);
          next.troop = troop;
          next.district = district;
        }
        if (kind >= 6 || Pick(0, 2) == 0) next.status = Any(kStatuses);
        break;
      }
      default: {  // a withdrawal, sometimes across the next range too
        std::int64_t to = b;
        for (const auto& other : held) {
          if (other.range.from == r.to + 1 && b == r.to && Pick(0, 1)) {
            to = Pick(other.range.from, other.range.to);
          }
        }
        this->mStore->Withdraw(Clerk(), type, a, to, "destroyed");
        for (const auto& cut : held) {
          const FormRange& c = cut.range;
          if (c.to < a || c.from > to) continue;
          if (c.from < a) Record(type, c.from, a - 1, custody::kChange, StateOf(c));
          // The range's own row keeps the first piece left; a second one is split off.
          if (c.to > to) {
            Record(type, to + 1, c.to, c.from < a ? custody::kPiece : custody::kChange, StateOf(c));
          }
          Record(type, std::max(a, c.from), std::min(to, c.to), custody::kWithdraw, std::nullopt);
        }
        mWithdrawn[type].insert({a, to});
        return;
      }
    }
    Change(s, a, b, next);
  }

  // The test's own account of a holder over [start, end), from the steps it recorded.
  protocol::AccountabilityReport Expected(const AccountabilityQuery& q) {
    const ReferenceData& reference = this->mStore->Reference();
    auto inBalance = [&](const std::optional<State>& s) {
      if (!s) return false;
      FormRange r;
      r.troop = s->troop;
      r.district = s->district;
      r.registry = s->registry;
      return q.scope.Holds(r) && IsStockStatus(s->status, reference);
    };
    auto stepAt = [](const std::vector<Step>& steps, const std::string& t) {
      const Step* last = nullptr;
      for (const auto& step : steps) {
        if (step.at < t) last = &step;
      }
      return last;
    };
    auto stateAt = [&](const std::vector<Step>& steps, const std::string& t) {
      const Step* step = stepAt(steps, t);
      return step ? step->after : std::nullopt;
    };
    std::map<std::string, protocol::AccountabilityLine> lines;
    for (const auto& [key, steps] : mReplay) {
      const auto& [type, n] = key;
      if (!q.formType.empty() && type != q.formType) continue;
      auto& line = lines[type];
      line.formType = type;
      if (inBalance(stateAt(steps, q.start))) line.Tally(AccountLine::Beginning).Add({n, n});
      if (inBalance(stateAt(steps, q.end))) {
        line.Tally(AccountLine::Ending).Add({n, n});
        if (const Step* last = stepAt(steps, q.end); last && last->used) ++line.issued;
      }
      for (const auto& step : steps) {
        if (step.at < q.start || step.at >= q.end) continue;
        const bool was = inBalance(step.before);
        const bool is = inBalance(step.after);
        if (was == is) continue;
        AccountLine kind;
        if (is) {
          kind = !step.before                                     ? AccountLine::Received
                 : !IsStockStatus(step.before->status, reference) ? AccountLine::Reinstated
                                                                  : AccountLine::TransferredIn;
        } else if (!step.after) {
          kind = AccountLine::Withdrawn;
        } else if (!IsStockStatus(step.after->status, reference)) {
          kind = AccountLine::Delisted;
          line.delistedByReason[step.after->status].Add({n, n});
        } else {
          kind = AccountLine::TransferredOut;
        }
        line.Tally(kind).Add({n, n});
      }
    }
    protocol::AccountabilityReport report;
    for (auto& [type, line] : lines) report.lines.push_back(line);
    return report;
  }

  void CheckReport(const AccountabilityQuery& q, const protocol::AccountabilityReport& actual,
                   const std::string& what) {
    const auto expected = Expected(q);
    std::map<std::string, const protocol::AccountabilityLine*> got;
    for (const auto& line : actual.lines) {
      got[line.formType] = &line;
      EXPECT_EQ(line.Imbalance(), 0) << what << " " << line.formType << " does not balance";
    }
    for (const auto& want : expected.lines) {
      const protocol::AccountabilityLine empty;
      const auto it = got.find(want.formType);
      const protocol::AccountabilityLine& line = it == got.end() ? empty : *it->second;
      for (AccountLine kind : protocol::kAccountLines) {
        EXPECT_EQ(NumbersOf(line.Tally(kind)), NumbersOf(want.Tally(kind)))
            << what << " " << want.formType << " " << protocol::AccountLineKey(kind);
        EXPECT_EQ(line.Tally(kind).count, want.Tally(kind).count);
      }
      EXPECT_EQ(line.issued, want.issued) << what << " " << want.formType << " issued";
      std::map<std::string, Numbers> wantReasons, gotReasons;
      for (const auto& [code, tally] : want.delistedByReason) wantReasons[code] = NumbersOf(tally);
      for (const auto& [code, tally] : line.delistedByReason) gotReasons[code] = NumbersOf(tally);
      EXPECT_EQ(gotReasons, wantReasons) << what << " " << want.formType << " delisted by reason";
    }
  }

  std::chrono::system_clock::time_point mNow =
      std::chrono::sys_days{std::chrono::year{2026} / 1 / 5} + std::chrono::hours{9};
  Replay mReplay;
  std::map<std::string, std::int64_t> mNextFresh;
  std::map<std::string, std::set<std::pair<std::int64_t, std::int64_t>>> mWithdrawn;
  int mRequests = 0;
};

TYPED_TEST_SUITE(AccountabilityProperty, StoreBackends, BackendNames);

TYPED_TEST(AccountabilityProperty, ReportsEqualAReplayOfTheHistoryAndEveryLineBalances) {
  const unsigned seed = PropertySeed();
  SCOPED_TRACE(fmt::format("FM_PROPERTY_SEED={}", seed));
  std::cout << fmt::format("[ SEED     ] FM_PROPERTY_SEED={} ({})\n", seed, TypeParam::kName);
  this->Seed(seed);
  Store& store = *this->mStore;
  const std::string first = this->Now();
  this->Load();
  std::vector<std::string> instants{first};
  for (int i = 0; i < kOperations; ++i) {
    this->Tick();
    this->Operate(kTypes[i % 2]);
    if (i % 7 == 0) instants.push_back(this->Now());  // a boundary at a save's own stamp
  }
  this->Tick();
  instants.push_back(this->Now());

  // Holders: each station, a whole troop, two officers (one of them also at a station).
  std::vector<HolderScope> scopes;
  for (const auto& [troop, district] : kStations) scopes.push_back({troop, district, false, {}});
  scopes.push_back({"A", "", true, {}});
  for (const auto& [key, steps] : this->mReplay) {
    if (steps.back().after && steps.back().after->registry != 0 && scopes.size() < 8) {
      scopes.push_back({"", "", false, steps.back().after->registry});
      scopes.push_back({steps.back().after->troop, steps.back().after->district, false,
                        steps.back().after->registry});
    }
  }
  for (const auto& scope : scopes) {
    for (int p = 0; p < 6; ++p) {
      AccountabilityQuery q;
      q.scope = scope;
      q.formType = p == 3 ? std::string(kTypes[this->Pick(0, 1)]) : std::string();
      const auto i = this->Pick(0, instants.size() - 2);
      const auto j = this->Pick(i + 1, instants.size() - 1);
      q.start = p == 0 ? "2000-01-01T00:00:00.000Z" : instants[static_cast<std::size_t>(i)];
      q.end = instants[static_cast<std::size_t>(j)];
      const auto report = ComputeAccountability(
          q, store.ScopeHistory({q.scope, q.formType, q.start, q.end}), store.Reference());
      this->CheckReport(q, report,
                        fmt::format("{}{} officer {} {} [{}, {})", scope.troop,
                                    scope.wholeTroop ? "*" : scope.district,
                                    scope.registry.value_or(0), q.formType, q.start, q.end));
    }
  }

  // Through the request handler, by days, as the desktop and the HTTP front ask.
  RequestHandler handler(this->mStore);
  ReportParameters parameters{"A1", "", "", "2026-02-01", "2026-03-31"};
  const auto report = handler.Accountability(parameters);
  const auto q =
      ReportQueryFrom(parameters, store.Reference(), *ParseIsoDate(report.parameters.toDate));
  this->CheckReport(q, report, "handler A1 February-March");

  // Every form's history is the steps that wrote it, asked alone or with others of its type
  // (one of them twice).
  auto check = [](const std::vector<CustodyEntry>& history, const auto& steps,
                  const std::string& form) {
    ASSERT_EQ(history.size(), steps.size()) << form;
    for (std::size_t s = 0; s < steps.size(); ++s) {
      EXPECT_EQ(history[s].event, steps[s].event) << form << " step " << s;
      EXPECT_EQ(history[s].at, steps[s].at) << form << " step " << s;
      if (steps[s].after) {
        EXPECT_EQ(StateOf(history[s].after), *steps[s].after) << form << " step " << s;
      }
    }
  };
  std::map<std::string, std::vector<std::int64_t>> batches;
  for (int k = 0; k < 40; ++k) {
    auto it = this->mReplay.begin();
    std::advance(it, this->Pick(0, this->mReplay.size() - 1));
    const auto& [key, steps] = *it;
    check(store.FormHistory(key.first, key.second), steps,
          fmt::format("{} {}", key.first, key.second));
    batches[key.first].push_back(key.second);
  }
  for (auto& [type, numbers] : batches) {
    numbers.push_back(numbers.front());
    const auto histories = store.FormHistories(type, numbers);
    ASSERT_EQ(histories.size(), numbers.size());
    for (std::size_t i = 0; i < numbers.size(); ++i) {
      check(histories[i], this->mReplay.at({type, numbers[i]}),
            fmt::format("{} {} in a batch of {}", type, numbers[i], numbers.size()));
    }
  }

  // The lineage the saves wrote is the one migration 5 derives from the history alone.
  auto lineage = [&] {
    std::map<std::int64_t, std::pair<std::optional<std::int64_t>, std::optional<std::string>>> all;
    for (const auto& scope : scopes) {
      if (scope.registry) continue;
      for (const auto& e : this->mStore->ScopeHistory({scope, "", "0", "9"}).entries) {
        all[e.id] = {e.parentId, e.endedAt};
      }
    }
    return all;
  };
  const auto written = lineage();
  this->mStore.reset();
  for (const auto& sql : UndoHistoryIndexSql()) {
    ASSERT_EQ(this->mBackend.ExecuteDirectly(sql), "") << sql;
  }
  this->mStore = OpenStore(this->mBackend.Address(), this->Options());
  EXPECT_EQ(lineage(), written);
}

}  // namespace
}  // namespace fm::server::testing

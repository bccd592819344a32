#include "server/custody/Reconciliation.h"

#include <fmt/format.h>

#include <algorithm>
#include <map>
#include <tuple>

#include "server/custody/Accountability.h"
#include "server/custody/CustodyWords.h"
#include "server/store/ReferenceData.h"
#include "server/store/TimeText.h"

namespace fm::server {

namespace {

using protocol::Disposition;
using protocol::FormUse;
using protocol::UseException;

// Chains of custody read in one statement: bounds its rows (a few per number) and the
// memory they take.
constexpr std::size_t kChainsPerRead = 500;

// A range held at the reconciliation's instant, and since when it has been held as it is;
// both point into the holdings history, which a troop's decade makes large to copy.
struct Held {
  const FormRange* range;
  const std::string* since;
};

// The ranges of the scope in a stock status at `end`: the ending balance of a custody report
// over [end, end).
std::vector<Held> HeldAt(const ReconciliationQuery& q, const HoldingsHistory& history,
                         const ReferenceData& reference) {
  std::vector<Held> held;
  held.reserve(history.held.size());
  auto take = [&](const FormRange& r, const std::string& since) {
    if (!q.formType.empty() && r.formType != q.formType) return;
    if (q.scope.Holds(r) && IsStockStatus(r.status, reference)) held.push_back({&r, &since});
  };
  for (const StoredRange& s : history.held) {
    if (s.lastChange.at < q.end) take(s.range, s.lastChange.at);
  }
  for (const CustodyEntry& e : history.entries) {
    if (e.event != custody::kWithdraw && e.at < q.end && e.endedAt && *e.endedAt >= q.end) {
      take(e.after, e.at);
    }
  }
  std::sort(held.begin(), held.end(), [](const Held& a, const Held& b) {
    return std::tie(a.range->formType, a.range->from) < std::tie(b.range->formType, b.range->from);
  });
  return held;
}

template <typename Use>
bool ByNumber(const Use& a, const Use& b) {
  return std::tie(a.formType, a.number) < std::tie(b.formType, b.number);
}

// The instants a local day starts and ends at.
struct Day {
  std::string start;
  std::string end;
};

Day DayOf(const std::string& date) {
  const auto day = ParseIsoDate(date);
  if (!day) return {date, date};  // the store keeps only real dates; never met
  const std::chrono::sys_days d{*day};
  return {LocalMidnightUtc(*day),
          LocalMidnightUtc(std::chrono::year_month_day{d + std::chrono::days{1}})};
}

// The days of use, each worked out once: a troop's million uses fall on a few hundred days,
// and the zone's rules are slow to ask.
class Days {
 public:
  const Day& Of(const std::string& date) {
    auto it = mDays.find(date);
    if (it == mDays.end()) it = mDays.emplace(date, DayOf(date)).first;
    return it->second;
  }

 private:
  std::map<std::string, Day, std::less<>> mDays;
};

// The officers' former holdings that a use may lie in, by officer, form type and From. Each
// is an entry of the chain of custody of every number it holds (Store::FormHistory), so a use
// by its officer of one of them on a day it stood is one Checker::Judge finds in order: the
// chain is not read for it.
class FormerHolders {
  static std::tuple<const std::int64_t&, const std::string&, const std::int64_t&> Key(
      const FormRange& r) {
    return std::tie(r.registry, r.formType, r.from);
  }

 public:
  FormerHolders(const std::vector<CustodyEntry>& entries, const ReferenceData& reference) {
    for (const CustodyEntry& e : entries) {
      if (e.event == custody::kWithdraw || !IsStockStatus(e.after.status, reference)) continue;
      mEntries.push_back(&e);
      mLongest = std::max(mLongest, e.after.to - e.after.from);
    }
    std::sort(mEntries.begin(), mEntries.end(), [](const CustodyEntry* a, const CustodyEntry* b) {
      return Key(a->after) < Key(b->after);
    });
  }

  bool Covers(const UseMark& use, const Day& day) const {
    if (use.registry == kNoOfficer) return false;
    // Those of the officer and type starting at most mLongest below the number, back from
    // the last one starting at or below it.
    auto after = std::upper_bound(
        mEntries.begin(), mEntries.end(), std::tie(use.registry, use.formType, use.number),
        [](const auto& key, const CustodyEntry* e) { return key < Key(e->after); });
    while (after != mEntries.begin()) {
      const CustodyEntry& e = **--after;
      if (e.after.registry != use.registry || e.after.formType != use.formType ||
          e.after.from < use.number - mLongest) {
        return false;
      }
      if (use.number <= e.after.to && e.at < day.end && (!e.endedAt || *e.endedAt > day.start)) {
        return true;
      }
    }
    return false;
  }

 private:
  std::vector<const CustodyEntry*> mEntries;
  std::int64_t mLongest = 0;
};

std::string DateOf(const std::string& utc) {
  const auto time = ParseUtcTimestamp(utc);
  return time ? LocalDate(*time) : utc;
}

class Checker {
 public:
  explicit Checker(const ReferenceData& reference) : mReference(reference) {}

  std::string UsedBy(const FormUse& use) const {
    std::string text = protocol::DispositionCaption(use.disposition);
    if (!use.reference.empty()) text += " (" + use.reference + ")";
    text += " on " + use.usedOn;
    if (use.registry != kNoOfficer) text += " by " + OfficerText(use.registry);
    return text;
  }

  // The exception a use is, judged from the chain of custody of its number, if any; the
  // whole record is read only then.
  std::optional<protocol::ReconciliationException> Judge(const UseMark& use,
                                                         const std::vector<CustodyEntry>& entries,
                                                         const UseRecord& record) const {
    const Day day = DayOf(use.usedOn);
    auto exception = [&](UseException kind, std::string facts) {
      FormUse whole = record(use);
      std::string words = fmt::format("{}; {}", UsedBy(whole), facts);
      return protocol::ReconciliationException{kind, std::move(whole), std::move(words), {}};
    };
    const CustodyEntry* last = nullptr;  // the latest entry before the day ends
    std::vector<const CustodyEntry*> thatDay;
    for (const CustodyEntry& e : entries) {
      if (e.at >= day.end) continue;
      last = &e;
      if (e.event != custody::kWithdraw && (!e.endedAt || *e.endedAt > day.start)) {
        thatDay.push_back(&e);
      }
    }
    if (!last) {
      return exception(UseException::NeverReceived,
                       entries.empty() ? "no range has ever held it"
                                       : "first received on " + DateOf(entries.front().at));
    }
    if (thatDay.empty()) {
      if (last->event == custody::kWithdraw) {
        return exception(UseException::AfterDelisting,
                         fmt::format("withdrawn on {} by {}{}", DateOf(last->at), last->userName,
                                     last->reason ? ": " + *last->reason : ""));
      }
      return exception(UseException::AfterDelisting, "no range held it that day");
    }
    std::vector<const CustodyEntry*> stock;
    for (const CustodyEntry* e : thatDay) {
      if (IsStockStatus(e->after.status, mReference)) stock.push_back(e);
    }
    if (stock.empty()) {
      const FormRange& r = thatDay.back()->after;
      const protocol::CustodyState state = CustodyStateOf(r, mReference);
      return exception(UseException::AfterDelisting,
                       fmt::format("{} since {}, held by {}", protocol::StatusText(state),
                                   DateOf(thatDay.back()->at), protocol::HolderText(state)));
    }
    if (use.registry == kNoOfficer) return std::nullopt;
    std::string holders;
    for (const CustodyEntry* e : stock) {
      if (e->after.registry == use.registry) return std::nullopt;
      holders += (holders.empty() ? "" : ", then ") +
                 protocol::HolderText(CustodyStateOf(e->after, mReference));
    }
    return exception(UseException::NotHolder, fmt::format("held that day by {}", holders));
  }

  std::string OfficerText(std::int64_t registry) const {
    const std::string name = OfficerName(mReference, registry);
    return name.empty() ? fmt::format("officer {}", registry)
                        : fmt::format("{} ({})", name, registry);
  }

 private:
  const ReferenceData& mReference;
};

}  // namespace

UseMark MarkOf(const protocol::FormUse& use) {
  return {use.id,     use.formType, use.number,  use.disposition,
          use.usedOn, use.registry, use.standing};
}

std::vector<FormRange> StockHeldAt(const ReconciliationQuery& query, const HoldingsHistory& history,
                                   const ReferenceData& reference) {
  const std::vector<Held> held = HeldAt(query, history, reference);
  std::vector<FormRange> ranges;
  ranges.reserve(held.size());
  for (const Held& h : held) ranges.push_back(*h.range);
  return ranges;
}

protocol::Reconciliation Reconcile(const ReconciliationQuery& query,
                                   const ReconciliationInput& input, const CustodyChains& chains,
                                   const UseRecord& record, const ReferenceData& reference) {
  const std::vector<Held> held = HeldAt(query, input.holdings, reference);
  std::vector<const UseMark*> uses;
  uses.reserve(input.uses.size());
  for (const UseMark& u : input.uses) {
    if (u.standing && u.usedOn <= query.asOf) uses.push_back(&u);
  }
  std::sort(uses.begin(), uses.end(),
            [](const UseMark* a, const UseMark* b) { return ByNumber(*a, *b); });

  // A skipped number counts as unaccounted once a later number's use is older than the gap.
  std::string cutoff = query.asOf;
  if (const auto asOf = ParseIsoDate(query.asOf)) {
    cutoff = IsoDate(std::chrono::year_month_day{std::chrono::sys_days{*asOf} -
                                                 std::chrono::days{query.gapDays}});
  }

  using LineKey = std::tuple<std::string, std::string, std::int64_t, std::string>;
  std::map<LineKey, protocol::ReconciliationLine> lines;
  const Checker checker(reference);
  protocol::Reconciliation result;
  std::vector<bool> plain(uses.size(), false);  // uses the holdings show to be in order
  Days days;

  for (const Held& h : held) {
    const FormRange& r = *h.range;
    auto [it, added] = lines.try_emplace(LineKey{r.troop, r.district, r.registry, r.formType});
    protocol::ReconciliationLine& line = it->second;
    if (added) {
      line.troop = r.troop;
      line.district = r.district;
      line.registry = r.registry;
      line.formType = r.formType;
      if (const FormTypeInfo* type = reference.FindFormType(r.formType)) {
        line.description = type->description;
      }
      HolderScope holder{r.troop, r.district, false, std::nullopt};
      if (r.registry != kNoOfficer) holder.registry = r.registry;
      line.holder = HolderScopeText(holder, reference);
    }
    line.held.Add({r.from, r.to});
    UseMark probe;
    probe.formType = r.formType;
    probe.number = r.from;
    auto first =
        std::lower_bound(uses.begin(), uses.end(), &probe,
                         [](const UseMark* a, const UseMark* b) { return ByNumber(*a, *b); });
    auto last = first;
    std::int64_t skippedBelow = r.from;  // numbers below it without a use are unaccounted
    while (last != uses.end() && (*last)->formType == r.formType && (*last)->number <= r.to) {
      if ((*last)->usedOn < cutoff) skippedBelow = (*last)->number;
      ++last;
    }
    auto gap = [&](std::int64_t from, std::int64_t to) {
      if (from > to) return;
      if (from < skippedBelow) line.unaccounted.Add({from, std::min(to, skippedBelow - 1)});
      if (to >= skippedBelow) line.inStock.Add({std::max(from, skippedBelow), to});
    };
    std::int64_t next = r.from;
    for (auto u = first; u != last; ++u) {
      const UseMark& use = **u;
      if (use.number < next) continue;  // one standing use per number; a second is ignored
      gap(next, use.number - 1);
      line.Used(use.disposition).Add({use.number, use.number});
      next = use.number + 1;
      // Held as it is since before the day of use by the officer named: nothing to prove.
      plain[static_cast<std::size_t>(u - uses.begin())] =
          *h.since < days.Of(use.usedOn).end &&
          (use.registry == kNoOfficer || use.registry == r.registry);
    }
    gap(next, r.to);
  }

  // The others by what their officers held once, and the rest by their chains of custody,
  // read a batch of one form type at a time.
  const FormerHolders former(input.formerHoldings, reference);
  std::vector<const UseMark*> doubtful;
  for (std::size_t i = 0; i < uses.size(); ++i) {
    if (!plain[i] && !former.Covers(*uses[i], days.Of(uses[i]->usedOn))) {
      doubtful.push_back(uses[i]);
    }
  }
  for (std::size_t first = 0; first < doubtful.size();) {
    const std::string& formType = doubtful[first]->formType;
    std::size_t end = first;
    std::vector<std::int64_t> numbers;
    while (end < doubtful.size() && numbers.size() < kChainsPerRead &&
           doubtful[end]->formType == formType) {
      numbers.push_back(doubtful[end++]->number);
    }
    const std::vector<std::vector<CustodyEntry>> chainsRead = chains(formType, numbers);
    for (std::size_t k = first; k < end; ++k) {
      if (auto exception = checker.Judge(*doubtful[k], chainsRead[k - first], record)) {
        result.exceptions.push_back(std::move(*exception));
      }
    }
    first = end;
  }
  for (const ReportedTwice& twice : input.reportedTwice) {
    protocol::ReconciliationException e;
    e.kind = UseException::UsedTwice;
    e.use = twice.reported;
    e.other = twice.standing;
    e.facts = fmt::format("reported {}; the standing record says {}",
                          checker.UsedBy(twice.reported), checker.UsedBy(twice.standing));
    result.exceptions.push_back(std::move(e));
  }
  std::stable_sort(result.exceptions.begin(), result.exceptions.end(),
                   [](const auto& a, const auto& b) { return ByNumber(a.use, b.use); });

  result.troop = query.scope.troop;
  result.district = query.scope.wholeTroop ? std::string() : query.scope.district;
  result.wholeTroop = query.scope.wholeTroop;
  result.registry = query.scope.registry;
  result.formType = query.formType;
  result.asOf = query.asOf;
  result.gapDays = query.gapDays;
  result.holder = HolderScopeText(query.scope, reference);
  for (auto& [key, line] : lines) {
    line.held.Normalize();
    line.inStock.Normalize();
    line.unaccounted.Normalize();
    for (auto& tally : line.used) tally.Normalize();
    result.lines.push_back(std::move(line));
  }
  return result;
}

}  // namespace fm::server

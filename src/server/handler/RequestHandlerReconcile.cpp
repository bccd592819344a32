// The reconciliation request of RequestHandler (message type 38, GET /v1/reconciliation, the
// reconcile command): what the store holds for the scope and the uses of its numbers, read
// from one snapshot, judged by server/Reconciliation.h. Only reads.

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <set>
#include <tuple>

#include "server/custody/CustodyWords.h"
#include "server/custody/Reconciliation.h"
#include "server/handler/ReportRequest.h"
#include "server/handler/RequestError.h"
#include "server/handler/RequestHandler.h"
#include "server/store/ReferenceData.h"
#include "server/store/Store.h"
#include "server/store/StoreError.h"
#include "server/store/TimeText.h"

namespace fm::server {

namespace {

// Officers named in one read: bounds the statement (SQLite's parameters included).
constexpr std::size_t kOfficersPerRead = 500;

// The officers in reads of at most kOfficersPerRead each.
template <typename Read>
void ForEachOfficersRead(const std::vector<std::int64_t>& officers, Read read) {
  for (std::size_t first = 0; first < officers.size(); first += kOfficersPerRead) {
    const auto from = officers.begin() + static_cast<std::ptrdiff_t>(first);
    read(std::vector<std::int64_t>(from, from + static_cast<std::ptrdiff_t>(std::min(
                                                    kOfficersPerRead, officers.size() - first))));
  }
}

// The numbers of the ranges as few spans: a station's ranges of a type often follow one
// another, and each span is one index range in the store's read.
std::vector<TypeSpan> JoinedSpans(const std::vector<FormRange>& held) {
  std::vector<TypeSpan> spans;
  for (const FormRange& r : held) {  // by form type and From
    if (!spans.empty() && spans.back().formType == r.formType && spans.back().to + 1 >= r.from) {
      spans.back().to = std::max(spans.back().to, r.to);
    } else {
      spans.push_back({r.formType, r.from, r.to});
    }
  }
  return spans;
}

// Whether a span of `spans` (by form type and From, apart) holds the number.
bool WithinSpans(const std::vector<TypeSpan>& spans, const std::string& formType,
                 std::int64_t number) {
  const auto after = std::upper_bound(spans.begin(), spans.end(), std::tie(formType, number),
                                      [](const auto& key, const TypeSpan& span) {
                                        return key < std::tie(span.formType, span.from);
                                      });
  return after != spans.begin() && std::prev(after)->formType == formType &&
         number <= std::prev(after)->to;
}

// The standing uses dated on or before the day of the held numbers and of the officers, each
// once, in brief, and the reports kept apart that contradict a use of the held numbers. The
// held spans are read first; the officers' uses of them are then left out, so that a use is
// read once whoever holds it.
void ReadUses(Store& store, const ReconciliationQuery& query, const std::vector<FormRange>& held,
              const std::vector<std::int64_t>& officers, std::size_t maxExcludedSpans,
              ReconciliationInput& input) {
  std::vector<UseMark>& uses = input.uses;
  auto keep = [&](const protocol::FormUse& use) {
    if (use.usedOn <= query.asOf && (query.formType.empty() || use.formType == query.formType)) {
      uses.push_back(MarkOf(use));
    }
  };
  std::vector<UseConflict> conflicts;
  const std::vector<TypeSpan> spans = JoinedSpans(held);
  // One read of each form type's spans: a troop's ranges are tens of thousands of spans.
  for (std::size_t first = 0; first < spans.size();) {
    std::size_t end = first;
    while (end < spans.size() && spans[end].formType == spans[first].formType) ++end;
    UseReading reading;
    reading.brief = true;
    reading.ordered = false;  // Reconcile sorts them by number
    reading.within.assign(spans.begin() + static_cast<std::ptrdiff_t>(first),
                          spans.begin() + static_cast<std::ptrdiff_t>(end));
    UseQuery q;
    q.formType = spans[first].formType;
    const std::size_t before = uses.size();
    store.ForEachUseWith(q, reading, [&](const protocol::FormUse& use, std::size_t index) {
      if (index == 0) uses.resize(before);  // run again from its start: the first rows again
      keep(use);
      return true;
    });
    // Reports kept apart are few: those from the lowest to the highest number, then only
    // the held ones.
    q.from = spans[first].from;
    q.to = spans[end - 1].to;
    const std::size_t conflictsBefore = conflicts.size();
    store.ForEachUseConflict(q, [&](const UseConflict& c, std::size_t index) {
      if (index == 0) conflicts.resize(conflictsBefore);
      if (WithinSpans(reading.within, c.reported.formType, c.reported.number)) {
        conflicts.push_back(c);
      }
      return true;
    });
    first = end;
  }
  // A few spans are left out in the statement; more would make it long and slow to plan, so
  // the held ones among the officers' uses are then passed over as they arrive.
  const bool excluded = spans.size() <= maxExcludedSpans;
  ForEachOfficersRead(officers, [&](std::vector<std::int64_t> some) {
    UseQuery q;
    q.formType = query.formType;
    UseReading reading;
    reading.registries = std::move(some);
    if (excluded) reading.excluded = spans;
    reading.brief = true;
    reading.ordered = false;
    const std::size_t before = uses.size();
    store.ForEachUseWith(q, reading, [&](const protocol::FormUse& use, std::size_t index) {
      if (index == 0) uses.resize(before);
      if (excluded || !WithinSpans(spans, use.formType, use.number)) keep(use);
      return true;
    });
  });
  // The standing side of a number reported twice, whole: from the held spans' uses, which
  // hold it unless it was corrected since or is dated after the day.
  for (const UseConflict& c : conflicts) {
    for (protocol::FormUse& standing : store.UsesOf(c.reported.formType, c.reported.number)) {
      if (standing.id != c.contradicts || !standing.standing || standing.usedOn > query.asOf) {
        continue;
      }
      if (!query.formType.empty() && standing.formType != query.formType) continue;
      input.reportedTwice.push_back({std::move(standing), c.reported});
    }
  }
}

// Whose uses count wherever the numbers are: the officer asked for, or the officers on duty at
// the station and every officer holding its ranges.
std::vector<std::int64_t> OfficersOf(const HolderScope& scope, const std::vector<FormRange>& held,
                                     const ReferenceData& reference) {
  if (scope.registry) return {*scope.registry};
  std::set<std::int64_t> officers;
  for (const FormRange& r : held) {
    if (r.registry != kNoOfficer) officers.insert(r.registry);
  }
  for (const Officer& o : reference.Officers()) {
    if (o.troop == scope.troop && (scope.wholeTroop || o.district == scope.district)) {
      officers.insert(o.registry);
    }
  }
  return {officers.begin(), officers.end()};
}

}  // namespace

protocol::Reconciliation RequestHandler::Reconcile(const ReconcileParameters& parameters) {
  const auto today = ParseIsoDate(Today());
  if (!today) throw RequestError("The server's date could not be read");
  const ReferenceData& reference = mStore->Reference();
  const ReconciliationQuery query = ReconciliationQueryFrom(parameters, reference, *today);
  protocol::Reconciliation result;
  // Holdings, uses and every chain of custody consulted from one snapshot: a save or an
  // import landing in between would show a use of a number the holdings do not have.
  mStore->ReadTogether([&] {
    ReconciliationInput input;
    input.holdings = mStore->ScopeHistory({query.scope, query.formType, query.end, query.end});
    const std::vector<FormRange> held = StockHeldAt(query, input.holdings, reference);
    const std::vector<std::int64_t> officers = OfficersOf(query.scope, held, reference);
    ReadUses(*mStore, query, held, officers, mOptions.maxExcludedSpans, input);
    ForEachOfficersRead(officers, [&](const std::vector<std::int64_t>& some) {
      std::vector<CustodyEntry> entries = mStore->FormerHoldings(some, query.formType, query.end);
      input.formerHoldings.insert(input.formerHoldings.end(),
                                  std::make_move_iterator(entries.begin()),
                                  std::make_move_iterator(entries.end()));
    });
    const CustodyChains chains = [&](const std::string& formType,
                                     const std::vector<std::int64_t>& numbers) {
      return mStore->FormHistories(formType, numbers);
    };
    const UseRecord record = [&](const UseMark& use) {
      for (protocol::FormUse& whole : mStore->UsesOf(use.formType, use.number)) {
        if (whole.id == use.id) return std::move(whole);
      }
      throw StoreError::Internal(fmt::format("use {} is gone from its snapshot", use.id));
    };
    result = server::Reconcile(query, input, chains, record, reference);
  });
  result.computedAt = UtcTimestamp(std::chrono::system_clock::now());
  return result;
}

}  // namespace fm::server

// The reconciliation request of RequestHandler (message type 38, GET /v1/reconciliation, the
// reconcile command): what the store holds for the scope and the uses of its numbers, read
// from one snapshot, judged by server/Reconciliation.h. Only reads.

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <set>

#include "server/custody/CustodyWords.h"
#include "server/custody/Reconciliation.h"
#include "server/handler/ReportRequest.h"
#include "server/handler/RequestError.h"
#include "server/handler/RequestHandler.h"
#include "server/store/ReferenceData.h"
#include "server/store/Store.h"
#include "server/store/TimeText.h"

namespace fm::server {

namespace {

// A span of numbers of one form type whose uses a reconciliation reads.
struct Span {
  std::string formType;
  std::int64_t from = 0;
  std::int64_t to = 0;
};

// The numbers of the ranges as few spans: a station's ranges of a type often follow one
// another, and each span is one index range in the store's read.
std::vector<Span> JoinedSpans(const std::vector<FormRange>& held) {
  std::vector<Span> spans;
  for (const FormRange& r : held) {  // by form type and From
    if (!spans.empty() && spans.back().formType == r.formType && spans.back().to + 1 >= r.from) {
      spans.back().to = std::max(spans.back().to, r.to);
    } else {
      spans.push_back({r.formType, r.from, r.to});
    }
  }
  return spans;
}

// The standing uses dated on or before the day of the held numbers and of the officers, each
// once, and the reports kept apart that contradict a use of the held numbers.
void ReadUses(Store& store, const ReconciliationQuery& query, const std::vector<FormRange>& held,
              const std::vector<std::int64_t>& officers, ReconciliationInput& input) {
  std::map<std::int64_t, protocol::FormUse> uses;  // by id: a use both held and an officer's
  auto keep = [&](const protocol::FormUse& use, std::size_t) {
    if (use.usedOn <= query.asOf && (query.formType.empty() || use.formType == query.formType)) {
      uses.try_emplace(use.id, use);
    }
    return true;
  };
  std::vector<UseConflict> conflicts;
  for (const Span& span : JoinedSpans(held)) {
    UseQuery q;
    q.formType = span.formType;
    q.from = span.from;
    q.to = span.to;
    store.ForEachUse(q, keep);
    store.ForEachUseConflict(q, [&](const UseConflict& c, std::size_t) {
      conflicts.push_back(c);
      return true;
    });
  }
  for (std::int64_t officer : officers) {
    UseQuery q;
    q.formType = query.formType;
    q.registry = officer;
    store.ForEachUse(q, keep);
  }
  for (const UseConflict& c : conflicts) {
    auto standing = uses.find(c.contradicts);
    if (standing == uses.end()) continue;  // corrected since, or dated after the day
    input.reportedTwice.push_back({standing->second, c.reported});
  }
  input.uses.reserve(uses.size());
  for (auto& [id, use] : uses) input.uses.push_back(std::move(use));
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
    ReadUses(*mStore, query, held, OfficersOf(query.scope, held, reference), input);
    const CustodyChain chain = [&](const std::string& formType, std::int64_t number) {
      return mStore->FormHistory(formType, number);
    };
    result = server::Reconcile(query, input, chain, reference);
  });
  result.computedAt = UtcTimestamp(std::chrono::system_clock::now());
  return result;
}

}  // namespace fm::server

// The reconciliation request of RequestHandler (message type 38, GET /v1/reconciliation, the
// reconcile command): what the store holds for the scope and the uses of its numbers, read
// from one snapshot, judged by server/Reconciliation.h. Only reads.

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <set>

#include "server/CustodyWords.h"
#include "server/Reconciliation.h"
#include "server/ReferenceData.h"
#include "server/ReportRequest.h"
#include "server/RequestError.h"
#include "server/RequestHandler.h"
#include "server/Store.h"
#include "server/TimeText.h"

namespace fm::server {

namespace {

// The numbers of the ranges as few spans: a station's ranges of a type often follow one
// another, and each span is one index range in the store's read.
std::vector<UseReadQuery::Span> JoinedSpans(const std::vector<FormRange>& held) {
  std::vector<UseReadQuery::Span> spans;
  for (const FormRange& r : held) {  // by form type and From
    if (!spans.empty() && spans.back().formType == r.formType && spans.back().to + 1 >= r.from) {
      spans.back().to = std::max(spans.back().to, r.to);
    } else {
      spans.push_back({r.formType, r.from, r.to});
    }
  }
  return spans;
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
    UseReadQuery uses;
    uses.spans = JoinedSpans(held);
    uses.officers = OfficersOf(query.scope, held, reference);
    uses.usedOnOrBefore = query.asOf;
    UseRead read = mStore->ReadUses(uses);
    if (!query.formType.empty()) {
      std::erase_if(read.uses,
                    [&](const protocol::FormUse& u) { return u.formType != query.formType; });
    }
    input.uses = std::move(read.uses);
    input.reportedTwice = std::move(read.reportedTwice);
    const CustodyChain chain = [&](const std::string& formType, std::int64_t number) {
      return mStore->FormHistory(formType, number);
    };
    result = server::Reconcile(query, input, chain, reference);
  });
  result.computedAt = UtcTimestamp(std::chrono::system_clock::now());
  return result;
}

}  // namespace fm::server

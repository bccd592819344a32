#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "protocol/Usage.h"
#include "server/store/StoreTypes.h"

namespace fm::server {

class ReferenceData;

// A reconciliation asked for: whose forms, which form type, as of which day, and how long a
// skipped number may wait for its use to be reported before it counts as unaccounted.
struct ReconciliationQuery {
  HolderScope scope;
  std::string formType;  // empty: every form type
  std::string asOf;      // the last day counted, "YYYY-MM-DD"
  std::string end;       // UTC instant of the local midnight after asOf
  int gapDays = 30;      // kDefaultGapDays
};

// A use as a reconciliation judges it: the record in brief (Store's brief read), a fraction
// of the whole one, since a troop's reconciliation holds a million of them at once.
struct UseMark {
  std::int64_t id = 0;
  std::string formType;
  std::int64_t number = 0;
  protocol::Disposition disposition = protocol::Disposition::Issued;
  std::string usedOn;  // "YYYY-MM-DD"
  std::int64_t registry = 0;
  bool standing = true;
};

UseMark MarkOf(const protocol::FormUse& use);

// The whole record of a use in brief, read only for the uses an exception names.
using UseRecord = std::function<protocol::FormUse(const UseMark& use)>;

// A use reported for a number whose standing use says otherwise.
struct ReportedTwice {
  protocol::FormUse standing;
  protocol::FormUse reported;
};

// What a reconciliation reads, all from one snapshot of the store.
struct ReconciliationInput {
  // The scope's history as a custody report over [end, end) reads it (Store::ScopeHistory):
  // the ranges held at `end` follow from it as the report's ending balance does.
  HoldingsHistory holdings;
  // The standing uses dated on or before asOf of every number the scope held at `end`, and
  // those recorded for the scope's officers, wherever the numbers were.
  std::vector<UseMark> uses;
  std::vector<ReportedTwice> reportedTwice;
  // What the officers whose uses were read held once and no longer hold as it was
  // (Store::FormerHoldings): a use the holdings leave in doubt is in order when one of these
  // gave its officer the number on the day of use, which spares reading its chain.
  std::vector<CustodyEntry> formerHoldings;
};

// The ranges of the query's scope (and form type) in a stock status at `end`, by form type and
// From: the ending balance of a custody report over [end, end). Their numbers are those whose
// uses a reconciliation reads.
std::vector<FormRange> StockHeldAt(const ReconciliationQuery& query, const HoldingsHistory& history,
                                   const ReferenceData& reference);

// The chains of custody of forms of one type, each oldest first, in the order of the numbers
// (Store::FormHistories). Asked only for the uses whose holder on the day of use is not plain
// from the holdings, a batch of them at a time.
using CustodyChains = std::function<std::vector<std::vector<CustodyEntry>>(
    const std::string& formType, const std::vector<std::int64_t>& numbers)>;

// The reconciliation of the query (docs/usage.md):
//   - held: each range the scope held at `end` in a stock status, by holder (troop, district,
//     officer) and form type;
//   - used: the held numbers with a standing use dated on or before asOf, by disposition;
//   - unaccounted: in each held range, the numbers without a use below the highest number
//     whose use is dated more than gapDays before asOf (a later number reported used long
//     ago, so these were skipped, not waiting to be written);
//   - in stock: the rest. Every held number is in exactly one of the three.
//   - exceptions, each with the facts that prove it: a use by an officer who did not hold the
//     number on the day of use (the holders that day named), a use on a day the number was
//     only delisted or already withdrawn, a use of a number no range held on or before that
//     day, and a number reported used twice (both reports).
// The exceptions carry the whole record of their use, asked of `record`.
protocol::Reconciliation Reconcile(const ReconciliationQuery& query,
                                   const ReconciliationInput& input, const CustodyChains& chains,
                                   const UseRecord& record, const ReferenceData& reference);

}  // namespace fm::server

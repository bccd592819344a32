#pragma once

#include <string>
#include <vector>

#include "protocol/Custody.h"
#include "server/store/StoreTypes.h"

namespace fm::server {

class ReferenceData;
class Store;

// A report asked for: whose forms, which form type, which days (docs/accountability.md).
struct AccountabilityQuery {
  HolderScope scope;
  std::string formType;  // empty: every form type
  std::string fromDate;  // first day, "YYYY-MM-DD"
  std::string toDate;    // last day, inclusive
  std::string start;     // UTC instant of the local midnight starting fromDate
  std::string end;       // UTC instant of the local midnight after toDate
};

// Whether forms of this status are in stock: "A" (in use) and the reason described
// "Unassign", which the screen writes for forms taken back from an officer and still held by
// the station. Every other status is a delisting.
bool IsStockStatus(const std::string& status, const ReferenceData& reference);

// The accountability report of the query computed from the scope's history
// (Store::ScopeHistory over [start, end)). The balances are what the scope held in stock at
// `start` and at `end`: the ranges written before the instant and not replaced by it (held
// now and changed last before it, or an entry ended since), whose holder is the scope and
// whose status is a stock status. Each entry written in the period moves the numbers of
// the range it wrote from the state before it to the state after it, and is counted on one
// line when it moves them into or out of the balance:
//   into:  a receipt or load - received; from a delisted status - reinstated; from another
//          holder (or from a range whose writing was never recorded) - transferred in;
//   out:   a withdrawal - withdrawn; to a delisted status - delisted (by that reason),
//          whoever holds them after; to another holder in stock - transferred out.
// So beginning + received + transferred in + reinstated - transferred out - delisted -
// withdrawn = ending holds for every form type, whatever happened in the period, as long as
// the history is whole; a line that does not balance shows a defect of the history.
// Issued: the forms of the ending balance already used (size less remaining of each range).
// Lines: the query's form type, or every form type with something to show, by code.
protocol::AccountabilityReport ComputeAccountability(const AccountabilityQuery& query,
                                                     const HoldingsHistory& history,
                                                     const ReferenceData& reference);

// Fills each line's usedByDisposition: the numbers of its ending balance whose standing use
// is dated `lastDay` or before, by disposition, read from `store` one form type at a time in
// number order (inside the read the caller is in, so that they are of the report's moment).
void AddUsesOfEnding(protocol::AccountabilityReport& report, Store& store,
                     const std::string& lastDay);

}  // namespace fm::server

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/Custody.h"
#include "protocol/Usage.h"
#include "server/store/StoreTypes.h"

namespace fm::server {

class ReferenceData;

// The officer's "First Last", empty for registry 0 or an officer the reference data does not
// know.
std::string OfficerName(const ReferenceData& reference, std::int64_t registry);

// A range's holder and status as a history shows them, with the officer's name and the
// status's description.
protocol::CustodyState CustodyStateOf(const FormRange& range, const ReferenceData& reference);

// What an entry of the chain of custody did, in words: "received", "received with the initial
// inventory", "withdrawn", or for a change what differs between before and after, joined by
// "; ": "moved from Troop/District A1 to B2", "assigned to John Smith (1001)", "unassigned",
// "reassigned from ... to ...", "voided", "delisted: Lost", "reinstated", and "split from F-T" when
// the range was cut; "comment changed" when only the comment did.
std::string DescribeCustodyChange(const CustodyEntry& entry, const ReferenceData& reference);

// The history of one form for people: the entries (Store::FormHistory) in words, and the
// range holding the form now (none: withdrawn, or never recorded) as `summary` says it:
// "Form 1100050 of ENF001 Citation is held by Troop/District A1 Capital City, assigned to
// John Smith (1002), status in use, in the range 1100001-1100100."
protocol::FormHistory BuildFormHistory(const std::string& formType, std::int64_t number,
                                       const std::vector<CustodyEntry>& entries,
                                       const std::optional<FormRange>& current,
                                       const ReferenceData& reference);

// "Troop/District A1 Capital City", "Troop A - Capital, every district", "John Smith
// (1001)", "John Smith (1001) at Troop/District A1 Capital City": whose forms a report
// accounts for.
std::string HolderScopeText(const HolderScope& scope, const ReferenceData& reference);

// How a form was used, as its history's summary ends: " Used: issued on 2026-11-02 by John
// Smith (1001), reference C-77; recorded from ecite-november.csv by Ann Lee at
// 2026-11-03T08:00:00.000Z. 1 earlier record superseded." Empty without a use.
std::string UsesSummary(const std::vector<protocol::FormUse>& uses, const ReferenceData& reference);

}  // namespace fm::server

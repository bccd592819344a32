#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "server/store/StoreTypes.h"

// What a save shares with the hand receipts (ReceiptStore.cpp).
namespace fm::server {

class SqlConnection;

// A range a save gave to an officer, with the history entry that wrote it.
struct GivenRange {
  FormRange range;
  std::int64_t auditId = 0;
};

// "Last, First M.", as the registry names the officer now; a registry number the officer
// table does not know prints as "Officer N".
std::string OfficerName(SqlConnection& c, std::int64_t registry);

// Issues, inside the save's transaction, one hand receipt per officer and Troop/District of
// `given` (a line per range, in the order given) stamped `at`; answers their numbers.
std::vector<std::int64_t> IssueReceipts(SqlConnection& c, const SaveContext& context,
                                        const std::string& at,
                                        const std::vector<GivenRange>& given);

}  // namespace fm::server

#pragma once

#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace fm {
class Recordset;
}

namespace fm::shell {

// What the grids shown hold, for the status bar: "7 ranges, 300 forms in stock; 2 delisted
// (75 forms) · 9 troopers".
struct SearchTotals {
  long ranges = 0;          // in stock (new ranges: all of them)
  long long forms = 0;      // the form numbers those ranges hold, end to end
  long delistedRanges = 0;  // of a delisting status: not in stock
  long long delistedForms = 0;
  std::optional<long> troopers;  // none when the troopers are not shown
  bool newRanges = false;        // ranges entered, not found
};

// The statuses whose forms are in stock, as the accountability report counts them: "A" (in
// use) and the delisting reasons described "Unassign" (forms taken back from an officer,
// still held by the station), from the reasons of the local code table (code, description)
// the screen's grids take their status descriptions from.
std::set<std::string> StockStatuses(
    const std::vector<std::pair<std::string, std::string>>& reasons);

// The ranges of a record set ("TROOPFORM" rows) and the forms they hold: To Range - From
// Range + 1 for each row that has both numbers and is not reversed. With `stock`, a row
// whose status (TRP_ACTN_CD) is not one of them is counted as delisted; without, every row
// counts as in stock (ranges being entered have no other status).
SearchTotals CountRanges(const Recordset& ranges, const std::set<std::string>* stock = nullptr);

// A count as a clerk writes it, thousands grouped: "1,234,567".
std::string GroupedNumber(long long number);

// "7 ranges, 300 forms in stock; 2 delisted (75 forms) · 9 troopers", "924 delisted ranges,
// 31,250 forms", "1 new range, 250 forms"; the empty text when there is nothing to count.
std::string SummaryText(const SearchTotals& totals);

}  // namespace fm::shell

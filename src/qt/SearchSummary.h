#pragma once

#include <optional>
#include <string>

namespace fm {
class Recordset;
}

namespace fm::qt {

// What the grids shown hold, for the status bar: "14 ranges, 1,186 forms · 9 troopers".
struct SearchTotals {
  long ranges = 0;
  long long forms = 0;           // the form numbers the ranges hold, end to end
  std::optional<long> troopers;  // none when the troopers are not shown
  bool newRanges = false;        // ranges entered, not found
};

// The ranges of a record set ("TROOPFORM" rows) and the forms they hold: To Range - From
// Range + 1 for each row that has both numbers and is not reversed.
SearchTotals CountRanges(const Recordset& ranges);

// "14 ranges, 1,186 forms · 9 troopers", "1 new range, 250 forms"; the empty text when
// there is nothing to count.
std::string SummaryText(const SearchTotals& totals);

}  // namespace fm::qt

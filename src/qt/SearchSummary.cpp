#include "qt/SearchSummary.h"

#include <fmt/format.h>

#include "platform/Recordset.h"
#include "platform/Value.h"

namespace fm::qt {

namespace {

std::string Thousands(long long number) {
  std::string digits = std::to_string(number < 0 ? -number : number);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) {
    digits.insert(static_cast<std::size_t>(at), ",");
  }
  return number < 0 ? "-" + digits : digits;
}

std::string Counted(long long number, const char* one, const char* many) {
  return Thousands(number) + " " + (number == 1 ? one : many);
}

}  // namespace

SearchTotals CountRanges(const Recordset& ranges) {
  SearchTotals totals;
  totals.ranges = ranges.RecordCount();
  const int from = ranges.FindField("FRM_FORM_NBR");
  const int to = ranges.FindField("TO_FORM_NBR");
  if (from < 0 || to < 0) return totals;
  for (long i = 0; i < totals.ranges; ++i) {
    const Value& first = ranges.ValueAt(i, from);
    const Value& last = ranges.ValueAt(i, to);
    if (!first.IsInteger() || !last.IsInteger()) continue;
    if (last.AsInteger() >= first.AsInteger())
      totals.forms += last.AsInteger() - first.AsInteger() + 1;
  }
  return totals;
}

std::string SummaryText(const SearchTotals& totals) {
  if (totals.ranges == 0 && totals.troopers.value_or(0) == 0) return {};
  std::string text = totals.newRanges ? Counted(totals.ranges, "new range", "new ranges")
                                      : Counted(totals.ranges, "range", "ranges");
  text += ", " + Counted(totals.forms, "form", "forms");
  if (totals.troopers) text += " \u00B7 " + Counted(*totals.troopers, "trooper", "troopers");
  return text;
}

}  // namespace fm::qt

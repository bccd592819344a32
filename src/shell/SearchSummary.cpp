#include "shell/SearchSummary.h"

#include <fmt/format.h>

#include "base/Text.h"
#include "platform/Recordset.h"
#include "platform/Value.h"

namespace fm::shell {

namespace {

// The status of a range in use.
constexpr const char* kActiveStatus = "A";

std::string Counted(long long number, const char* one, const char* many) {
  return GroupedNumber(number) + " " + (number == 1 ? one : many);
}

}  // namespace

std::string GroupedNumber(long long number) {
  std::string digits = std::to_string(number < 0 ? -number : number);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) {
    digits.insert(static_cast<std::size_t>(at), ",");
  }
  return number < 0 ? "-" + digits : digits;
}

std::set<std::string> StockStatuses(
    const std::vector<std::pair<std::string, std::string>>& reasons) {
  std::set<std::string> stock{kActiveStatus};
  for (const auto& [code, description] : reasons) {
    if (text::ToUpper(text::Trim(description)) == "UNASSIGN") stock.insert(text::Trim(code));
  }
  return stock;
}

SearchTotals CountRanges(const Recordset& ranges, const std::set<std::string>* stock) {
  SearchTotals totals;
  const long rows = ranges.RecordCount();
  const int from = ranges.FindField("FRM_FORM_NBR");
  const int to = ranges.FindField("TO_FORM_NBR");
  const int status = stock == nullptr ? -1 : ranges.FindField("TRP_ACTN_CD");
  for (long i = 0; i < rows; ++i) {
    const bool delisted =
        status >= 0 && !stock->contains(text::Trim(ranges.ValueAt(i, status).ToText()));
    long long forms = 0;
    if (from >= 0 && to >= 0) {
      const Value& first = ranges.ValueAt(i, from);
      const Value& last = ranges.ValueAt(i, to);
      if (first.IsInteger() && last.IsInteger() && last.AsInteger() >= first.AsInteger()) {
        forms = last.AsInteger() - first.AsInteger() + 1;
      }
    }
    (delisted ? totals.delistedRanges : totals.ranges) += 1;
    (delisted ? totals.delistedForms : totals.forms) += forms;
  }
  return totals;
}

std::string SummaryText(const SearchTotals& totals) {
  const long shown = totals.ranges + totals.delistedRanges;
  if (shown == 0 && totals.troopers.value_or(0) == 0) return {};
  std::string text;
  if (totals.newRanges) {
    text = Counted(shown, "new range", "new ranges") + ", " +
           Counted(totals.forms + totals.delistedForms, "form", "forms");
  } else if (totals.ranges == 0 && totals.delistedRanges > 0) {
    text = Counted(totals.delistedRanges, "delisted range", "delisted ranges") + ", " +
           Counted(totals.delistedForms, "form", "forms");
  } else {
    text = Counted(totals.ranges, "range", "ranges") + ", " +
           Counted(totals.forms, "form", "forms") + " in stock";
    if (totals.delistedRanges > 0) {
      text += fmt::format("; {} delisted ({})", GroupedNumber(totals.delistedRanges),
                          Counted(totals.delistedForms, "form", "forms"));
    }
  }
  if (totals.troopers) text += " \u00B7 " + Counted(*totals.troopers, "trooper", "troopers");
  return text;
}

}  // namespace fm::shell

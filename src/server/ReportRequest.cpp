#include "server/ReportRequest.h"

#include <fmt/format.h>

#include <charconv>

#include "base/Numbers.h"
#include "base/Text.h"
#include "server/ReferenceData.h"
#include "server/RequestError.h"
#include "server/TimeText.h"

namespace fm::server {

namespace {

std::chrono::year_month_day Date(const std::string& text, const char* name) {
  auto date = ParseIsoDate(text);
  if (!date) {
    throw RequestError(fmt::format(
        "{}: \"{}\" is not a date; give it as YYYY-MM-DD, e.g. 2026-11-01", name, text));
  }
  return *date;
}

}  // namespace

AccountabilityQuery ReportQueryFrom(const ReportParameters& p, const ReferenceData& reference,
                                    std::chrono::year_month_day today) {
  AccountabilityQuery query;
  const std::string station = text::ToUpper(text::Trim(p.station));
  const std::string officer = text::Trim(p.officer);
  if (station.empty() && officer.empty()) {
    throw RequestError(
        "A report is of a Troop/District (station, e.g. A1), a whole troop (station A) or an "
        "officer (officer, a registry number); the request names none");
  }
  if (!station.empty()) {
    query.scope.troop = station.substr(0, 1);
    query.scope.district = station.substr(1);
    query.scope.wholeTroop = query.scope.district.empty();
    if (station.size() > 3 || !reference.HasStation(query.scope.troop, query.scope.district)) {
      throw RequestError(fmt::format("station: \"{}\" is not a known Troop/District", p.station));
    }
  }
  if (!officer.empty()) {
    std::int64_t registry = 0;
    if (text::ReadWholeNumber(officer, registry) != text::WholeNumberStatus::kOk || registry <= 0 ||
        !reference.HasRegistry(registry)) {
      throw RequestError(
          fmt::format("officer: \"{}\" is not the registry number of a known officer", p.officer));
    }
    query.scope.registry = registry;
  }
  query.formType = text::ToUpper(text::Trim(p.formType));
  if (!query.formType.empty() && !reference.FindFormType(query.formType)) {
    throw RequestError(fmt::format("form_type: \"{}\" is not a known form type", p.formType));
  }

  using namespace std::chrono;
  year_month_day first{};
  year_month_day last{};
  const std::string fromText = text::Trim(p.from);
  const std::string toText = text::Trim(p.to);
  if (fromText.empty() && toText.empty()) {
    // The last calendar month: the report agencies hand in at the start of a month.
    const year_month thisMonth{today.year(), today.month()};
    const year_month previous = thisMonth - months{1};
    first = year_month_day{previous / day{1}};
    last = year_month_day{year_month_day_last{previous.year(), month_day_last{previous.month()}}};
  } else if (fromText.empty() || toText.empty()) {
    throw RequestError(fmt::format(
        "{}: a period needs both its first day (from) and its last day (to), or neither for the "
        "last calendar month",
        fromText.empty() ? "from" : "to"));
  } else {
    first = Date(fromText, "from");
    last = Date(toText, "to");
  }
  if (sys_days{first} > sys_days{last}) {
    throw RequestError(fmt::format("from: the first day {} is after the last day {}",
                                   IsoDate(first), IsoDate(last)));
  }
  if ((sys_days{last} - sys_days{first}).count() >= kMaxReportDays) {
    throw RequestError(fmt::format("to: a report covers at most {} days; {} to {} is longer",
                                   kMaxReportDays, IsoDate(first), IsoDate(last)));
  }
  query.fromDate = IsoDate(first);
  query.toDate = IsoDate(last);
  query.start = LocalMidnightUtc(first);
  query.end = LocalMidnightUtc(year_month_day{sys_days{last} + days{1}});
  return query;
}

}  // namespace fm::server

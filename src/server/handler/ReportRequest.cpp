#include "server/handler/ReportRequest.h"

#include <fmt/format.h>

#include <charconv>

#include "base/Numbers.h"
#include "base/Text.h"
#include "server/custody/Reconciliation.h"
#include "server/handler/RequestError.h"
#include "server/handler/SearchCriteria.h"
#include "server/store/ReferenceData.h"
#include "server/store/TimeText.h"

namespace fm::server {

namespace {

// `which`: "first" or "last".
std::chrono::year_month_day Date(const std::string& text, const char* which) {
  auto date = ParseIsoDate(text);
  if (!date) {
    throw RequestError(fmt::format(
        "The {} day of the period, \"{}\", is not a date; it is given as YYYY-MM-DD, e.g. "
        "2026-11-01",
        which, text));
  }
  if (const int year = static_cast<int>(date->year());
      year < kFirstReportYear || year > kLastReportYear) {
    throw RequestError(
        fmt::format("The {} day of the period, \"{}\", is not within the years "
                    "{} to {} a report covers",
                    which, text, kFirstReportYear, kLastReportYear));
  }
  return *date;
}

// Whose forms and which form type: the part a report and a reconciliation ask alike. `what`
// names the answer in the message: "A report", "A reconciliation".
void ReadScope(const std::string& stationText, const std::string& officerText,
               const std::string& formTypeText, const ReferenceData& reference, const char* what,
               HolderScope& scope, std::string& formType) {
  const std::string station = text::ToUpper(text::Trim(stationText));
  const std::string officer = text::Trim(officerText);
  if (station.empty() && officer.empty()) {
    throw RequestError(
        fmt::format("{} is of a Troop/District (e.g. A1), a whole troop (e.g. A) or an officer (a "
                    "Registry #); none was given",
                    what));
  }
  if (!station.empty()) {
    scope.troop = station.substr(0, 1);
    scope.district = station.substr(1);
    scope.wholeTroop = scope.district.empty();
    if (station.size() > 3 || !reference.HasStation(scope.troop, scope.district)) {
      throw RequestError(station.size() == 1
                             ? fmt::format("There is no troop {}", station)
                             : fmt::format("There is no Troop/District {}", station));
    }
  }
  if (!officer.empty()) {
    std::int64_t registry = 0;
    if (text::ReadWholeNumber(officer, registry) != text::WholeNumberStatus::kOk || registry < 0) {
      RefuseNumber(CriterionCaption("ASGND_REG_NBR", ""), officer, "a registry number");
    }
    if (registry == kNoOfficer || !reference.HasRegistry(registry)) {
      throw RequestError(fmt::format("No officer has the Registry # {}", registry));
    }
    scope.registry = registry;
  }
  formType = text::ToUpper(text::Trim(formTypeText));
  if (!formType.empty() && !reference.FindFormType(formType)) {
    throw RequestError(fmt::format("The Form Type \"{}\" is not known", formTypeText));
  }
}

}  // namespace

AccountabilityQuery ReportQueryFrom(const ReportParameters& p, const ReferenceData& reference,
                                    std::chrono::year_month_day today) {
  AccountabilityQuery query;
  ReadScope(p.station, p.officer, p.formType, reference, "A report", query.scope, query.formType);

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
        "A period needs its first day and its last day, or neither for the last calendar month; "
        "the {} day is missing",
        fromText.empty() ? "first" : "last"));
  } else {
    first = Date(fromText, "first");
    last = Date(toText, "last");
  }
  if (sys_days{first} > sys_days{last}) {
    throw RequestError(fmt::format("The period's first day, {}, is after its last day, {}",
                                   IsoDate(first), IsoDate(last)));
  }
  if ((sys_days{last} - sys_days{first}).count() >= kMaxReportDays) {
    throw RequestError(fmt::format("A report covers at most {} days; {} to {} is longer",
                                   kMaxReportDays, IsoDate(first), IsoDate(last)));
  }
  query.fromDate = IsoDate(first);
  query.toDate = IsoDate(last);
  query.start = LocalMidnightUtc(first);
  query.end = LocalMidnightUtc(year_month_day{sys_days{last} + days{1}});
  return query;
}

ReconciliationQuery ReconciliationQueryFrom(const ReconcileParameters& p,
                                            const ReferenceData& reference,
                                            std::chrono::year_month_day today) {
  using namespace std::chrono;
  ReconciliationQuery query;
  ReadScope(p.station, p.officer, p.formType, reference, "A reconciliation", query.scope,
            query.formType);
  year_month_day asOf = today;
  if (const std::string text = text::Trim(p.asOf); !text.empty()) {
    const auto date = ParseIsoDate(text);
    if (!date) {
      throw RequestError(fmt::format(
          "The day to reconcile as of, \"{}\", is not a date; it is given as YYYY-MM-DD, e.g. "
          "2026-11-30",
          text));
    }
    if (sys_days{*date} > sys_days{today}) {
      throw RequestError(
          fmt::format("A reconciliation is as of today ({}) or an earlier day; {} is still to come",
                      IsoDate(today), IsoDate(*date)));
    }
    asOf = *date;
  }
  if (const std::string text = text::Trim(p.gapDays); !text.empty()) {
    std::int64_t days = 0;
    if (text::ReadWholeNumber(text, days) != text::WholeNumberStatus::kOk || days < 0 ||
        days > kMaxGapDays) {
      throw RequestError(fmt::format(
          "The gap, \"{}\", is a number of days from 0 to {}: how long a skipped number may wait "
          "for its use to be reported",
          text, kMaxGapDays));
    }
    query.gapDays = static_cast<int>(days);
  }
  query.asOf = IsoDate(asOf);
  query.end = LocalMidnightUtc(year_month_day{sys_days{asOf} + days{1}});
  return query;
}

std::optional<StationParameter> ReadStationParameter(const std::string& text,
                                                     const ReferenceData& reference) {
  const std::string station = text::ToUpper(text::Trim(text));
  if (station.empty()) return std::nullopt;
  StationParameter s{station.substr(0, 1), station.substr(1)};
  if (station.size() > 3 || !reference.HasStation(s.troop, s.district)) {
    throw RequestError(station.size() == 1 ? fmt::format("There is no troop {}", station)
                                           : fmt::format("There is no Troop/District {}", station));
  }
  return s;
}

std::string ReadFormTypeParameter(const std::string& text, const ReferenceData& reference) {
  std::string type = text::ToUpper(text::Trim(text));
  if (!type.empty() && !reference.FindFormType(type)) {
    throw RequestError(fmt::format("The Form Type \"{}\" is not known", text));
  }
  return type;
}

std::int64_t ReadCountParameter(const std::string& text, const char* caption, const char* what,
                                std::int64_t lowest, std::int64_t highest) {
  std::int64_t value = 0;
  const std::string trimmed = text::Trim(text);
  if (text::ReadWholeNumber(trimmed, value) != text::WholeNumberStatus::kOk || value < lowest ||
      value > highest) {
    throw RequestError(fmt::format("The {} \"{}\" is not {} from {} to {}", caption, trimmed, what,
                                   lowest, highest));
  }
  return value;
}

}  // namespace fm::server

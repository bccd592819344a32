// The stock requests of RequestHandler (message types 39 and 40, GET /v1/stock, PUT
// /v1/stock/minimum, GET /v1/alerts, the stock commands): what each station holds against
// its minimum and how long it lasts, and the minimum set.

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <chrono>
#include <map>

#include "base/Numbers.h"
#include "base/Text.h"
#include "server/handler/ReportRequest.h"
#include "server/handler/RequestError.h"
#include "server/handler/RequestHandler.h"
#include "server/handler/SearchCriteria.h"
#include "server/store/ReferenceData.h"
#include "server/store/Store.h"
#include "server/store/StoreError.h"
#include "server/store/TimeText.h"

namespace fm::server {

namespace {

StationScope SeenBy(const Principal& principal) {
  return principal.role == Role::Admin ? StationScope::Everywhere() : principal.scope;
}

protocol::StockAlertLine AlertLine(const StockAlert& a) {
  return {a.id,           a.troop,     a.district,
          a.formType,     a.onHand,    a.minimum,
          a.raisedAt,     a.requestId, a.clearedAt.value_or(""),
          a.clearedOnHand};
}

// The criteria of a stock request by name (upper case, without "key:"), each at most once,
// with "=".
std::map<std::string, std::string> StockCriteria(const std::vector<protocol::Criterion>& criteria,
                                                 std::initializer_list<const char*> allowed,
                                                 const char* what) {
  std::map<std::string, std::string> values;
  for (const auto& c : criteria) {
    const std::string key = text::ToUpper(text::Trim(c.key));
    const std::string name = key.rfind("KEY:", 0) == 0 ? key.substr(4) : key;
    if (std::none_of(allowed.begin(), allowed.end(), [&](const char* a) { return name == a; })) {
      std::string list;
      for (const char* a : allowed) list += (list.empty() ? "key:" : ", key:") + std::string(a);
      throw RequestError(
          fmt::format("{} does not take the criterion {}; it takes {}", what, c.key, list));
    }
    if (text::Trim(c.op) != "=") {
      throw RequestError(fmt::format("The criterion {} takes only the operator \"=\"", c.key));
    }
    if (!values.emplace(name, text::Trim(c.value)).second) {
      throw RequestError(fmt::format("The criterion {} is given twice", c.key));
    }
  }
  return values;
}

}  // namespace

protocol::StockReport RequestHandler::Stock(const StockParameters& parameters,
                                            const Principal& principal) {
  if (!principal.May(Action::Report)) {
    throw StoreError::Forbidden(
        fmt::format("Your account ({}) may not read the stock on hand.", RoleName(principal.role)));
  }
  const auto today = ParseIsoDate(Today());
  if (!today) throw RequestError("The server's date could not be read");
  const ReferenceData& reference = mStore->Reference();
  const StationScope seen = SeenBy(principal);
  StockQuery query;
  if (const auto station = ReadStationParameter(parameters.station, reference)) {
    query.troop = station->troop;
    query.district = station->district;
    query.wholeTroop = station->district.empty();
    if (!seen.Covers(query.troop, query.district)) {
      throw StoreError::Forbidden(fmt::format("{} may not read the stock of {}",
                                              principal.displayName,
                                              StationText(query.troop, query.district)));
    }
  }
  query.formType = ReadFormTypeParameter(parameters.formType, reference);
  query.weeks =
      parameters.weeks.empty()
          ? kDefaultStockWeeks
          : static_cast<int>(ReadCountParameter(parameters.weeks, "number of weeks",
                                                "a whole number of weeks", 1, kMaxStockWeeks));
  const std::chrono::sys_days last{*today};
  const std::chrono::sys_days first = last - std::chrono::days(7 * query.weeks - 1);
  query.firstDay = IsoDate(std::chrono::year_month_day{first});

  std::vector<StockHolding> holdings;
  std::vector<StockAlert> alerts;
  std::vector<StationCount> counted;
  mStore->ReadTogether([&] {
    holdings = mStore->StockOnHand(query);
    alerts = mStore->StockAlerts(true);
    counted = mStore->LastCounts();
  });

  protocol::StockReport report;
  report.troop = query.troop;
  report.district = query.district;
  report.wholeTroop = query.wholeTroop;
  report.formType = query.formType;
  report.asOf = IsoDate(*today);
  report.weeks = query.weeks;
  for (const StockHolding& h : holdings) {
    if (!seen.Covers(h.troop, h.district)) continue;
    protocol::StockLine& line = report.lines.emplace_back();
    line.troop = h.troop;
    line.district = h.district;
    line.formType = h.formType;
    const FormTypeInfo* type = reference.FindFormType(h.formType);
    line.description = type ? type->description : std::string();
    line.unassigned = h.unassigned;
    line.withOfficers = h.withOfficers;
    line.minimum = h.minimum;
    for (std::size_t w = 0; w < h.used.size(); ++w) {
      protocol::StockWeek& week = line.weeks.emplace_back();
      week.firstDay = IsoDate(std::chrono::year_month_day{first + std::chrono::days(7 * w)});
      // Uses say what was written; a week without any recorded falls back on what officers
      // took from the shelf, which is all a station that records no uses has.
      if (h.used[w] > 0) {
        week.used = h.used[w];
        week.source = protocol::WeekSource::Uses;
      } else if (h.handedOut[w] > 0) {
        week.used = h.handedOut[w];
        week.source = protocol::WeekSource::HandedOut;
      }
    }
  }
  for (const StockAlert& a : alerts) {
    const bool station =
        query.troop.empty() ||
        (a.troop == query.troop && (query.wholeTroop || a.district == query.district));
    if (station && seen.Covers(a.troop, a.district) &&
        (query.formType.empty() || a.formType == query.formType)) {
      report.alerts.push_back(AlertLine(a));
    }
  }
  // Each station of the lines once, with its last certified count: a station is due one
  // every countDueDays days, and one never counted is overdue.
  report.countDueDays = mOptions.countDueDays;
  for (const protocol::StockLine& line : report.lines) {
    if (!report.counts.empty() && report.counts.back().troop == line.troop &&
        report.counts.back().district == line.district) {
      continue;
    }
    protocol::StockCountLine& c = report.counts.emplace_back();
    c.troop = line.troop;
    c.district = line.district;
    c.overdue = true;
    for (const StationCount& s : counted) {
      if (s.troop != line.troop || s.district != line.district) continue;
      c.lastCount = s.number;
      c.lastCountAt = s.certifiedAt;
      if (const auto day = ParseIsoDate(s.certifiedAt.substr(0, 10))) {
        c.overdue = (std::chrono::sys_days{*today} - std::chrono::sys_days{*day}).count() >
                    mOptions.countDueDays;
      }
    }
  }
  report.computedAt = UtcTimestamp(std::chrono::system_clock::now());
  return report;
}

protocol::StockMinimumSet RequestHandler::SetStockMinimum(const StockMinimumParameters& parameters,
                                                          const Principal& principal,
                                                          const std::string& requestId,
                                                          const std::string& requester) {
  if (!principal.May(Action::Save)) {
    throw StoreError::Forbidden(fmt::format(
        "Your account ({}) may read the stock on hand but not set a minimum; nothing was saved.",
        RoleName(principal.role)));
  }
  if (requestId.empty()) throw RequestError("Setting a minimum stock needs a request id");
  const ReferenceData& reference = mStore->Reference();
  const auto station = ReadStationParameter(parameters.station, reference);
  if (!station)
    throw RequestError("A minimum stock is of a Troop/District (e.g. A1); none was given");
  const std::string formType = ReadFormTypeParameter(parameters.formType, reference);
  if (formType.empty()) throw RequestError("A minimum stock is of a form type; none was given");
  const std::int64_t minimum = ReadCountParameter(parameters.minimum, "minimum stock",
                                                  "a whole number of forms", 0, kMaxStockMinimum);
  SaveContext context;
  context.requestId = requestId;
  context.requester = requester;
  context.userId = principal.userId;
  context.userName = principal.displayName;
  context.scope = SeenBy(principal);
  const StockMinimum kept =
      mStore->SetStockMinimum(context, {station->troop, station->district, formType, minimum});
  spdlog::info("request {} from {} (user {}): minimum stock of {} {} set to {}", requestId,
               requester, principal.userId, StationText(kept.troop, kept.district), formType,
               minimum);
  return {kept.troop, kept.district, kept.formType, kept.minimum, kept.setBy, kept.setAt};
}

std::vector<protocol::StockAlertLine> RequestHandler::StockAlerts(bool all,
                                                                  const Principal& principal) {
  if (!principal.May(Action::Report)) {
    throw StoreError::Forbidden(
        fmt::format("Your account ({}) may not read the stock alerts.", RoleName(principal.role)));
  }
  const StationScope seen = SeenBy(principal);
  std::vector<protocol::StockAlertLine> out;
  for (const StockAlert& a : mStore->StockAlerts(!all)) {
    if (seen.Covers(a.troop, a.district)) out.push_back(AlertLine(a));
  }
  return out;
}

protocol::Reply RequestHandler::AnswerStock(const protocol::Request& request,
                                            const Principal& principal) {
  protocol::Reply reply;
  reply.requestId = request.requestId;
  reply.identity = request.identity;
  if (request.messageType == protocol::kStockMessage) {
    const auto values = StockCriteria(
        request.criteria, {"TRP_ID", "TRP_DIST_ID", "REF_TYP_CD", "WEEK_CNT"}, "The stock on hand");
    StockParameters parameters;
    parameters.station = StationOf(values);
    parameters.formType = CriterionValue(values, "REF_TYP_CD");
    parameters.weeks = CriterionValue(values, "WEEK_CNT");
    reply.dataSets = protocol::StockReportToDataSets(Stock(parameters, principal));
  } else {
    const auto values =
        StockCriteria(request.criteria, {"TRP_ID", "TRP_DIST_ID", "REF_TYP_CD", "MINIMUM_QTY"},
                      "Setting a minimum stock");
    StockMinimumParameters parameters;
    parameters.station = StationOf(values);
    parameters.formType = CriterionValue(values, "REF_TYP_CD");
    parameters.minimum = CriterionValue(values, "MINIMUM_QTY");
    reply.dataSets = protocol::StockMinimumToDataSets(
        SetStockMinimum(parameters, principal, request.requestId, request.requester));
  }
  reply.ok = true;
  return reply;
}

}  // namespace fm::server

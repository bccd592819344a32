#include "protocol/Stock.h"

#include <fmt/format.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "protocol/DataSetTables.h"
#include "protocol/Json.h"
#include "protocol/JsonText.h"
#include "protocol/ProtocolError.h"

namespace fm::protocol {

namespace {

using namespace tables;
using Json = nlohmann::ordered_json;

constexpr WeekSource kWeekSources[] = {WeekSource::None, WeekSource::Uses, WeekSource::HandedOut};

WeekSource WeekSourceFromKey(const std::string& key, std::size_t row) {
  for (WeekSource s : kWeekSources) {
    if (key == WeekSourceKey(s)) return s;
  }
  throw ProtocolError(
      fmt::format("data set {}, row {}: no week source \"{}\"", kStockWeekDataSet, row + 1, key));
}

Json OrNull(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

Json AlertJson(const StockAlertLine& a) {
  return Json{{"id", a.id},
              {"station", a.troop + a.district},
              {"form_type", a.formType},
              {"on_hand", a.onHand},
              {"minimum", a.minimum},
              {"raised_at", a.raisedAt},
              {"request_id", a.requestId},
              {"cleared_at", OrNull(a.clearedAt)},
              {"cleared_on_hand", a.clearedOnHand ? Json(*a.clearedOnHand) : Json(nullptr)}};
}

std::string StationOrAll(const std::string& troop, const std::string& district, bool wholeTroop) {
  if (troop.empty()) return "every station";
  return wholeTroop ? "troop " + troop + " and its districts" : troop + district;
}

}  // namespace

const char* WeekSourceKey(WeekSource source) {
  switch (source) {
    case WeekSource::Uses:
      return "uses";
    case WeekSource::HandedOut:
      return "handed_out";
    case WeekSource::None:
      break;
  }
  return "none";
}

double WeeklyUse(const StockLine& line) {
  if (line.weeks.empty()) return 0;
  std::int64_t total = 0;
  for (const StockWeek& w : line.weeks) total += w.used;
  return static_cast<double>(total) / static_cast<double>(line.weeks.size());
}

std::optional<double> WeeksOfSupply(const StockLine& line) {
  const double use = WeeklyUse(line);
  if (use <= 0) return std::nullopt;
  return static_cast<double>(line.unassigned + line.withOfficers) / use;
}

bool BelowMinimum(const StockLine& line) {
  return line.minimum > 0 && line.unassigned < line.minimum;
}

bool AnyBelowMinimum(const StockReport& report) {
  return std::any_of(report.lines.begin(), report.lines.end(),
                     [](const StockLine& l) { return BelowMinimum(l); });
}

std::string SupplyText(const std::optional<double>& weeks) {
  return weeks ? fmt::format("{:.1f}", *weeks) : std::string("-");
}

std::map<std::string, DataSet> StockReportToDataSets(const StockReport& r) {
  TableWriter parameters({Text("TRP_ID"), Text("TRP_DIST_ID"), Text("WHOLE_TROOP"),
                          Text("FORM_TYP_CD"), Text("AS_OF_DT"), Integer("WEEK_CNT"),
                          Text("COMPUTED_TS")});
  parameters.Add({TextCell(r.troop), TextCell(r.district),
                  Cell{std::string(r.wholeTroop ? "Y" : "N")}, TextCell(r.formType),
                  TextCell(r.asOf), Cell{std::int64_t{r.weeks}}, TextCell(r.computedAt)});
  TableWriter lines({Integer("LINE_NBR"), Text("TRP_ID"), Text("TRP_DIST_ID"), Text("FORM_TYP_CD"),
                     Text("FORM_TYP_DESC"), Integer("UNASGND_CNT"), Integer("ASGND_CNT"),
                     Integer("MINIMUM_QTY")});
  TableWriter weeks({Integer("LINE_NBR"), Text("WEEK_DT"), Integer("USED_CNT"), Text("SOURCE_CD")});
  std::int64_t number = 0;
  for (const StockLine& line : r.lines) {
    ++number;
    lines.Add({Cell{number}, TextCell(line.troop), TextCell(line.district), TextCell(line.formType),
               TextCell(line.description), Cell{line.unassigned}, Cell{line.withOfficers},
               Cell{line.minimum}});
    for (const StockWeek& w : line.weeks) {
      weeks.Add({Cell{number}, TextCell(w.firstDay), Cell{w.used},
                 Cell{std::string(WeekSourceKey(w.source))}});
    }
  }
  TableWriter alerts({Integer("ALERT_ID"), Text("TRP_ID"), Text("TRP_DIST_ID"), Text("FORM_TYP_CD"),
                      Integer("ON_HAND_CNT"), Integer("MINIMUM_QTY"), Text("RAISED_TS"),
                      Text("REQUEST_ID"), Text("CLEARED_TS"), Integer("CLEARED_ON_HAND_CNT")});
  for (const StockAlertLine& a : r.alerts) {
    alerts.Add({Cell{a.id}, TextCell(a.troop), TextCell(a.district), TextCell(a.formType),
                Cell{a.onHand}, Cell{a.minimum}, TextCell(a.raisedAt), TextCell(a.requestId),
                TextCell(a.clearedAt), OptionalCell(a.clearedOnHand)});
  }
  TableWriter counts({Text("TRP_ID"), Text("TRP_DIST_ID"), Integer("CNT_NBR"), Text("CERT_TS"),
                      Text("OVERDUE"), Integer("DUE_DAY_CNT")});
  for (const StockCountLine& c : r.counts) {
    counts.Add({TextCell(c.troop), TextCell(c.district), Cell{c.lastCount}, TextCell(c.lastCountAt),
                Cell{std::string(c.overdue ? "Y" : "N")}, Cell{std::int64_t{r.countDueDays}}});
  }
  std::map<std::string, DataSet> sets;
  sets.emplace(kStockCountDataSet, counts.Take());
  sets.emplace(kStockParameterDataSet, parameters.Take());
  sets.emplace(kStockLineDataSet, lines.Take());
  sets.emplace(kStockWeekDataSet, weeks.Take());
  sets.emplace(kStockAlertDataSet, alerts.Take());
  return sets;
}

StockReport StockReportFromDataSets(const std::map<std::string, DataSet>& dataSets) {
  StockReport r;
  const TableReader parameters(dataSets, kStockParameterDataSet);
  parameters.RequireOneRow();
  r.troop = parameters.Text(0, "TRP_ID");
  r.district = parameters.Text(0, "TRP_DIST_ID");
  r.wholeTroop = parameters.Text(0, "WHOLE_TROOP") == "Y";
  r.formType = parameters.Text(0, "FORM_TYP_CD");
  r.asOf = parameters.Text(0, "AS_OF_DT");
  r.weeks = static_cast<int>(parameters.Integer(0, "WEEK_CNT"));
  r.computedAt = parameters.Text(0, "COMPUTED_TS");
  const TableReader lines(dataSets, kStockLineDataSet);
  std::map<std::int64_t, std::size_t> byNumber;
  for (std::size_t i = 0; i < lines.Rows(); ++i) {
    StockLine& line = r.lines.emplace_back();
    line.troop = lines.Text(i, "TRP_ID");
    line.district = lines.Text(i, "TRP_DIST_ID");
    line.formType = lines.Text(i, "FORM_TYP_CD");
    line.description = lines.Text(i, "FORM_TYP_DESC");
    line.unassigned = lines.Integer(i, "UNASGND_CNT");
    line.withOfficers = lines.Integer(i, "ASGND_CNT");
    line.minimum = lines.Integer(i, "MINIMUM_QTY");
    byNumber[lines.Integer(i, "LINE_NBR")] = i;
  }
  const TableReader weeks(dataSets, kStockWeekDataSet);
  for (std::size_t i = 0; i < weeks.Rows(); ++i) {
    const auto line = byNumber.find(weeks.Integer(i, "LINE_NBR"));
    if (line == byNumber.end()) {
      throw ProtocolError(fmt::format("data set {}, row {}: no line {} in {}", kStockWeekDataSet,
                                      i + 1, weeks.Integer(i, "LINE_NBR"), kStockLineDataSet));
    }
    r.lines[line->second].weeks.push_back({weeks.Text(i, "WEEK_DT"), weeks.Integer(i, "USED_CNT"),
                                           WeekSourceFromKey(weeks.Text(i, "SOURCE_CD"), i)});
  }
  const TableReader alerts(dataSets, kStockAlertDataSet);
  for (std::size_t i = 0; i < alerts.Rows(); ++i) {
    r.alerts.push_back({alerts.Integer(i, "ALERT_ID"), alerts.Text(i, "TRP_ID"),
                        alerts.Text(i, "TRP_DIST_ID"), alerts.Text(i, "FORM_TYP_CD"),
                        alerts.Integer(i, "ON_HAND_CNT"), alerts.Integer(i, "MINIMUM_QTY"),
                        alerts.Text(i, "RAISED_TS"), alerts.Text(i, "REQUEST_ID"),
                        alerts.Text(i, "CLEARED_TS"), alerts.OptInteger(i, "CLEARED_ON_HAND_CNT")});
  }
  if (dataSets.count(kStockCountDataSet)) {
    const TableReader counts(dataSets, kStockCountDataSet);
    for (std::size_t i = 0; i < counts.Rows(); ++i) {
      r.counts.push_back({counts.Text(i, "TRP_ID"), counts.Text(i, "TRP_DIST_ID"),
                          counts.Integer(i, "CNT_NBR"), counts.Text(i, "CERT_TS"),
                          counts.Text(i, "OVERDUE") == "Y"});
      r.countDueDays = static_cast<int>(counts.Integer(i, "DUE_DAY_CNT"));
    }
  }
  return r;
}

std::map<std::string, DataSet> StockMinimumToDataSets(const StockMinimumSet& m) {
  TableWriter set({Text("TRP_ID"), Text("TRP_DIST_ID"), Text("FORM_TYP_CD"), Integer("MINIMUM_QTY"),
                   Text("SET_BY_NME"), Text("SET_TS")});
  set.Add({TextCell(m.troop), TextCell(m.district), TextCell(m.formType), Cell{m.minimum},
           TextCell(m.setBy), TextCell(m.setAt)});
  std::map<std::string, DataSet> sets;
  sets.emplace(kStockMinimumDataSet, set.Take());
  return sets;
}

StockMinimumSet StockMinimumFromDataSets(const std::map<std::string, DataSet>& dataSets) {
  const TableReader set(dataSets, kStockMinimumDataSet);
  set.RequireOneRow();
  return {set.Text(0, "TRP_ID"),         set.Text(0, "TRP_DIST_ID"), set.Text(0, "FORM_TYP_CD"),
          set.Integer(0, "MINIMUM_QTY"), set.Text(0, "SET_BY_NME"),  set.Text(0, "SET_TS")};
}

std::string StockReportToJson(const StockReport& r) {
  Json lines = Json::array();
  for (const StockLine& line : r.lines) {
    Json weeks = Json::array();
    for (const StockWeek& w : line.weeks) {
      weeks.push_back(
          Json{{"first_day", w.firstDay}, {"used", w.used}, {"source", WeekSourceKey(w.source)}});
    }
    const auto supply = WeeksOfSupply(line);
    lines.push_back(Json{{"station", line.troop + line.district},
                         {"form_type", line.formType},
                         {"description", line.description},
                         {"unassigned", line.unassigned},
                         {"with_officers", line.withOfficers},
                         {"minimum", line.minimum ? Json(line.minimum) : Json(nullptr)},
                         {"below_minimum", BelowMinimum(line)},
                         {"weekly_use", WeeklyUse(line)},
                         {"weeks_of_supply", supply ? Json(*supply) : Json(nullptr)},
                         {"weeks", std::move(weeks)}});
  }
  Json alerts = Json::array();
  for (const StockAlertLine& a : r.alerts) alerts.push_back(AlertJson(a));
  Json counts = Json::array();
  for (const StockCountLine& c : r.counts) {
    counts.push_back(Json{{"station", c.troop + c.district},
                          {"last_count", c.lastCount ? Json(c.lastCount) : Json(nullptr)},
                          {"last_counted_at", OrNull(c.lastCountAt)},
                          {"count_overdue", c.overdue}});
  }
  return DumpJson(Json{{"station", r.troop.empty() ? Json(nullptr) : Json(r.troop + r.district)},
                       {"whole_troop", r.wholeTroop},
                       {"form_type", OrNull(r.formType)},
                       {"as_of", r.asOf},
                       {"weeks", r.weeks},
                       {"computed_at", r.computedAt},
                       {"below_minimum", AnyBelowMinimum(r)},
                       {"lines", std::move(lines)},
                       {"alerts", std::move(alerts)},
                       {"count_due_days", r.countDueDays},
                       {"counts", std::move(counts)}});
}

std::string StockAlertsToJson(const std::vector<StockAlertLine>& alerts) {
  Json list = Json::array();
  for (const StockAlertLine& a : alerts) list.push_back(AlertJson(a));
  return DumpJson(list);
}

std::string StockMinimumToJson(const StockMinimumSet& m) {
  return DumpJson(Json{{"station", m.troop + m.district},
                       {"form_type", m.formType},
                       {"minimum", m.minimum},
                       {"set_by", m.setBy},
                       {"set_at", m.setAt}});
}

StockMinimumRequest StockMinimumRequestFromJson(std::string_view text) {
  Json j;
  try {
    j = Json::parse(text, [](int depth, Json::parse_event_t, Json&) {
      if (depth > static_cast<int>(kMaxJsonDepth)) {
        throw ProtocolError(fmt::format("the body nests deeper than {} levels", kMaxJsonDepth));
      }
      return true;
    });
  } catch (const Json::exception& e) {
    throw ProtocolError(fmt::format("the body is not JSON: {}", e.what()));
  }
  if (!j.is_object()) throw ProtocolError("the body: expected an object");
  constexpr const char* kMembers[] = {"request_id", "station", "form_type", "minimum"};
  for (const auto& item : j.items()) {
    const std::string& key = item.key();
    if (std::find_if(std::begin(kMembers), std::end(kMembers),
                     [&](const char* m) { return key == m; }) == std::end(kMembers)) {
      throw ProtocolError(fmt::format(
          "{}: unknown member; the members are request_id, station, form_type, minimum", key));
    }
  }
  StockMinimumRequest r;
  auto member = [&](const char* name) {
    if (!j.contains(name) || !j[name].is_string()) {
      throw ProtocolError(fmt::format("{}: expected a text", name));
    }
    return j[name].get<std::string>();
  };
  r.requestId = member("request_id");
  r.station = member("station");
  r.formType = member("form_type");
  if (!j.contains("minimum") || !j["minimum"].is_number_integer()) {
    throw ProtocolError("minimum: expected a whole number of forms (0 removes the minimum)");
  }
  r.minimum = j["minimum"].get<std::int64_t>();
  return r;
}

std::string StockMinimumRequestToJson(const StockMinimumRequest& r) {
  return DumpJson(Json{{"request_id", r.requestId},
                       {"station", r.station},
                       {"form_type", r.formType},
                       {"minimum", r.minimum}});
}

std::vector<std::vector<std::string>> StockCsvRecords(const StockReport& r) {
  std::vector<std::vector<std::string>> records;
  records.push_back({"Station", "Form type", "Description", "Unassigned", "With officers",
                     "Minimum", "Below minimum", "Weekly use", "Weeks of supply", "Alert raised"});
  for (const StockLine& line : r.lines) {
    records.push_back({line.troop + line.district, line.formType, line.description,
                       std::to_string(line.unassigned), std::to_string(line.withOfficers),
                       line.minimum ? std::to_string(line.minimum) : "",
                       BelowMinimum(line) ? "yes" : "no", fmt::format("{:.1f}", WeeklyUse(line)),
                       SupplyText(WeeksOfSupply(line)), ""});
  }
  for (const StockAlertLine& a : r.alerts) {
    records.push_back({a.troop + a.district, a.formType, "", std::to_string(a.onHand), "",
                       std::to_string(a.minimum), "yes", "", "", a.raisedAt});
  }
  if (!r.counts.empty()) {
    records.emplace_back();
    records.push_back({"Station", "Last count", "Certified at", "Count overdue"});
  }
  for (const StockCountLine& c : r.counts) {
    records.push_back({c.troop + c.district, c.lastCount ? std::to_string(c.lastCount) : "",
                       c.lastCountAt, c.overdue ? "yes" : "no"});
  }
  return records;
}

std::string StockText(const StockReport& r) {
  std::string text = fmt::format("Stock on hand of {} as of {} (use over the last {} weeks)\n",
                                 StationOrAll(r.troop, r.district, r.wholeTroop), r.asOf, r.weeks);
  if (r.lines.empty()) return text + "\nNo forms in stock and no minimum kept.\n";
  text += fmt::format("\n{:<8} {:<24} {:>10} {:>13} {:>8} {:>10} {:>8}\n", "Station", "Form type",
                      "Unassigned", "With officers", "Minimum", "Weekly use", "Weeks");
  for (const StockLine& line : r.lines) {
    text += fmt::format(
        "{:<8} {:<24} {:>10} {:>13} {:>8} {:>10.1f} {:>8}{}\n", line.troop + line.district,
        (line.formType + " " + line.description).substr(0, 24), line.unassigned, line.withOfficers,
        line.minimum ? std::to_string(line.minimum) : "-", WeeklyUse(line),
        SupplyText(WeeksOfSupply(line)), BelowMinimum(line) ? "  BELOW MINIMUM" : "");
  }
  if (!r.alerts.empty()) text += fmt::format("\nOpen stock alerts ({})\n", r.alerts.size());
  for (const StockAlertLine& a : r.alerts) {
    text += fmt::format("  {} {}: {} left against a minimum of {}, since {}\n",
                        a.troop + a.district, a.formType, a.onHand, a.minimum, a.raisedAt);
  }
  if (!r.counts.empty()) {
    text += fmt::format("\nPhysical counts (one due every {} days)\n", r.countDueDays);
  }
  for (const StockCountLine& c : r.counts) {
    text += fmt::format(
        "  {:<6} {}{}\n", c.troop + c.district,
        c.lastCount ? fmt::format("count {} certified {}", c.lastCount, c.lastCountAt.substr(0, 10))
                    : std::string("never counted"),
        c.overdue ? "  COUNT OVERDUE" : "");
  }
  return text;
}

}  // namespace fm::protocol

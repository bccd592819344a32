#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/Messages.h"

// Stock on hand (message type 39) and the minimum stock (40), as plain data: what each
// station holds of each form type, how fast it goes out and how long it lasts, the open
// alerts of stations below their minimum. docs/stock.md describes the rules; the server
// computes, the desktop and the command line show.
namespace fm::protocol {

// What went out of a station in one week of the report, and what it was counted from: the
// uses of its form numbers recorded that week or, with none recorded, the forms its shelf
// handed to officers that week.
enum class WeekSource { None, Uses, HandedOut };
// "none", "uses", "handed_out": the wire spelling.
const char* WeekSourceKey(WeekSource source);

struct StockWeek {
  std::string firstDay;  // "YYYY-MM-DD", the week's first day (local)
  std::int64_t used = 0;
  WeekSource source = WeekSource::None;
  friend bool operator==(const StockWeek&, const StockWeek&) = default;
};

// One station's forms of one form type.
struct StockLine {
  std::string troop;
  std::string district;  // empty: the troop's own stock
  std::string formType;
  std::string description;
  std::int64_t unassigned = 0;    // on the shelf: held by no officer
  std::int64_t withOfficers = 0;  // handed out, not used yet
  std::int64_t minimum = 0;       // 0: none kept
  std::vector<StockWeek> weeks;   // oldest first
  friend bool operator==(const StockLine&, const StockLine&) = default;
};

// The forms used per week over the line's weeks (0 with no weeks).
double WeeklyUse(const StockLine& line);
// How many weeks the stock (unassigned and with officers) lasts at the weekly use; none when
// nothing is used.
std::optional<double> WeeksOfSupply(const StockLine& line);
// Whether the unassigned forms are below a minimum kept.
bool BelowMinimum(const StockLine& line);

// A crossing of a minimum that is still open (or, in the full list, cleared since).
struct StockAlertLine {
  std::int64_t id = 0;
  std::string troop;
  std::string district;
  std::string formType;
  std::int64_t onHand = 0;  // the unassigned forms left when it was raised
  std::int64_t minimum = 0;
  std::string raisedAt;  // UTC
  std::string requestId;
  std::string clearedAt;  // empty: open
  std::optional<std::int64_t> clearedOnHand;
  friend bool operator==(const StockAlertLine&, const StockAlertLine&) = default;
};

// A station's physical counts (docs/counts.md): its last certified count, and whether the
// next one is overdue (none certified, or the last more than the report's due days ago).
struct StockCountLine {
  std::string troop;
  std::string district;
  std::int64_t lastCount = 0;  // 0: none certified
  std::string lastCountAt;     // UTC; empty with none
  bool overdue = false;
  friend bool operator==(const StockCountLine&, const StockCountLine&) = default;
};

struct StockReport {
  std::string troop;  // the station asked for; empty: every station the principal sees
  std::string district;
  bool wholeTroop = false;
  std::string formType;  // empty: every form type
  std::string asOf;      // "YYYY-MM-DD": the last day of the last week
  int weeks = 13;
  std::string computedAt;                // UTC
  std::vector<StockLine> lines;          // by station, then form type
  std::vector<StockAlertLine> alerts;    // the open alerts of the stations, newest first
  int countDueDays = 0;                  // a count is due this many days after the last
  std::vector<StockCountLine> counts{};  // per station of the lines, by station
  friend bool operator==(const StockReport&, const StockReport&) = default;
};

// Whether any line is below its minimum.
bool AnyBelowMinimum(const StockReport& report);

// Data sets of a stock reply (type 39): the request (one row), one row per line, one row per
// line and week (LINE_NBR, 1-based), one row per open alert.
inline constexpr const char* kStockParameterDataSet = "STKPARM";
inline constexpr const char* kStockLineDataSet = "STKLINE";
inline constexpr const char* kStockWeekDataSet = "STKWEEK";
inline constexpr const char* kStockAlertDataSet = "STKALRT";
// One row per station of the lines: TRP_ID, TRP_DIST_ID, CNT_NBR (0: none), CERT_TS,
// OVERDUE ("Y"/"N"), DUE_DAY_CNT. A reply without it reads as no counts.
inline constexpr const char* kStockCountDataSet = "STKCNT";
// A minimum set (type 40) is answered with what is kept: TRP_ID, TRP_DIST_ID, FORM_TYP_CD,
// MINIMUM_QTY, SET_BY_NME, SET_TS (one row).
inline constexpr const char* kStockMinimumDataSet = "STKMIN";

struct StockMinimumSet {
  std::string troop;
  std::string district;
  std::string formType;
  std::int64_t minimum = 0;
  std::string setBy;
  std::string setAt;
  friend bool operator==(const StockMinimumSet&, const StockMinimumSet&) = default;
};

// The reply's data sets and back; FromDataSets throws ProtocolError naming what is missing.
std::map<std::string, DataSet> StockReportToDataSets(const StockReport& report);
StockReport StockReportFromDataSets(const std::map<std::string, DataSet>& dataSets);
std::map<std::string, DataSet> StockMinimumToDataSets(const StockMinimumSet& minimum);
StockMinimumSet StockMinimumFromDataSets(const std::map<std::string, DataSet>& dataSets);

// {"station", "form_type", "as_of", "weeks", "computed_at", "lines": [{"station", "form_type",
// "description", "unassigned", "with_officers", "minimum", "below_minimum", "weekly_use",
// "weeks_of_supply", "weeks": [{"first_day", "used", "source"}]}], "alerts": [...]}
// (docs/stock.md).
std::string StockReportToJson(const StockReport& report);
// [{"id", "station", "form_type", "on_hand", "minimum", "raised_at", "request_id",
// "cleared_at", "cleared_on_hand"}, ...]
std::string StockAlertsToJson(const std::vector<StockAlertLine>& alerts);
std::string StockMinimumToJson(const StockMinimumSet& minimum);

// The body of PUT /v1/stock/minimum: {"request_id": ..., "station": "A1", "form_type": "C",
// "minimum": 150}. Throws ProtocolError naming the member missing, unknown or of the wrong
// type.
struct StockMinimumRequest {
  std::string requestId;
  std::string station;
  std::string formType;
  std::int64_t minimum = 0;
  friend bool operator==(const StockMinimumRequest&, const StockMinimumRequest&) = default;
};
StockMinimumRequest StockMinimumRequestFromJson(std::string_view json);
std::string StockMinimumRequestToJson(const StockMinimumRequest& request);

// A table for spreadsheets: one record per line with its figures (the weekly use and weeks
// of supply to one decimal), then one per open alert.
std::vector<std::vector<std::string>> StockCsvRecords(const StockReport& report);
// The report for a terminal: a heading, one row per line (a line below its minimum says
// so), then the open alerts.
std::string StockText(const StockReport& report);
// "12.3" or "-" for none: how the figures read in the text, the CSV and the desktop.
std::string SupplyText(const std::optional<double>& weeks);

}  // namespace fm::protocol

#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/Stock.h"
#include "shell/LocalCodes.h"
#include "shell/ReportLayout.h"
#include "shell/WindowModel.h"

namespace fm::shell {

class ShellExchange;

// Reports > Stock on Hand... without its window (docs/stock.md): per station and form type
// the unassigned forms, those with officers, the minimum, the use per week and the weeks of
// supply (message type 39), with the open alerts; a minimum set for a station and form type
// (message type 40), after which the report is asked again. Exported as CSV (the protocol's
// table) and printed through ReportLayout.
//
// `changed` runs after every change the window shows (Change::Report: a new answer).
class StockOnHand {
 public:
  enum class Change { Status, Report };
  using Changed = std::function<void(Change)>;
  using DayText = std::function<std::string(const std::string& isoDay)>;

  static constexpr const char* kTitle = "Stock on Hand";
  static const std::vector<std::string> kLineHeadings;
  static const std::vector<std::string> kAlertHeadings;
  static const std::vector<std::string> kCountHeadings;

  // `dayText` words the report's day as the clerk reads dates (none: YYYY-MM-DD).
  StockOnHand(TimeText timeText, Changed changed, DayText dayText = {});
  ~StockOnHand();

  const CodeEntries& FormTypes() const { return mFormTypes; }
  // Asks for the stock of `station` (empty: every station the account sees) and form type
  // (empty: all), unless an answer is awaited already.
  void Run(const std::string& station, const std::string& formType);
  // Sets the minimum of the station and form type (a whole number; 0 removes it), then asks
  // for the report again. A wrong entry is said in the status line and nothing is sent.
  void SetMinimum(const std::string& station, const std::string& formType,
                  const std::string& minimum);
  bool Waiting() const;

  bool HasReport() const { return mReport.has_value(); }
  const protocol::StockReport& Report() const;
  // "A1, as of 11/30/2026 (use per week over the last 13 weeks)".
  std::string Heading() const;
  // Per line: station, form type, unassigned, with officers, minimum, weekly use, weeks of
  // supply, and "Below minimum" or nothing.
  std::vector<std::vector<std::string>> LineRows() const;
  // Per open alert: station, form type, forms left, minimum, raised.
  std::vector<std::vector<std::string>> AlertRows() const;
  // Per station of the lines, its physical counts: the station, the last certified count
  // ("never counted" without one), when it was certified, and "COUNT OVERDUE" or nothing.
  std::vector<std::vector<std::string>> CountRows() const;
  // "Physical counts (one due every 90 days)".
  std::string CountHeading() const;
  // "stock-A1-2026-11-30.csv".
  std::string SuggestedFileName(const char* extension) const;
  void ExportToCsv(const std::string& path);
  std::vector<ReportBlock> Blocks() const;
  std::string Footer() const;

  const StatusLine& Status() const { return mStatus; }
  void Say(std::string text, bool problem);

 private:
  void Show(protocol::StockReport report);

  TimeText mTimeText;
  Changed mChanged;
  DayText mDayText;
  CodeEntries mFormTypes;
  std::unique_ptr<ShellExchange> mExchange;
  std::string mStation;  // as last asked, for the report after a minimum is set
  std::string mFormType;
  std::optional<protocol::StockReport> mReport;
  StatusLine mStatus;
};

// What the status bar says of a station's open alerts: "Stock below minimum: A1 ENF001
// Citation (120 of 150)", several joined by "; "; empty without any.
std::string StockAlertSummary(const std::vector<protocol::StockAlertLine>& alerts,
                              const CodeEntries& formTypes);

// Asks the stock of the station a search was made for, for the open alerts the status bar
// shows; an answer that is late for the station asked since is dropped, and a failure shows
// nothing (the search said what went wrong already).
class StockAlertWatch {
 public:
  using Shown = std::function<void(const std::string& summary, const std::string& station)>;
  explicit StockAlertWatch(Shown shown);
  ~StockAlertWatch();
  void Ask(const std::string& station);
  const std::string& Station() const { return mStation; }

 private:
  Shown mShown;
  CodeEntries mFormTypes;
  std::unique_ptr<ShellExchange> mExchange;
  std::string mStation;
};

}  // namespace fm::shell

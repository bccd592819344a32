#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "protocol/Custody.h"
#include "shell/AccountabilityPrint.h"
#include "shell/LocalCodes.h"
#include "shell/WindowModel.h"

namespace fm::shell {

class ShellExchange;

// What the clerk asks the report for, as typed (blanks around them taken off, the station
// in capitals).
struct AccountabilityEntries {
  std::string station;  // a Troop/District, "A1"
  bool wholeTroop = false;
  std::string officer;   // a registry number
  std::string formType;  // a code; empty: all form types
  std::string firstDay;  // YYYY-MM-DD; empty when the clerk's entry is not a date
  std::string lastDay;
};

// Reports > Accountability without its window: the accountability report of a
// Troop/District, a whole troop or an officer over a period, asked of the forms server
// (message type 36, through the message component), and what the window, its exports and
// its print say of it.
//
// `changed` runs after every change the window shows: the status line, a request sent or
// answered, and with Change::Report a new report.
class Accountability {
 public:
  enum class Change { Status, Report };
  using Changed = std::function<void(Change)>;
  // A day (YYYY-MM-DD) as the clerk reads it (the window's locale).
  using DayText = std::function<std::string(const std::string& isoDay)>;
  // Which entry is not a date: the window says how to type one, in its locale's words.
  enum class Problem { None, FirstDay, LastDay };

  static constexpr const char* kTitle = "Accountability Report";
  static constexpr const char* kAllFormTypes = "All form types";

  Accountability(TimeText timeText, DayText dayText, Changed changed);
  ~Accountability();

  // The form types to choose from besides all of them (code, description).
  const CodeEntries& FormTypes() const { return mFormTypes; }
  // Asks for the report the entries describe, unless a report is awaited already. A holder
  // missing is said in the status line; a day that is not a date is answered; either way
  // nothing is sent.
  Problem Run(const AccountabilityEntries& entries);
  bool Waiting() const;

  const protocol::AccountabilityReport& Report() const { return mReport; }
  // "Troop/District A1 Capital City — 11/1/2026 to 11/30/2026".
  std::string Heading() const;
  // The texts of the report's heading and certification; `certifier` as typed.
  AccountabilityTexts Texts(const std::string& certifier) const;
  // "accountability-A1-2026-11-01-2026-11-30.csv".
  std::string SuggestedFileName(const char* extension) const;
  // The report and the certification as CSV to `path`; a file that cannot be written is
  // said in a message box.
  void ExportToCsv(const std::string& path, const std::string& certifier);

  const StatusLine& Status() const { return mStatus; }
  // For what only the window does (its PDF and its print).
  void Say(std::string text, bool problem);

 private:
  void Show(const protocol::AccountabilityReport& report);

  TimeText mTimeText;
  DayText mDayText;
  Changed mChanged;
  CodeEntries mFormTypes;
  std::unique_ptr<ShellExchange> mExchange;
  protocol::AccountabilityReport mReport;
  StatusLine mStatus;
};

// The first and last day of the calendar month before the one `today` is in.
std::pair<std::chrono::year_month_day, std::chrono::year_month_day> LastCalendarMonth(
    std::chrono::year_month_day today);

}  // namespace fm::shell

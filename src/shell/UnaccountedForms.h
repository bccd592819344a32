#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/Usage.h"
#include "shell/LocalCodes.h"
#include "shell/ReportLayout.h"
#include "shell/WindowModel.h"

namespace fm::shell {

class ShellExchange;

// What the clerk asks the reconciliation for, as typed.
struct UnaccountedEntries {
  std::string station;   // a Troop/District, "A1"
  std::string officer;   // a registry number
  std::string formType;  // a code; empty: every form type
  std::string asOf;      // YYYY-MM-DD; empty when the clerk's entry is not a date
  std::string gapDays;   // a whole number of days
};

// Reports > Unaccounted Forms... without its window: the reconciliation of a station's or an
// officer's forms against their uses (message type 38), per holder and form type the numbers
// held, used by disposition, in stock and unaccounted (as serial ranges), and the uses that
// are exceptions with the facts that prove them; exported as CSV (the protocol's table, no
// cell a spreadsheet would run) and printed through ReportLayout.
//
// `changed` runs after every change the window shows (Change::Report: a new answer).
class UnaccountedForms {
 public:
  enum class Change { Status, Report };
  using Changed = std::function<void(Change)>;
  using DayText = std::function<std::string(const std::string& isoDay)>;

  static constexpr const char* kTitle = "Unaccounted Forms";
  static constexpr int kDefaultGapDays = 30;
  static const std::vector<std::string> kLineHeadings;
  static const std::vector<std::string> kExceptionHeadings;

  UnaccountedForms(TimeText timeText, DayText dayText, Changed changed);
  ~UnaccountedForms();

  const CodeEntries& FormTypes() const { return mFormTypes; }
  // Asks for the reconciliation the entries describe, unless one is awaited already; a
  // wrong entry is said in the status line and nothing is sent.
  void Run(const UnaccountedEntries& entries);
  bool Waiting() const;

  bool HasReport() const { return mReport.has_value(); }
  // The last answer; an empty one before any.
  const protocol::Reconciliation& Report() const;
  // "A1 Capital City, as of 11/30/2026 (skipped for more than 30 days: unaccounted)".
  std::string Heading() const;
  // Per holder and form type: holder, form type, held, each disposition, in stock,
  // unaccounted and the unaccounted numbers.
  std::vector<std::vector<std::string>> LineRows() const;
  // Per exception: what, form type, number, disposition, used on, officer, reference, facts.
  std::vector<std::vector<std::string>> ExceptionRows() const;
  // "unaccounted-A1-2026-11-30.csv".
  std::string SuggestedFileName(const char* extension) const;
  void ExportToCsv(const std::string& path);
  // The report as printed, and the footer of its pages.
  std::vector<ReportBlock> Blocks() const;
  std::string Footer() const;

  const StatusLine& Status() const { return mStatus; }
  void Say(std::string text, bool problem);

  // The officer's clearance statement (docs/clearance.md): the same reconciliation of one
  // officer's forms, read for its verdict ("CLEAR" only when nothing is unused or
  // unaccounted), which the status line, the printed statement (with lines for the officer's
  // and his supervisor's signatures) and its file name then carry.
  static constexpr const char* kClearanceTitle = "Clearance Statement";
  void SetClearance(bool clearance) { mClearance = clearance; }
  bool IsClearance() const { return mClearance; }
  // The verdict of the last answer; empty before one, or out of clearance.
  std::string Verdict() const;
  bool Clear() const;

 private:
  void Show(protocol::Reconciliation report);

  TimeText mTimeText;
  DayText mDayText;
  Changed mChanged;
  CodeEntries mFormTypes;
  std::unique_ptr<ShellExchange> mExchange;
  // Only ever constructed, never assigned: the assignment of its lines' arrays is what
  // clang-tidy's reserved-identifier check finds fault with in the generated code.
  std::optional<protocol::Reconciliation> mReport;
  StatusLine mStatus;
  bool mClearance = false;
};

}  // namespace fm::shell

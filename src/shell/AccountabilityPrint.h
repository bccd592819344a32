#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/Custody.h"
#include "shell/ReportLayout.h"

// What the accountability report says, in the words the window, its PDF, its print and its
// CSV share, without a toolkit: the form types and reasons by their descriptions, the
// counts with their thousands grouped, the serial ranges by line, and the certification.
namespace fm::shell {

// "ENF001 Citation": the description the report carries, the code when it has none.
std::string FormTypeText(const protocol::AccountabilityLine& line);
// "Void": the reason's description, the code when the report has none.
std::string ReasonText(const protocol::AccountabilityReport& report, const std::string& code);
// "yes", or "NO: off by 12".
std::string BalancedText(const protocol::AccountabilityLine& line);

// The rows of the range list of one form type: each line ("Beginning balance"...), after
// "Delisted" the delisted forms once more by reason.
struct RangeRow {
  std::string line;
  std::string reason;
  std::int64_t count = 0;
  std::string ranges;  // "1100001-1100050, 1100101"
};
std::vector<RangeRow> RangeRows(const protocol::AccountabilityReport& report,
                                const protocol::AccountabilityLine& line);

// The headings of the table of form types: "Form type", the lines, "Issued", "Balanced".
std::vector<std::string> LineHeadings();
// One row of that table for a form type.
std::vector<std::string> LineCells(const protocol::AccountabilityLine& line);

inline constexpr const char* kCertificationText =
    "I certify that this report accounts for every form in the custody named above for the "
    "period shown.";

// What the window shows above the report, in the clerk's own formats.
struct AccountabilityTexts {
  std::string period;     // "11/1/2026 to 11/30/2026"
  std::string computed;   // when the server computed it, local time
  std::string formTypes;  // "All form types", "ENF001 Citation"
  std::string certifier;  // the accountable officer's name; empty: a line to write it on
};

// The report as it is printed: the title and heading, the table of form types (a defect in
// red), the serial ranges of each form type under its own heading, the certification.
std::vector<ReportBlock> AccountabilityBlocks(const protocol::AccountabilityReport& report,
                                              const AccountabilityTexts& texts);
// "Accountable Forms Report, Troop/District A1 Capital City, 11/1/2026 to 11/30/2026": the
// footer of every printed page.
std::string AccountabilityFooter(const protocol::AccountabilityReport& report,
                                 const AccountabilityTexts& texts);

// The certification as CSV records, after the report's own: an empty record, the
// sentence, and the officer, signature and date, each a label and its value.
std::vector<std::vector<std::string>> CertificationCsvRecords(const std::string& certifier);

}  // namespace fm::shell

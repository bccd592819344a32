#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace fm {

// Writes records as comma-separated values (RFC 4180): fields separated by commas, each
// record ended by CR LF; a field that holds a comma, a double quote, a CR or an LF is put
// in double quotes, each double quote in it doubled. Texts are written as they are (UTF-8),
// without a byte-order mark. Errors of the stream are the caller's to check.
class CsvWriter {
 public:
  explicit CsvWriter(std::ostream& out) : mOut(out) {}
  void WriteRecord(const std::vector<std::string>& fields);

 private:
  std::ostream& mOut;
};

// Whether a spreadsheet opening the field would run it as a formula: it starts with = + - @,
// a tab or a CR and is not a number.
bool RunsAsFormula(std::string_view field);

// One field as CSV writes it. A field a spreadsheet would run as a formula is written quoted
// with a leading apostrophe, which spreadsheets show as text: exports carry what clerks and
// import files typed, and "=HYPERLINK(...)" must reach an auditor's screen as the text it is.
std::string CsvField(std::string_view field);

// Records as tab-separated text, as spreadsheets paste it: fields joined by tabs, each
// record ended by LF. TSV has no quoting, so a tab or a line break inside a field becomes a
// blank.
std::string TabSeparated(const std::vector<std::vector<std::string>>& records);

}  // namespace fm

#include "base/DelimitedText.h"

#include "base/Numbers.h"

namespace fm {

bool RunsAsFormula(std::string_view field) {
  if (field.empty() || std::string_view("=+-@\t\r").find(field.front()) == std::string_view::npos) {
    return false;
  }
  // A negative number is data to every spreadsheet.
  return text::NumberPrefixLength(field) != field.size();
}

std::string CsvField(std::string_view field) {
  const bool formula = RunsAsFormula(field);
  if (!formula && field.find_first_of(",\"\r\n") == std::string_view::npos) {
    return std::string(field);
  }
  std::string quoted;
  quoted.reserve(field.size() + 3);
  quoted += '"';
  if (formula) quoted += '\'';
  for (const char c : field) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

void CsvWriter::WriteRecord(const std::vector<std::string>& fields) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) mOut << ',';
    mOut << CsvField(fields[i]);
  }
  mOut << "\r\n";
}

std::string TabSeparated(const std::vector<std::vector<std::string>>& records) {
  std::string text;
  for (const auto& record : records) {
    for (std::size_t i = 0; i < record.size(); ++i) {
      if (i > 0) text += '\t';
      for (const char c : record[i]) text += (c == '\t' || c == '\r' || c == '\n') ? ' ' : c;
    }
    text += '\n';
  }
  return text;
}

}  // namespace fm

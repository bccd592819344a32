#include "base/DelimitedText.h"

namespace fm {

std::string CsvField(std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(field);
  std::string quoted;
  quoted.reserve(field.size() + 2);
  quoted += '"';
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

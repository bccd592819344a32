#include "common/ParameterText.h"

namespace fm {

namespace {

constexpr char kSeparator = '~';
constexpr std::string_view kEscapedPercent = "%25";
constexpr std::string_view kEscapedSeparator = "%7E";

bool EscapeAt(std::string_view text, std::size_t at, std::string_view escape) {
  if (text.size() - at < escape.size()) return false;
  for (std::size_t i = 0; i < escape.size(); ++i) {
    // Hexadecimal digits may come in either case.
    char c = text[at + i];
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    if (c != escape[i]) return false;
  }
  return true;
}

std::string Unescape(std::string_view piece) {
  std::string field;
  field.reserve(piece.size());
  for (std::size_t i = 0; i < piece.size(); ++i) {
    if (piece[i] == '%' && EscapeAt(piece, i, kEscapedPercent)) {
      field += '%';
      i += kEscapedPercent.size() - 1;
    } else if (piece[i] == '%' && EscapeAt(piece, i, kEscapedSeparator)) {
      field += kSeparator;
      i += kEscapedSeparator.size() - 1;
    } else {
      field += piece[i];
    }
  }
  return field;
}

}  // namespace

std::string JoinParameterFields(const std::vector<std::string>& fields) {
  std::string parameters;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) parameters += kSeparator;
    for (char c : fields[i]) {
      if (c == '%') {
        parameters += kEscapedPercent;
      } else if (c == kSeparator) {
        parameters += kEscapedSeparator;
      } else {
        parameters += c;
      }
    }
  }
  return parameters;
}

std::vector<std::string> SplitParameterFields(std::string_view parameters) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = parameters.find(kSeparator, start);
    fields.push_back(Unescape(parameters.substr(start, end - start)));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return fields;
}

}  // namespace fm

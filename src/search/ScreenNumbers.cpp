#include "search/ScreenNumbers.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

#include "platform/PlatformError.h"

namespace fm {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view SkipLeadingBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  return text;
}

std::string_view TrimBlanks(std::string_view text) {
  text = SkipLeadingBlanks(text);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Length of the longest prefix of `text` that reads as a decimal number, 0 when none does.
// An exponent counts only with its digits, so "12e" reads as 12.
std::size_t NumberPrefixLength(std::string_view text) {
  const std::size_t n = text.size();
  std::size_t i = 0;
  if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < n && IsDigit(text[i])) ++i, ++digits;
  if (i < n && text[i] == '.') {
    std::size_t j = i + 1;
    std::size_t fraction = 0;
    while (j < n && IsDigit(text[j])) ++j, ++fraction;
    if (digits + fraction > 0) i = j;
    digits += fraction;
  }
  if (digits == 0) return 0;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < n && (text[j] == '+' || text[j] == '-')) ++j;
    std::size_t k = j;
    while (k < n && IsDigit(text[k])) ++k;
    if (k > j) i = k;
  }
  return i;
}

// Whether a number that a double cannot hold is too small (rather than too large): the
// power of ten of its first significant digit is negative. `number` has no sign.
bool IsTooSmall(std::string_view number) {
  const std::size_t exponentAt = number.find_first_of("eE");
  const std::string_view mantissa = number.substr(0, exponentAt);
  long exponent = 0;
  if (exponentAt != std::string_view::npos) {
    std::string_view digits = number.substr(exponentAt + 1);
    const bool negative = !digits.empty() && digits.front() == '-';
    if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) {
      digits.remove_prefix(1);
    }
    for (char c : digits) exponent = std::min(exponent * 10 + (c - '0'), 1000000L);
    if (negative) exponent = -exponent;
  }
  const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
  const std::size_t first = mantissa.find_first_of("123456789");
  if (first == std::string_view::npos) return true;
  const long position =
      first < point ? static_cast<long>(point - first) - 1 : -static_cast<long>(first - point);
  return position + exponent < 0;
}

// Reads a text that NumberPrefixLength accepted whole. A number too small for a double reads
// as zero; one too large answers false (`value` is then the signed infinity).
bool ReadNumber(std::string_view number, double& value) {
  const bool negative = number.front() == '-';
  if (number.front() == '+' || number.front() == '-') number.remove_prefix(1);
  const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
  bool fits = true;
  if (result.ec == std::errc::result_out_of_range) {
    fits = IsTooSmall(number);
    value = fits ? 0.0 : std::numeric_limits<double>::infinity();
  }
  if (negative) value = -value;
  return fits;
}

}  // namespace

double LeadingNumber(std::string_view text) {
  text = SkipLeadingBlanks(text);
  const std::size_t length = NumberPrefixLength(text);
  if (length == 0) return 0;
  double value = 0;
  ReadNumber(text.substr(0, length), value);
  return value;
}

bool IsNumericText(std::string_view text) {
  text = TrimBlanks(text);
  return !text.empty() && NumberPrefixLength(text) == text.size();
}

double TextToDouble(std::string_view text, std::string_view what) {
  const std::string_view trimmed = TrimBlanks(text);
  if (trimmed.empty() || NumberPrefixLength(trimmed) != trimmed.size()) {
    throw PlatformError(PlatformError::kTypeMismatch,
                        fmt::format("The {} \"{}\" is not a number", what, text));
  }
  double value = 0;
  if (!ReadNumber(trimmed, value)) {
    throw PlatformError(PlatformError::kOverflow,
                        fmt::format("The {} \"{}\" is too large a number", what, text));
  }
  return value;
}

std::int32_t TextToInt32(std::string_view text, std::string_view what) {
  const double value = TextToDouble(text, what);
  // The default rounding mode rounds a half to the even neighbour.
  const double rounded = std::nearbyint(value);
  if (rounded < static_cast<double>(std::numeric_limits<std::int32_t>::min()) ||
      rounded > static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
    throw PlatformError(PlatformError::kOverflow,
                        fmt::format("The {} \"{}\" does not fit a 32-bit whole number (at most "
                                    "2147483647)",
                                    what, text));
  }
  return static_cast<std::int32_t>(rounded);
}

}  // namespace fm

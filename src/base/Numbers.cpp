#include "base/Numbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "base/Text.h"

namespace fm::text {

namespace {

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

}  // namespace

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

bool ReadDecimal(std::string_view number, double& value) {
  value = 0;
  if (number.empty()) return true;
  const bool negative = number.front() == '-';
  if (number.front() == '+' || number.front() == '-') number.remove_prefix(1);
  const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
  bool fits = true;
  if (result.ec == std::errc::result_out_of_range || !std::isfinite(value)) {
    fits = IsTooSmall(number);
    value = fits ? 0.0 : std::numeric_limits<double>::infinity();
  }
  if (negative) value = -value;
  return fits;
}

NumberKind ParseNumber(std::string_view text, std::int64_t& integer, double& real) {
  text = TrimBlanks(text);
  if (text.empty() || NumberPrefixLength(text) != text.size()) return NumberKind::NotANumber;
  if (text.find_first_of(".eE") == std::string_view::npos) {
    const char* first = text.data() + (text.front() == '+' ? 1 : 0);
    const char* last = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(first, last, integer);
    if (ec == std::errc() && ptr == last) {
      real = static_cast<double>(integer);
      return NumberKind::Integer;
    }
  }
  ReadDecimal(text, real);
  return NumberKind::Real;
}

WholeNumberStatus ReadWholeNumber(std::string_view text, std::int64_t& value) {
  text = TrimBlanks(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // from_chars would take a second sign after the first one.
  if (text.empty() || !std::all_of(text.begin(), text.end(), IsDigit)) {
    return WholeNumberStatus::kNotWhole;
  }
  std::uint64_t magnitude = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (ec != std::errc() || magnitude > kMax + (negative ? 1 : 0)) {
    return WholeNumberStatus::kTooLarge;
  }
  value =
      negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
  return WholeNumberStatus::kOk;
}

std::optional<std::int64_t> WholeNumber(std::string_view text) {
  std::int64_t value = 0;
  if (ReadWholeNumber(text, value) != WholeNumberStatus::kOk) return std::nullopt;
  return value;
}

std::size_t FormatDouble(double value, char* buffer) {
  char* const end = buffer + kDoubleTextSize;
  if (std::isnan(value)) {
    constexpr std::string_view kNaN = "NaN";
    return kNaN.copy(buffer, kNaN.size());
  }
  if (std::isinf(value)) {
    const std::string_view text = value < 0 ? "-Infinity" : "Infinity";
    return text.copy(buffer, text.size());
  }
  if (value == 0) {  // also -0.0, which a clerk would not want to see
    buffer[0] = '0';
    return 1;
  }
  const double magnitude = std::fabs(value);
  const auto format = (magnitude >= 1e-6 && magnitude < 1e21) ? std::chars_format::fixed
                                                              : std::chars_format::scientific;
  const auto result = std::to_chars(buffer, end, value, format);
  return static_cast<std::size_t>(result.ptr - buffer);
}

std::size_t FormatInteger(std::int64_t value, char* buffer) {
  const auto result = std::to_chars(buffer, buffer + 24, value);
  return static_cast<std::size_t>(result.ptr - buffer);
}

}  // namespace fm::text

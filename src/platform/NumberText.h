#pragma once

// Reading and writing numbers as texts without allocating, shared by value conversion and
// criterion evaluation (which runs once per row and must stay allocation-free). Internal to
// the platform.

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <system_error>

namespace fm::detail {

inline bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

inline std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

enum class NumberKind { NotANumber, Integer, Real };

// Reads a whole text, blanks around it allowed, as a number: an optional sign, digits with an
// optional fraction (at least one digit in all), an optional exponent. Nothing else: no
// thousands separators, no "inf" or "nan". An Integer sets both `integer` and `real`; a
// number written as a whole number that does not fit 64 bits comes back as Real.
inline NumberKind ParseNumber(std::string_view text, std::int64_t& integer, double& real) {
  text = TrimBlanks(text);
  std::size_t i = 0;
  const std::size_t n = text.size();
  if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < n && IsDigit(text[i])) ++i, ++digits;
  bool whole = true;
  if (i < n && text[i] == '.') {
    whole = false;
    ++i;
    while (i < n && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return NumberKind::NotANumber;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    whole = false;
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t expDigits = 0;
    while (i < n && IsDigit(text[i])) ++i, ++expDigits;
    if (expDigits == 0) return NumberKind::NotANumber;
  }
  if (i != n) return NumberKind::NotANumber;

  // from_chars takes a leading '-' but not '+'.
  const char* first = text.data() + (text[0] == '+' ? 1 : 0);
  const char* last = text.data() + n;
  if (whole) {
    auto [ptr, ec] = std::from_chars(first, last, integer);
    if (ec == std::errc() && ptr == last) {
      real = static_cast<double>(integer);
      return NumberKind::Integer;
    }
  }
  auto [ptr, ec] = std::from_chars(first, last, real);
  if (ptr != last) return NumberKind::NotANumber;
  if (ec == std::errc::result_out_of_range || !std::isfinite(real)) {
    // Beyond the range of a double: still a number, but too large to be any value here.
    real = (text[0] == '-') ? -HUGE_VAL : HUGE_VAL;
    return NumberKind::Real;
  }
  if (ec != std::errc()) return NumberKind::NotANumber;
  return NumberKind::Real;
}

// Room for any double written by FormatDouble.
inline constexpr std::size_t kDoubleTextSize = 64;

// Writes a double as a clerk reads it: the shortest text that reads back as the same
// double, in plain decimals for ordinary magnitudes (148.0 -> "148", 0.25 -> "0.25") and in
// exponent form only for very large or very small ones. Answers the length written.
inline std::size_t FormatDouble(double value, char* buffer) {
  char* const end = buffer + kDoubleTextSize;
  if (std::isnan(value)) {
    constexpr std::string_view kNaN = "NaN";
    return static_cast<std::size_t>(kNaN.copy(buffer, kNaN.size()));
  }
  if (std::isinf(value)) {
    const std::string_view text = value < 0 ? "-Infinity" : "Infinity";
    return static_cast<std::size_t>(text.copy(buffer, text.size()));
  }
  if (value == 0) {  // also -0.0, which a clerk would not want to see
    buffer[0] = '0';
    return 1;
  }
  const double magnitude = std::fabs(value);
  const auto format = (magnitude >= 1e-6 && magnitude < 1e21) ? std::chars_format::fixed
                                                              : std::chars_format::scientific;
  auto result = std::to_chars(buffer, end, value, format);
  return static_cast<std::size_t>(result.ptr - buffer);
}

// Writes an integer in plain decimal. Answers the length written (buffer of 24 or more).
inline std::size_t FormatInteger(std::int64_t value, char* buffer) {
  auto result = std::to_chars(buffer, buffer + 24, value);
  return static_cast<std::size_t>(result.ptr - buffer);
}

}  // namespace fm::detail

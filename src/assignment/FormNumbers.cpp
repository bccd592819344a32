#include "assignment/FormNumbers.h"

#include <fmt/format.h>

#include <charconv>
#include <limits>
#include <system_error>

#include "platform/TextUtil.h"
#include "platform/PlatformError.h"

namespace fm {

std::optional<std::int64_t> ReadFormNumber(std::string_view text) {
  const std::string trimmed = text::Trim(text);
  std::string_view digits = trimmed;
  bool negative = false;
  if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
    negative = digits.front() == '-';
    digits.remove_prefix(1);
  }
  // from_chars would take a second sign; a form number has at most one.
  if (digits.empty() || digits.front() < '0' || digits.front() > '9') return std::nullopt;
  std::uint64_t magnitude = 0;
  const char* end = digits.data() + digits.size();
  const auto [ptr, ec] = std::from_chars(digits.data(), end, magnitude);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (!negative && magnitude > kMax) return std::nullopt;
  if (negative && magnitude > kMax + 1) return std::nullopt;
  if (negative) return static_cast<std::int64_t>(0 - magnitude);
  return static_cast<std::int64_t>(magnitude);
}

std::int64_t FormNumber(std::string_view text, std::string_view what) {
  if (const auto number = ReadFormNumber(text)) return *number;
  throw PlatformError(PlatformError::kTypeMismatch,
                      fmt::format("Type mismatch: the {} '{}' is not a form number (a whole "
                                  "number of at most 19 digits)",
                                  what, text::Trim(text)));
}

std::int64_t OffsetFormNumber(std::int64_t number, int delta, std::string_view what) {
  std::int64_t result = 0;
  if (__builtin_add_overflow(number, static_cast<std::int64_t>(delta), &result)) {
    throw PlatformError(PlatformError::kOverflow,
                        fmt::format("Overflow: {} {} {} is beyond the largest form number", what,
                                    delta < 0 ? "-" : "+", delta < 0 ? -delta : delta));
  }
  return result;
}

}  // namespace fm

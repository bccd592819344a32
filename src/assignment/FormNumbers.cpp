#include "assignment/FormNumbers.h"

#include <fmt/format.h>

#include <charconv>
#include <limits>
#include <system_error>

#include "base/Numbers.h"
#include "base/Text.h"
#include "platform/PlatformError.h"

namespace fm {

std::optional<std::int64_t> ReadFormNumber(std::string_view text) {
  return text::WholeNumber(text);
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

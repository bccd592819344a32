#include "common/ScreenNumbers.h"

#include <fmt/format.h>

#include <cmath>
#include <limits>
#include <string>

#include "base/Numbers.h"
#include "base/Text.h"
#include "platform/PlatformError.h"

namespace fm {

double LeadingNumber(std::string_view text) {
  // Trailing blanks do not change the prefix, so trimming both ends is the same reading.
  text = text::TrimBlanks(text);
  const std::size_t length = text::NumberPrefixLength(text);
  if (length == 0) return 0;
  double value = 0;
  text::ReadDecimal(text.substr(0, length), value);
  return value;
}

bool IsNumericText(std::string_view text) {
  text = text::TrimBlanks(text);
  return !text.empty() && text::NumberPrefixLength(text) == text.size();
}

double TextToDouble(std::string_view text, std::string_view what) {
  const std::string_view trimmed = text::TrimBlanks(text);
  if (trimmed.empty() || text::NumberPrefixLength(trimmed) != trimmed.size()) {
    throw PlatformError(PlatformError::kTypeMismatch,
                        fmt::format("The {} \"{}\" is not a number", what, text));
  }
  double value = 0;
  if (!text::ReadDecimal(trimmed, value)) {
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

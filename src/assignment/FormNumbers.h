#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace fm {

// Form numbers as the assignment dialog reads them from its boxes: whole numbers (an
// optional sign, then digits; blanks around them allowed) that fit 64 bits. Ten-digit
// numbers of the decal and seal types do not fit 32 bits, and a fraction is never a form
// number.

// The number, or nothing when the text is not such a number.
std::optional<std::int64_t> ReadFormNumber(std::string_view text);

// The number; throws PlatformError (type mismatch) naming `what` and the text when the
// text is not a form number.
std::int64_t FormNumber(std::string_view text, std::string_view what);

// `number` + `delta`; throws PlatformError (overflow) naming `what` when the result does
// not fit 64 bits.
std::int64_t OffsetFormNumber(std::int64_t number, int delta, std::string_view what);

}  // namespace fm

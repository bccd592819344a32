#pragma once

#include <cstdint>
#include <string_view>

namespace fm {

// Numbers the screen reads from what users type and what grids show. The entry checks and
// the grids need three different readings of one text, so each is spelled out here once.

// The number at the start of a text: leading blanks skipped, then the longest prefix that
// reads as a decimal number (sign, digits, fraction, exponent); 0 when there is none.
// "12abc" reads 12, "abc" and "" read 0. Never throws.
double LeadingNumber(std::string_view text);

// Whether the whole text, blanks around it allowed, reads as a decimal number: an optional
// sign, digits with an optional fraction, an optional exponent. Nothing else.
bool IsNumericText(std::string_view text);

// The whole text as a number. Throws PlatformError (type mismatch) naming `what` and the
// text when it does not read as a number, and (overflow) when it is beyond a double's range.
double TextToDouble(std::string_view text, std::string_view what);

// The whole text as a 32-bit integer, a fraction rounded to the nearest whole number (a half
// to the even neighbour). Throws PlatformError naming `what` and the text: type mismatch
// when the text is not a number, overflow when the number does not fit 32 bits.
std::int32_t TextToInt32(std::string_view text, std::string_view what);

}  // namespace fm

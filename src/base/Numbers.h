#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// The one grammar of numbers written as text, and the one reading of each kind of number.
// A number is an optional sign, digits with an optional fraction (at least one digit in
// all), and an optional exponent with its own digits. Nothing else: no thousands
// separators, no "inf" or "nan", no hexadecimal. None of these allocate or throw, so the
// criterion evaluation that runs once per row can use them; each caller decides what bad
// input means in its own words.
namespace fm::text {

// Length of the longest prefix of `text` that reads as a number, 0 when none does. An
// exponent counts only with its digits, so "12e" reads as 12 and "1.5x" as 1.5.
std::size_t NumberPrefixLength(std::string_view text);

// Reads a text that NumberPrefixLength accepts whole (no blanks). A number too small for a
// double reads as (signed) zero; one too large answers false with `value` the signed
// infinity.
bool ReadDecimal(std::string_view number, double& value);

enum class NumberKind { NotANumber, Integer, Real };

// Reads a whole text, blanks around it allowed, as a number. An Integer sets both `integer`
// and `real`; a number written as a whole number that does not fit 64 bits comes back as
// Real; a number beyond a double's range as a Real of signed infinity.
NumberKind ParseNumber(std::string_view text, std::int64_t& integer, double& real);

enum class WholeNumberStatus { kOk, kNotWhole, kTooLarge };

// Reads a whole text, blanks around it allowed, as a whole number: one optional sign and
// digits only. kTooLarge when the digits do not fit 64 bits.
WholeNumberStatus ReadWholeNumber(std::string_view text, std::int64_t& value);

// The whole number a text holds, nothing when ReadWholeNumber would not answer kOk.
std::optional<std::int64_t> WholeNumber(std::string_view text);

// Room for any double written by FormatDouble.
inline constexpr std::size_t kDoubleTextSize = 64;

// Writes a double as a clerk reads it: the shortest text that reads back as the same
// double, in plain decimals for ordinary magnitudes (148.0 -> "148", 0.25 -> "0.25") and in
// exponent form only for very large or very small ones. Answers the length written.
std::size_t FormatDouble(double value, char* buffer);

// Writes an integer in plain decimal. Answers the length written (buffer of 24 or more).
std::size_t FormatInteger(std::int64_t value, char* buffer);

}  // namespace fm::text

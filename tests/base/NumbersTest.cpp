#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

#include "base/Numbers.h"

namespace fm::text {
namespace {

struct WholeCase {
  const char* text;
  WholeNumberStatus status;
  std::int64_t value;
};

// Every reader of whole numbers in the product answers through this one: a registry
// number, a form number, a port, a criterion's value, a stored column.
TEST(WholeNumber, ReadsOneSignAndDigitsOnly) {
  const WholeCase cases[] = {
      {"0", WholeNumberStatus::kOk, 0},
      {" 1100050 ", WholeNumberStatus::kOk, 1100050},
      {"+7", WholeNumberStatus::kOk, 7},
      {"-12", WholeNumberStatus::kOk, -12},
      {"9223372036854775807", WholeNumberStatus::kOk, std::numeric_limits<std::int64_t>::max()},
      {"-9223372036854775808", WholeNumberStatus::kOk, std::numeric_limits<std::int64_t>::min()},
      {"9223372036854775808", WholeNumberStatus::kTooLarge, 0},
      {"-9223372036854775809", WholeNumberStatus::kTooLarge, 0},
      {"99999999999999999999999", WholeNumberStatus::kTooLarge, 0},
      {"", WholeNumberStatus::kNotWhole, 0},
      {"   ", WholeNumberStatus::kNotWhole, 0},
      {"-", WholeNumberStatus::kNotWhole, 0},
      {"+-5", WholeNumberStatus::kNotWhole, 0},
      {"--5", WholeNumberStatus::kNotWhole, 0},
      {"1.0", WholeNumberStatus::kNotWhole, 0},
      {"1e3", WholeNumberStatus::kNotWhole, 0},
      {"12 34", WholeNumberStatus::kNotWhole, 0},
      {"0x10", WholeNumberStatus::kNotWhole, 0},
      {"1,000", WholeNumberStatus::kNotWhole, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::int64_t value = 0;
    EXPECT_EQ(ReadWholeNumber(c.text, value), c.status);
    if (c.status == WholeNumberStatus::kOk) {
      EXPECT_EQ(value, c.value);
      EXPECT_EQ(WholeNumber(c.text), c.value);
    } else {
      EXPECT_FALSE(WholeNumber(c.text).has_value());
    }
  }
}

struct NumberCase {
  const char* text;
  NumberKind kind;
  double real;
  std::size_t prefix;  // NumberPrefixLength of the text itself
};

TEST(Number, OneGrammarForWholeTextsAndPrefixes) {
  const double inf = std::numeric_limits<double>::infinity();
  const NumberCase cases[] = {
      {"148", NumberKind::Integer, 148, 3},
      {"-3", NumberKind::Integer, -3, 2},
      {"+0.25", NumberKind::Real, 0.25, 5},
      {"1.", NumberKind::Real, 1, 2},
      {".5", NumberKind::Real, 0.5, 2},
      {"2.5e3", NumberKind::Real, 2500, 5},
      {"18446744073709551616", NumberKind::Real, 18446744073709551616.0, 20},
      {"1e400", NumberKind::Real, inf, 5},
      {"-1e400", NumberKind::Real, -inf, 6},
      {"1e-400", NumberKind::Real, 0, 6},  // too small reads as zero, never as infinity
      {"12e", NumberKind::NotANumber, 0, 2},
      {"1.5x", NumberKind::NotANumber, 0, 3},
      {".", NumberKind::NotANumber, 0, 0},
      {"inf", NumberKind::NotANumber, 0, 0},
      {"nan", NumberKind::NotANumber, 0, 0},
      {"1,000", NumberKind::NotANumber, 0, 1},
      {"", NumberKind::NotANumber, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::int64_t integer = 0;
    double real = 0;
    EXPECT_EQ(ParseNumber(c.text, integer, real), c.kind);
    if (c.kind != NumberKind::NotANumber) {
      EXPECT_EQ(real, c.real);
    }
    if (c.kind == NumberKind::Integer) {
      EXPECT_EQ(static_cast<double>(integer), c.real);
    }
    EXPECT_EQ(NumberPrefixLength(c.text), c.prefix);
  }
}

// What the product writes, it reads back unchanged: numbers travel as text between the
// grids, the local database and the wire.
TEST(Number, WrittenNumbersReadBackExactly) {
  const auto seed = std::random_device{}();
  std::mt19937_64 random(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::uniform_int_distribution<int> exponent(-300, 300);
  for (int i = 0; i < 20000; ++i) {
    const auto whole = static_cast<std::int64_t>(random());
    char buffer[kDoubleTextSize];
    const std::string wholeText(buffer, FormatInteger(whole, buffer));
    ASSERT_EQ(WholeNumber(wholeText), whole) << wholeText;

    const double real =
        std::ldexp(static_cast<double>(random() >> 11) / 9007199254740992.0, exponent(random)) *
        (random() % 2 ? 1 : -1);
    const std::string realText(buffer, FormatDouble(real, buffer));
    std::int64_t integer = 0;
    double back = 0;
    ASSERT_NE(ParseNumber(realText, integer, back), NumberKind::NotANumber) << realText;
    ASSERT_EQ(back, real) << realText;
  }
}

}  // namespace
}  // namespace fm::text

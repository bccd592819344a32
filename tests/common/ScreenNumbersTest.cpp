#include <gtest/gtest.h>

#include <limits>

#include "common/ScreenNumbers.h"
#include "platform/PlatformError.h"

namespace fm {
namespace {

TEST(ScreenNumbersTest, LeadingNumberReadsThePrefixThatIsANumber) {
  EXPECT_EQ(LeadingNumber("  12abc"), 12);
  EXPECT_EQ(LeadingNumber("-3.5x"), -3.5);
  EXPECT_EQ(LeadingNumber(".5"), 0.5);
  EXPECT_EQ(LeadingNumber("12e"), 12);  // an exponent needs its digits
  EXPECT_EQ(LeadingNumber("abc"), 0);
  EXPECT_EQ(LeadingNumber("1e999"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(LeadingNumber("1e-999"), 0);
}

TEST(ScreenNumbersTest, NumericTextIsAWholeDecimalNumber) {
  EXPECT_TRUE(IsNumericText("9999999999"));
  EXPECT_TRUE(IsNumericText(" +12.50 "));
  EXPECT_FALSE(IsNumericText("  "));
  EXPECT_FALSE(IsNumericText("12a"));
  EXPECT_FALSE(IsNumericText("1 2"));
  EXPECT_FALSE(IsNumericText("1,000"));
  EXPECT_FALSE(IsNumericText("0x10"));
}

TEST(ScreenNumbersTest, Int32ConversionRoundsHalvesToEven) {
  EXPECT_EQ(TextToInt32("1001", "registry number"), 1001);
  EXPECT_EQ(TextToInt32(" 12.5 ", "registry number"), 12);
  EXPECT_EQ(TextToInt32("13.5", "registry number"), 14);
  EXPECT_EQ(TextToInt32("-2147483648", "registry number"), std::numeric_limits<int>::min());
}

TEST(ScreenNumbersTest, ConversionErrorsNameWhatWasReadAndWhy) {
  try {
    TextToInt32("12a", "registry number");
    FAIL() << "no error";
  } catch (const PlatformError& e) {
    EXPECT_EQ(e.Number(), PlatformError::kTypeMismatch);
    EXPECT_EQ(e.Description(), "The registry number \"12a\" is not a number");
  }
  try {
    TextToInt32("3000000000", "registry number");
    FAIL() << "no error";
  } catch (const PlatformError& e) {
    EXPECT_EQ(e.Number(), PlatformError::kOverflow);
    EXPECT_NE(e.Description().find("3000000000"), std::string::npos);
  }
  EXPECT_THROW(TextToDouble("", "quarter"), PlatformError);
  EXPECT_THROW(TextToDouble("1e999", "quarter"), PlatformError);
  EXPECT_EQ(TextToDouble("4", "quarter"), 4);
}

}  // namespace
}  // namespace fm

#include "platform/Value.h"

#include <fmt/format.h>

#include <cmath>

#include "base/Numbers.h"
#include "base/Text.h"
#include "platform/PlatformError.h"

namespace fm {

namespace {

// Largest magnitudes a double can have and still convert to a 64-bit integer: 2^63.
constexpr double kTwoTo63 = 9223372036854775808.0;

Value IntegerFromDouble(double value, std::string_view shownAs) {
  if (!(value >= -kTwoTo63 && value < kTwoTo63)) {
    throw PlatformError(PlatformError::kOverflow,
                        fmt::format("The number {} is too large for an Integer value", shownAs));
  }
  if (value != std::trunc(value)) {
    // Rounding silently would change a form number; the writer must decide.
    throw PlatformError(PlatformError::kTypeMismatch,
                        fmt::format("The number {} is not a whole number and cannot be "
                                    "converted to Integer",
                                    shownAs));
  }
  return Value(static_cast<std::int64_t>(value));
}

Value NumberFromText(const std::string& text, FieldType type) {
  if (text::TrimBlanks(text).empty()) return Value();
  std::int64_t integer = 0;
  double real = 0;
  const text::NumberKind kind = text::ParseNumber(text, integer, real);
  if (kind == text::NumberKind::NotANumber) {
    throw PlatformError(PlatformError::kTypeMismatch,
                        fmt::format("Type mismatch: the text '{}' is not a number and cannot be "
                                    "converted to {}",
                                    text, FieldTypeName(type)));
  }
  if (type == FieldType::Double) return Value(real);
  if (kind == text::NumberKind::Integer) return Value(integer);
  return IntegerFromDouble(real, fmt::format("'{}'", std::string(text::TrimBlanks(text))));
}

}  // namespace

const char* FieldTypeName(FieldType type) {
  switch (type) {
    case FieldType::Text:
      return "Text";
    case FieldType::Integer:
      return "Integer";
    case FieldType::Double:
      return "Double";
  }
  return "unknown type";
}

std::string Value::ToText() const {
  if (IsNull()) return {};
  if (IsText()) return AsText();
  char buffer[text::kDoubleTextSize];
  const std::size_t length = IsInteger() ? text::FormatInteger(AsInteger(), buffer)
                                         : text::FormatDouble(AsDouble(), buffer);
  return std::string(buffer, length);
}

bool Value::Holds(FieldType type) const {
  switch (type) {
    case FieldType::Text:
      return IsText();
    case FieldType::Integer:
      return IsInteger();
    case FieldType::Double:
      return IsDouble();
  }
  return false;
}

Value Value::ConvertedTo(FieldType type) const {
  if (IsNull()) return *this;
  switch (type) {
    case FieldType::Text:
      return IsText() ? *this : Value(ToText());
    case FieldType::Integer:
      if (IsInteger()) return *this;
      if (IsDouble()) return IntegerFromDouble(AsDouble(), ToText());
      return NumberFromText(AsText(), type);
    case FieldType::Double:
      if (IsDouble()) return *this;
      if (IsInteger()) return Value(static_cast<double>(AsInteger()));
      return NumberFromText(AsText(), type);
  }
  throw PlatformError(PlatformError::kGeneric, "Conversion to an unknown field type");
}

}  // namespace fm

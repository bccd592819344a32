#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace fm {

// The type of a record-set column. Integers are 64-bit because ten-digit form numbers
// ("B", "Y", "Z") do not fit 32 bits. Dates are kept as ISO texts (YYYY-MM-DD or
// YYYY-MM-DD HH:MM:SS), which sort and compare correctly as text and match what the local
// database's date() answers.
enum class FieldType { Text, Integer, Double };

const char* FieldTypeName(FieldType type);

// One field value: null, a 64-bit integer, a double or a text. Null is first-class: it is
// neither the empty text nor zero.
class Value {
 public:
  Value() = default;                                    // null
  Value(std::int64_t v) : mData(v) {}                   // NOLINT(google-explicit-constructor)
  Value(int v) : mData(std::int64_t{v}) {}              // NOLINT(google-explicit-constructor)
  Value(double v) : mData(v) {}                         // NOLINT(google-explicit-constructor)
  Value(std::string v) : mData(std::move(v)) {}         // NOLINT(google-explicit-constructor)
  Value(std::string_view v) : mData(std::string(v)) {}  // NOLINT(google-explicit-constructor)
  Value(const char* v) : mData(std::string(v)) {}       // NOLINT(google-explicit-constructor)

  static Value Null() { return Value(); }

  bool IsNull() const { return std::holds_alternative<std::monostate>(mData); }
  bool IsInteger() const { return std::holds_alternative<std::int64_t>(mData); }
  bool IsDouble() const { return std::holds_alternative<double>(mData); }
  bool IsText() const { return std::holds_alternative<std::string>(mData); }
  bool IsNumber() const { return IsInteger() || IsDouble(); }
  // Whether the value is of that column type; null is of none.
  bool Holds(FieldType type) const;

  std::int64_t AsInteger() const { return std::get<std::int64_t>(mData); }
  double AsDouble() const { return std::get<double>(mData); }
  const std::string& AsText() const { return std::get<std::string>(mData); }

  // The value as a clerk reads it: null is the empty text, integers in plain decimal,
  // doubles in their shortest exact decimal form.
  std::string ToText() const;

  // The value converted for a column of the given type. A text that does not read as a
  // number for a numeric column throws PlatformError (type mismatch) naming the text; a
  // blank text becomes null there.
  Value ConvertedTo(FieldType type) const;

  friend bool operator==(const Value& a, const Value& b) { return a.mData == b.mData; }

 private:
  std::variant<std::monostate, std::int64_t, double, std::string> mData;
};

}  // namespace fm

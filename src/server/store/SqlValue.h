#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace fm::server {

// The values a statement binds and a row answers, the same for both backends.
using SqlValue = std::variant<std::monostate, std::int64_t, double, std::string>;
using SqlRow = std::vector<SqlValue>;

// A column's value as text: NULL reads as the empty text, numbers in plain decimal.
std::string SqlText(const SqlValue& v);
// A column's value as a whole number: NULL reads 0, a double is truncated, a text must be a
// whole number. Throws StoreError (internal) naming the text otherwise: a column the store
// wrote itself that does not read back is a damaged database, not a value to guess at.
std::int64_t SqlInteger(const SqlValue& v);
// The same for a nullable column: NULL reads as no value.
std::optional<std::string> SqlOptText(const SqlValue& v);
std::optional<std::int64_t> SqlOptInteger(const SqlValue& v);

}  // namespace fm::server

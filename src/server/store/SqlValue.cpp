#include "server/store/SqlValue.h"

#include <fmt/format.h>

#include "base/Numbers.h"
#include "server/store/StoreError.h"

namespace fm::server {

std::string SqlText(const SqlValue& v) {
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  if (const auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
  if (const auto* d = std::get_if<double>(&v)) return fmt::format("{}", *d);
  return {};
}

std::int64_t SqlInteger(const SqlValue& v) {
  if (const auto* i = std::get_if<std::int64_t>(&v)) return *i;
  if (const auto* d = std::get_if<double>(&v)) return static_cast<std::int64_t>(*d);
  if (const auto* s = std::get_if<std::string>(&v)) {
    if (const auto n = text::WholeNumber(*s)) return *n;
    throw StoreError::Internal(
        fmt::format("the database holds \"{}\" where a whole number belongs", *s));
  }
  return 0;
}

std::optional<std::string> SqlOptText(const SqlValue& v) {
  if (std::holds_alternative<std::monostate>(v)) return std::nullopt;
  return SqlText(v);
}

std::optional<std::int64_t> SqlOptInteger(const SqlValue& v) {
  if (std::holds_alternative<std::monostate>(v)) return std::nullopt;
  return SqlInteger(v);
}

}  // namespace fm::server

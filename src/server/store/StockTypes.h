#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Minimum stock and its alerts as the store keeps them (docs/stock.md).
namespace fm::server {

// The fewest unassigned forms of a type a station wants on its shelf. district empty: the
// troop's own stock.
struct StockMinimum {
  std::string troop;
  std::string district;
  std::string formType;
  std::int64_t minimum = 0;  // 0 when set: the station keeps no minimum of the type
  std::int64_t setById = 0;  // who set it, and when: kept by the store
  std::string setBy{};
  std::string setAt{};  // UTC
  friend bool operator==(const StockMinimum&, const StockMinimum&) = default;
};

// One crossing of a minimum: raised by the write that took the station's unassigned forms
// below it, cleared by the one that brought them back to it or above.
struct StockAlert {
  std::int64_t id = 0;
  std::string troop;
  std::string district;
  std::string formType;
  std::int64_t onHand = 0;  // the unassigned forms left when it was raised
  std::int64_t minimum = 0;
  std::string raisedAt;  // UTC
  std::string requestId;
  std::optional<std::string> clearedAt;
  std::optional<std::int64_t> clearedOnHand;
  friend bool operator==(const StockAlert&, const StockAlert&) = default;
};

}  // namespace fm::server

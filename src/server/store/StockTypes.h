#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

// The most weeks a stock report looks back over (two years): its reads of the uses and of
// the chain of custody grow with them.
inline constexpr int kMaxStockWeeks = 104;

// Which stations and form types a stock report reads, and the weeks it looks back over.
struct StockQuery {
  std::string troop;  // empty: every station
  std::string district;
  bool wholeTroop = false;  // the troop and every district of it; else the one station
  std::string formType;     // empty: every form type
  std::string firstDay;     // "YYYY-MM-DD" (local): the first day of the oldest week
  int weeks = 13;
};

// What a station holds of one form type, and what went out over each week of a StockQuery:
// the weeks run from query.firstDay, seven days each, oldest first.
struct StockHolding {
  std::string troop;
  std::string district;
  std::string formType;
  // The unused forms of its ranges in a status that keeps them in stock, on the shelf and
  // with its officers: the same "on hand" the alerts compare with the minimum.
  std::int64_t unassigned = 0;
  std::int64_t withOfficers = 0;
  std::int64_t minimum = 0;  // 0: none kept
  // Per week: the standing uses dated in it of numbers the station's ranges hold, and the
  // forms its shelf handed to officers (assigned from no officer to one) in it.
  std::vector<std::int64_t> used;
  std::vector<std::int64_t> handedOut;
  friend bool operator==(const StockHolding&, const StockHolding&) = default;
};

}  // namespace fm::server

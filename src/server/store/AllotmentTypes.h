#pragma once

#include <cstdint>
#include <string>

// The limits on what one officer may hold, as the store keeps them (docs/allotment.md).
namespace fm::server {

// The most forms of a type one officer of a Troop/District may hold unused.
struct AllotmentCap {
  std::string troop;
  std::string district;
  std::string formType;
  std::int64_t cap = 0;      // 0 when set: the station keeps no cap of the type
  std::int64_t setById = 0;  // who set it, and when: kept by the store
  std::string setBy{};
  std::string setAt{};  // UTC
  friend bool operator==(const AllotmentCap&, const AllotmentCap&) = default;
};

// A station's reissue rule: while it is on, no new forms of a type go to an officer of the
// station whose earlier ones of that type are not yet all used or returned.
struct ReissueRule {
  std::string troop;
  std::string district;
  bool on = false;
  std::int64_t setById = 0;
  std::string setBy{};
  std::string setAt{};  // UTC
  friend bool operator==(const ReissueRule&, const ReissueRule&) = default;
};

}  // namespace fm::server

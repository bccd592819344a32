#pragma once

#include <cstdlib>
#include <random>
#include <vector>

#include "server/StoreTypes.h"

// What the property tests that drive a store with random saves share.
namespace fm::server::testing {

// FM_PROPERTY_SEED when it is set (to replay the random choices of a failed run), a fresh
// random seed otherwise. Each test prints the seed it used.
inline unsigned PropertySeed() {
  const char* text = std::getenv("FM_PROPERTY_SEED");
  return text && *text ? static_cast<unsigned>(std::strtoul(text, nullptr, 10))
                       : std::random_device{}();
}

// An "UPD" that writes the stored range `s` back as it is, carrying the version it replaces.
inline RangeChange Rewrite(const StoredRange& s) {
  const FormRange& r = s.range;
  RangeChange c;
  c.action = RangeChange::Action::Update;
  c.formType = r.formType;
  c.from = r.from;
  c.to = r.to;
  c.troop = r.troop;
  c.district = r.district;
  c.registry = r.registry;
  c.status = r.status;
  c.quarter = r.quarter;
  c.year = r.year;
  c.comment = r.comment;
  c.rowVersion = s.version;
  return c;
}

// The rows the screen writes to give [a, b] of the stored range `s` the values of `entered`:
// the range's first piece as an "UPD", the piece above [a, b] and then [a, b] itself as
// "ADD"s; every piece but [a, b] keeps the range's values.
inline std::vector<RangeChange> ScreenSplit(const StoredRange& s, std::int64_t a, std::int64_t b,
                                            const RangeChange& entered) {
  const RangeChange kept = Rewrite(s);
  auto piece = [&](const RangeChange& values, RangeChange::Action action, std::int64_t from,
                   std::int64_t to) {
    RangeChange c = values;
    c.action = action;
    c.from = from;
    c.to = to;
    c.rowVersion = action == RangeChange::Action::Update ? kept.rowVersion : std::nullopt;
    return c;
  };
  const auto upd = RangeChange::Action::Update;
  const auto add = RangeChange::Action::Add;
  std::vector<RangeChange> rows;
  rows.push_back(a == kept.from ? piece(entered, upd, a, b) : piece(kept, upd, kept.from, a - 1));
  if (b < kept.to) rows.push_back(piece(kept, add, b + 1, kept.to));
  if (a != kept.from) rows.push_back(piece(entered, add, a, b));
  return rows;
}

}  // namespace fm::server::testing

#include "server/store/DemoInventory.h"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <map>

#include "server/store/ReferenceData.h"
#include "server/store/SeededRandom.h"
#include "server/store/Store.h"
#include "server/store/StoreError.h"
#include "server/store/TimeText.h"

namespace fm::server {

namespace {

using Random = SeededRandom;

struct Station {
  std::string troop;
  std::string district;
  std::vector<std::int64_t> officers;  // on duty today
};

std::vector<Station> Stations(const ReferenceData& reference, const std::string& today) {
  std::vector<Station> stations;
  std::map<std::pair<std::string, std::string>, std::size_t> index;
  for (const auto& d : reference.Districts()) {
    index[{d.troop, d.id}] = stations.size();
    stations.push_back({d.troop, d.id, {}});
  }
  for (const auto& o : reference.Officers()) {
    bool onDuty =
        (o.dutyStart.empty() || o.dutyStart <= today) && (o.dutyEnd.empty() || o.dutyEnd >= today);
    auto it = index.find({o.troop, o.district});
    if (onDuty && it != index.end()) stations[it->second].officers.push_back(o.registry);
  }
  if (stations.empty()) throw StoreError::Rejected("The reference data has no duty stations");
  return stations;
}

// Delisting reasons other than the ones the mix below names itself.
std::vector<std::string> OtherReasons(const ReferenceData& reference) {
  std::vector<std::string> codes;
  for (const auto& s : reference.Statuses()) {
    if (s.code != "A" && s.code != "V" && s.code != "R" && s.code != "U") codes.push_back(s.code);
  }
  return codes;
}

// Where a form type's demo numbers start: its lowest number, except that the ten-digit
// types start at a million as the agency's decal stock does.
std::int64_t FirstNumber(const FormTypeInfo& type) {
  return type.highest - type.lowest > 100'000'000 ? std::max<std::int64_t>(type.lowest, 1'000'000)
                                                  : type.lowest;
}

// Gives a range its holder, status and remaining count from one draw of the mix.
void Dress(FormRange& r, const Station& station, const ReferenceData& reference,
           const std::vector<std::string>& otherReasons, Random& random) {
  r.troop = station.troop;
  r.district = station.district;
  auto officer = [&]() -> std::int64_t {
    if (station.officers.empty()) return kNoOfficer;
    return station.officers[static_cast<std::size_t>(
        random.Below(static_cast<std::int64_t>(station.officers.size())))];
  };
  auto status = [&](const char* code) {
    return reference.HasStatus(code) ? std::string(code) : std::string(kActiveStatus);
  };
  const std::int64_t draw = random.Below(100);
  const std::int64_t size = r.Size();
  if (draw < 55) {  // assigned and in use
    r.registry = officer();
    r.status = std::string(kActiveStatus);
    r.remaining = r.registry == kNoOfficer ? size : size - random.Below(size + 1);
  } else if (draw < 75) {  // unassigned: new stock, or given back by an officer
    r.registry = kNoOfficer;
    r.status = draw < 68 ? std::string(kActiveStatus) : status("U");
    r.remaining = draw < 68 ? size : size - random.Below(size + 1);
  } else if (draw < 85) {  // voided where it was
    r.registry = draw < 80 ? officer() : kNoOfficer;
    r.status = status("V");
    r.remaining = size - random.Below(size + 1);
  } else if (draw < 93) {  // returned to supply
    r.registry = kNoOfficer;
    r.status = status("R");
    r.remaining = size;
  } else if (!otherReasons.empty()) {
    r.registry = officer();
    r.status = otherReasons[static_cast<std::size_t>(
        random.Below(static_cast<std::int64_t>(otherReasons.size())))];
    r.remaining = size - random.Below(size + 1);
  } else {
    r.registry = kNoOfficer;
    r.remaining = size;
  }
  if (r.formType == kQuarterlyFormType) {
    r.quarter = 1 + random.Below(4);
    r.year = 2019 + random.Below(7);
  }
}

}  // namespace

std::vector<FormRange> BuildDemoInventory(const ReferenceData& reference,
                                          const std::string& today) {
  constexpr int kRangesPerType = 300;
  const std::vector<Station> stations = Stations(reference, today);
  const std::vector<std::string> otherReasons = OtherReasons(reference);
  Random random(20240501);
  std::vector<FormRange> ranges;
  std::size_t typeIndex = 0;
  for (const auto& type : reference.FormTypes()) {
    const bool wide = type.highest - type.lowest > 100'000'000;
    const std::int64_t sizes[] = {wide ? 100 : 25, wide ? 250 : 50, wide ? 500 : 100};
    std::int64_t next = FirstNumber(type);
    for (int i = 0; i < kRangesPerType; ++i) {
      FormRange r;
      r.formType = type.code;
      r.from = next;
      r.to = std::min(type.highest, next + sizes[random.Below(3)] - 1);
      if (r.from > type.highest) break;
      const Station& station =
          stations[(static_cast<std::size_t>(i) * 7 + typeIndex * 3) % stations.size()];
      Dress(r, station, reference, otherReasons, random);
      if (i % 5 == 2) {
        r.comment = fmt::format("Received from central supply, shipment {}-{}", type.code, 100 + i);
      }
      ranges.push_back(r);
      next = r.to + 1;
      if (random.Below(8) == 0) next += r.Size() * (1 + random.Below(3));  // a gap
    }
    ++typeIndex;
  }
  return ranges;
}

std::vector<FormRange> BuildLargeInventory(const ReferenceData& reference, std::size_t count,
                                           std::uint64_t seed) {
  const auto& types = reference.FormTypes();
  if (types.empty()) throw StoreError::Rejected("The reference data has no form types");
  const std::vector<Station> stations =
      Stations(reference, LocalDate(std::chrono::system_clock::now()));
  const std::vector<std::string> otherReasons = OtherReasons(reference);
  Random random(seed);
  std::vector<FormRange> ranges;
  ranges.reserve(count);
  for (std::size_t t = 0; t < types.size(); ++t) {
    const FormTypeInfo& type = types[t];
    const std::size_t share = count / types.size() + (t < count % types.size() ? 1 : 0);
    if (share == 0) continue;
    // Every eighth range is followed by a gap of one range, so the share needs 9/8 of its
    // ranges' room.
    const std::int64_t room = type.highest - type.lowest + 1;
    const std::int64_t slots = static_cast<std::int64_t>(share + share / 8 + 1);
    const std::int64_t size = std::min<std::int64_t>(50, room / slots);
    if (size < 1) {
      throw StoreError::Rejected(fmt::format("Form type {} cannot hold {} ranges between {} and {}",
                                             type.code, share, type.lowest, type.highest));
    }
    std::int64_t next = type.lowest;
    for (std::size_t i = 0; i < share; ++i) {
      FormRange r;
      r.formType = type.code;
      r.from = next;
      r.to = next + size - 1;
      Dress(r,
            stations[static_cast<std::size_t>(
                random.Below(static_cast<std::int64_t>(stations.size())))],
            reference, otherReasons, random);
      ranges.push_back(std::move(r));
      next += size;
      if (i % 8 == 7) next += size;
    }
  }
  return ranges;
}

std::size_t LoadDemoInventory(Store& store) {
  auto ranges = BuildDemoInventory(store.Reference(), LocalDate(std::chrono::system_clock::now()));
  store.LoadInventory(
      ranges, SaveContext{"demo-inventory", "formsmaint-server", 0, "demo inventory"}, true);
  return ranges.size();
}

std::size_t LoadLargeInventory(Store& store, std::size_t count, std::uint64_t seed) {
  auto ranges = BuildLargeInventory(store.Reference(), count, seed);
  store.LoadInventory(
      ranges, SaveContext{"large-inventory", "formsmaint-server", 0, "generated inventory"}, false);
  return ranges.size();
}

}  // namespace fm::server

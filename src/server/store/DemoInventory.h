#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "server/store/StoreTypes.h"

namespace fm::server {

class ReferenceData;
class Store;

// The demo inventory: about 3,000 ranges over every form type, spread over every duty
// station of the reference data. Most ranges are assigned to an officer on duty at the
// range's station with part of their forms used; the rest are unassigned, voided ("V"),
// returned ("R") or delisted for another reason of the reference data. CVSA decals carry a
// quarter and a year. Deterministic: the same reference data and date give the same ranges.
// `today` ("YYYY-MM-DD") decides which officers are on duty.
std::vector<FormRange> BuildDemoInventory(const ReferenceData& reference, const std::string& today);

// `count` ranges for benchmarks, spread evenly over the form types (each type's share laid
// end to end from its lowest number, gaps between), stations, officers and statuses.
// Deterministic for a given seed. Throws StoreError::Rejected when a form type's bounds
// cannot hold its share.
std::vector<FormRange> BuildLargeInventory(const ReferenceData& reference, std::size_t count,
                                           std::uint64_t seed = 1);

// Builds and loads the demo inventory into an empty store, with a "LOAD" entry in the
// audit history for every range. Answers the number of ranges. Throws StoreError.
std::size_t LoadDemoInventory(Store& store);

// Builds and loads a large inventory into an empty store (no audit entries: a benchmark
// inventory has no history to keep). Answers the number of ranges. Throws StoreError.
std::size_t LoadLargeInventory(Store& store, std::size_t count, std::uint64_t seed = 1);

}  // namespace fm::server

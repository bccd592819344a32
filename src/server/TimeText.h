#pragma once

#include <chrono>
#include <string>

namespace fm::server {

// UTC time as ISO 8601 with milliseconds: "2024-05-01T08:30:00.123Z". Audit stamps use it;
// they sort correctly as text.
std::string UtcTimestamp(std::chrono::system_clock::time_point time);

// The local calendar date as "YYYY-MM-DD", the form of the officer table's duty dates.
std::string LocalDate(std::chrono::system_clock::time_point time);

}  // namespace fm::server

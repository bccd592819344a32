#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace fm::server {

// UTC time as ISO 8601 with milliseconds: "2024-05-01T08:30:00.123Z". Audit stamps use it;
// they sort correctly as text.
std::string UtcTimestamp(std::chrono::system_clock::time_point time);

// The time of a UTC stamp of the form UtcTimestamp writes (the milliseconds may be left
// out); nullopt for any other text.
std::optional<std::chrono::system_clock::time_point> ParseUtcTimestamp(std::string_view text);

// Local time as the clerk's own comment stamps show it: "05/01/2024 08:30:00 AM".
std::string ClerkTime(std::chrono::system_clock::time_point time);

// The local calendar date as "YYYY-MM-DD", the form of the officer table's duty dates.
std::string LocalDate(std::chrono::system_clock::time_point time);

// The calendar date of "YYYY-MM-DD" (a real date); nullopt for any other text.
std::optional<std::chrono::year_month_day> ParseIsoDate(std::string_view text);
std::string IsoDate(std::chrono::year_month_day date);

// The UTC stamp (as UtcTimestamp writes it) of the local midnight at which `date` begins:
// the instant a report's day starts in the server's own time zone.
std::string LocalMidnightUtc(std::chrono::year_month_day date);

}  // namespace fm::server

#include "server/store/TimeText.h"

#include <fmt/format.h>

#include <ctime>

namespace fm::server {

std::string UtcTimestamp(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  auto seconds = time_point_cast<std::chrono::seconds>(time);
  if (seconds > time) seconds -= std::chrono::seconds(1);  // before 1970, round down
  auto millis = duration_cast<milliseconds>(time - seconds).count();
  std::time_t t = system_clock::to_time_t(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:03}Z", tm.tm_year + 1900, tm.tm_mon + 1,
                     tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, millis);
}

std::optional<std::chrono::system_clock::time_point> ParseUtcTimestamp(std::string_view text) {
  // YYYY-MM-DDTHH:MM:SS[.mmm]Z
  auto digits = [&](std::size_t at, std::size_t count) -> std::optional<int> {
    if (at + count > text.size()) return std::nullopt;
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
      if (text[i] < '0' || text[i] > '9') return std::nullopt;
      value = value * 10 + (text[i] - '0');
    }
    return value;
  };
  auto year = digits(0, 4);
  auto month = digits(5, 2);
  auto day = digits(8, 2);
  auto hour = digits(11, 2);
  auto minute = digits(14, 2);
  auto second = digits(17, 2);
  if (!year || !month || !day || !hour || !minute || !second || text.size() < 20 ||
      text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':') {
    return std::nullopt;
  }
  int millis = 0;
  std::size_t at = 19;
  if (text[at] == '.') {
    auto fraction = digits(20, 3);
    if (!fraction) return std::nullopt;
    millis = *fraction;
    at = 23;
  }
  if (at + 1 != text.size() || text[at] != 'Z') return std::nullopt;
  using namespace std::chrono;
  const year_month_day date{std::chrono::year{*year},
                            std::chrono::month{static_cast<unsigned>(*month)},
                            std::chrono::day{static_cast<unsigned>(*day)}};
  if (!date.ok() || *hour > 23 || *minute > 59 || *second > 60) return std::nullopt;
  return sys_days{date} + hours{*hour} + minutes{*minute} + seconds{*second} + milliseconds{millis};
}

std::string ClerkTime(std::chrono::system_clock::time_point time) {
  std::time_t t = std::chrono::system_clock::to_time_t(time);
  std::tm tm{};
  localtime_r(&t, &tm);
  const int hour12 = tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12;
  return fmt::format("{:02}/{:02}/{:04} {:02}:{:02}:{:02} {}", tm.tm_mon + 1, tm.tm_mday,
                     tm.tm_year + 1900, hour12, tm.tm_min, tm.tm_sec,
                     tm.tm_hour < 12 ? "AM" : "PM");
}

std::string LocalDate(std::chrono::system_clock::time_point time) {
  std::time_t t = std::chrono::system_clock::to_time_t(time);
  std::tm tm{};
  localtime_r(&t, &tm);
  return fmt::format("{:04}-{:02}-{:02}", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

std::optional<std::chrono::year_month_day> ParseIsoDate(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  int parts[3] = {0, 0, 0};
  const std::size_t starts[3] = {0, 5, 8};
  const std::size_t lengths[3] = {4, 2, 2};
  for (int p = 0; p < 3; ++p) {
    for (std::size_t i = starts[p]; i < starts[p] + lengths[p]; ++i) {
      if (text[i] < '0' || text[i] > '9') return std::nullopt;
      parts[p] = parts[p] * 10 + (text[i] - '0');
    }
  }
  const std::chrono::year_month_day date{std::chrono::year{parts[0]},
                                         std::chrono::month{static_cast<unsigned>(parts[1])},
                                         std::chrono::day{static_cast<unsigned>(parts[2])}};
  if (!date.ok()) return std::nullopt;
  return date;
}

std::string IsoDate(std::chrono::year_month_day date) {
  return fmt::format("{:04}-{:02}-{:02}", static_cast<int>(date.year()),
                     static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
}

std::string LocalMidnightUtc(std::chrono::year_month_day date) {
  std::tm tm{};
  tm.tm_year = static_cast<int>(date.year()) - 1900;
  tm.tm_mon = static_cast<int>(static_cast<unsigned>(date.month())) - 1;
  tm.tm_mday = static_cast<int>(static_cast<unsigned>(date.day()));
  tm.tm_isdst = -1;  // the zone's rules decide, as they do for the clerk's clock
  const std::time_t t = std::mktime(&tm);
  return UtcTimestamp(std::chrono::system_clock::from_time_t(t));
}

}  // namespace fm::server

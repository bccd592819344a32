#include "server/TimeText.h"

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

std::string LocalDate(std::chrono::system_clock::time_point time) {
  std::time_t t = std::chrono::system_clock::to_time_t(time);
  std::tm tm{};
  localtime_r(&t, &tm);
  return fmt::format("{:04}-{:02}-{:02}", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

}  // namespace fm::server

#include <gtest/gtest.h>

#include <chrono>

#include "server/store/TimeText.h"

namespace fm::server {
namespace {

TEST(ParseUtcTimestamp, ReadsWhatUtcTimestampWritesAndNothingElse) {
  const auto now =
      std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now());
  EXPECT_EQ(ParseUtcTimestamp(UtcTimestamp(now)), now);
  for (const char* bad :
       {"", "2024-05-01", "2024-05-01T08:30:00", "2024-13-01T08:30:00Z", "2024-05-01T08:30:00.12Z",
        "2024-05-01T08:30:00Zx", "2024/05/01T08:30:00Z"}) {
    EXPECT_FALSE(ParseUtcTimestamp(bad).has_value()) << bad;
  }
}

}  // namespace
}  // namespace fm::server

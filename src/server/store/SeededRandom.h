#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace fm::server {

// splitmix64: tiny, fast and the same on every platform, so a seed always builds the same
// inventory and the same history (std:: distributions are not portable across library
// versions).
class SeededRandom {
 public:
  explicit SeededRandom(std::uint64_t seed) : mState(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (mState += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  // 0 .. n-1
  std::int64_t Below(std::int64_t n) {
    return n <= 0 ? 0 : static_cast<std::int64_t>(Next() % static_cast<std::uint64_t>(n));
  }
  std::size_t Index(std::size_t n) {
    return static_cast<std::size_t>(Below(static_cast<std::int64_t>(n)));
  }
  bool Chance(int percent) { return Below(100) < percent; }
  // `mean` as a whole count: its fraction decides between the two counts around it, so a
  // small inventory still sees the rare operations now and then.
  std::size_t Around(double mean) {
    const double whole = std::floor(mean);
    const bool up = static_cast<double>(Below(1'000'000)) < (mean - whole) * 1'000'000;
    return static_cast<std::size_t>(whole) + (up ? 1 : 0);
  }

 private:
  std::uint64_t mState;
};

}  // namespace fm::server

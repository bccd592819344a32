// The result of a count as a property of random books, counts and reasons (printed seed;
// FM_COUNT_SEED repeats one): found and missing partition the book, found and unexpected the
// counted numbers, and each unexpected number carries the reason covering it.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <random>
#include <set>

#include "server/store/CountComparison.h"

namespace fm::server {
namespace {

using Numbers = std::map<std::int64_t, std::string>;  // number -> what the piece said of it

template <typename Span, typename Tell>
Numbers Spread(const std::vector<Span>& spans, Tell&& tell) {
  Numbers out;
  for (const Span& s : spans) {
    EXPECT_LE(s.from, s.to);
    for (std::int64_t n = s.from; n <= s.to; ++n) {
      EXPECT_TRUE(out.emplace(n, tell(s)).second) << "number " << n << " twice";
    }
  }
  return out;
}

// Sorted spans that do not overlap, over 0..kTop, each `make` filled.
template <typename Span, typename Make>
std::vector<Span> RandomSpans(std::mt19937_64& random, int most, Make&& make) {
  constexpr std::int64_t kTop = 300;
  std::vector<Span> out;
  std::int64_t at = std::uniform_int_distribution<std::int64_t>(0, 20)(random);
  const int n = std::uniform_int_distribution<int>(0, most)(random);
  for (int i = 0; i < n && at <= kTop; ++i) {
    const std::int64_t to =
        std::min(kTop, at + std::uniform_int_distribution<std::int64_t>(0, 25)(random));
    Span s = make();
    s.formType = "C";
    s.from = at;
    s.to = to;
    out.push_back(s);
    // A gap of 0 makes adjacent pieces, which the result must keep apart when they differ.
    at = to + 1 + std::uniform_int_distribution<std::int64_t>(0, 15)(random);
  }
  return out;
}

TEST(CountComparison, FoundAndMissingPartitionTheBookAndEveryCountedNumberIsToldOnce) {
  const char* fixed = std::getenv("FM_COUNT_SEED");
  const std::uint64_t seed = fixed ? std::strtoull(fixed, nullptr, 10) : std::random_device{}();
  std::printf("CountComparison seed: %llu (FM_COUNT_SEED)\n",
              static_cast<unsigned long long>(seed));
  std::mt19937_64 random(seed);
  for (int round = 0; round < 400; ++round) {
    SCOPED_TRACE(fmt::format("seed {} round {}", seed, round));
    const auto book = RandomSpans<BookSpan>(random, 12, [&] {
      BookSpan b;
      b.registry = std::uniform_int_distribution<int>(0, 2)(random);
      b.status = "A";
      return b;
    });
    // Counted spans drawn overlapping each other, as entries typed twice are.
    std::vector<CountSpan> drawn = RandomSpans<CountSpan>(random, 10, [] { return CountSpan{}; });
    for (const CountSpan& s : RandomSpans<CountSpan>(random, 6, [] { return CountSpan{}; })) {
      drawn.push_back(s);
    }
    const std::vector<CountSpan> counted = MergeSpans(drawn);
    const auto reasons = RandomSpans<UnexpectedSpan>(random, 8, [&] {
      UnexpectedSpan u;
      u.reason = static_cast<UnexpectedReason>(std::uniform_int_distribution<int>(0, 4)(random));
      u.detail = "d";
      return u;
    });

    const CountResult result = CompareCount(book, counted, reasons);

    const auto holder = [](const BookSpan& b) { return fmt::format("{}", b.registry); };
    const Numbers inBook = Spread(book, holder);
    const Numbers found = Spread(result.found, holder);
    const Numbers missing = Spread(result.missing, holder);
    std::set<std::int64_t> isCounted;
    for (const CountSpan& s : drawn) {
      for (std::int64_t n = s.from; n <= s.to; ++n) isCounted.insert(n);
    }
    Numbers partition = found;
    for (const auto& [n, who] : missing) {
      ASSERT_TRUE(partition.emplace(n, who).second) << n << " found and missing";
      EXPECT_FALSE(isCounted.count(n)) << n << " counted but missing";
    }
    EXPECT_EQ(partition, inBook) << "found + missing is not the book, holders kept";
    const Numbers expectedReason = Spread(reasons, [](const UnexpectedSpan& u) {
      return std::string(UnexpectedReasonKey(u.reason));
    });
    const Numbers unexpected = Spread(result.unexpected, [](const UnexpectedSpan& u) {
      return std::string(UnexpectedReasonKey(u.reason));
    });
    for (std::int64_t n : isCounted) {
      const bool wasFound = found.count(n) > 0;
      ASSERT_NE(wasFound, unexpected.count(n) > 0) << n << " found and unexpected, or neither";
      if (wasFound) continue;
      const auto why = expectedReason.find(n);
      EXPECT_EQ(unexpected.at(n), why == expectedReason.end() ? "never_received" : why->second)
          << n;
    }
    EXPECT_EQ(found.size() + unexpected.size(), isCounted.size());
  }
}

}  // namespace
}  // namespace fm::server

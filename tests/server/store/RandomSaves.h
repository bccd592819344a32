#pragma once

#include <fmt/format.h>

#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "server/store/CustodyLedger.h"
#include "server/store/ReferenceData.h"
#include "server/store/StoreTypes.h"

// What the property tests that drive a store with random saves share.
namespace fm::server::testing {

// FM_PROPERTY_SEED when it is set (to replay the random choices of a failed run), a fresh
// random seed otherwise. Each test prints the seed it used.
inline unsigned PropertySeed() {
  const char* text = std::getenv("FM_PROPERTY_SEED");
  return text && *text ? static_cast<unsigned>(std::strtoul(text, nullptr, 10))
                       : std::random_device{}();
}

// How long a property test that saves from several threads runs per backend:
// FM_PROPERTY_SECONDS, 10 by default. It only ends the loops; nothing is judged by time.
inline double PropertySeconds() {
  const char* text = std::getenv("FM_PROPERTY_SECONDS");
  return text && *text ? std::strtod(text, nullptr) : 10.0;
}

// The random choices of a property test, all from one generator seeded with the seed it
// prints.
class RandomChoices {
 public:
  void Seed(unsigned seed) { mRandom.seed(seed); }
  std::int64_t Pick(std::int64_t low, std::int64_t high) {
    return std::uniform_int_distribution<std::int64_t>(low, high)(mRandom);
  }
  template <typename T, std::size_t N>
  const T& Any(const T (&items)[N]) {
    return items[static_cast<std::size_t>(Pick(0, N - 1))];
  }
  std::int64_t AnyOfficer(const ReferenceData& reference) {
    const auto& officers = reference.Officers();
    return officers[static_cast<std::size_t>(Pick(0, std::ssize(officers) - 1))].registry;
  }

 private:
  std::mt19937_64 mRandom;
};

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

// One save to try: its rows, whether it must be refused, and the receipts it would add.
struct Attempt {
  std::string kind;
  std::vector<RangeChange> rows;
  bool mustBeRefused = false;
  std::vector<NumberSpan> receipts;
};

// Random saves on the ranges of one form type, as a clerk's screen would send them, and some
// that no screen sends (a property test must see those refused).
class SaveMaker {
 public:
  // `fresh` answers the first of `size` numbers no range ever held.
  SaveMaker(std::string formType, unsigned seed, std::function<std::int64_t(std::int64_t)> fresh)
      : mType(std::move(formType)), mRandom(seed), mFresh(std::move(fresh)) {}

  std::int64_t Pick(std::int64_t low, std::int64_t high) {
    return std::uniform_int_distribution<std::int64_t>(low, high)(mRandom);
  }
  bool Chance(int percent) { return Pick(1, 100) <= percent; }

  RangeChange Row(RangeChange::Action action, std::int64_t from, std::int64_t to) {
    static const std::pair<const char*, const char*> kStations[] = {
        {"A", "1"}, {"B", "2"}, {"D", ""}};
    static const char* const kStatuses[] = {"A", "A", "V", "U"};
    static const std::int64_t kRegistries[] = {0, 1002, 1003, 1004};
    RangeChange c;
    c.action = action;
    c.formType = mType;
    c.from = from;
    c.to = to;
    const auto& station = kStations[Pick(0, 2)];
    c.troop = station.first;
    c.district = station.second;
    c.registry = kRegistries[Pick(0, 3)];
    c.status = kStatuses[Pick(0, 3)];
    if (Chance(30)) c.comment = fmt::format("note {}", Pick(1, 999));
    if (mType == kQuarterlyFormType) {
      c.quarter = 2;
      c.year = 2024;
    }
    return c;
  }

  NumberSpan FreshSpan() {
    const std::int64_t size = Pick(1, 60);
    const std::int64_t first = mFresh(size);
    return {first, first + size - 1};
  }

  // A save against `seen`, the ranges of the type as the thread last read them.
  Attempt Make(const std::vector<StoredRange>& seen) {
    Attempt a;
    if (seen.empty() || Chance(12)) {
      const NumberSpan span = FreshSpan();
      a.kind = "receipt";
      a.rows.push_back(Row(RangeChange::Action::Add, span.first, span.last));
      a.receipts.push_back(span);
      if (Chance(30)) {  // a second receipt in the same save
        const NumberSpan more = FreshSpan();
        a.rows.push_back(Row(RangeChange::Action::Add, more.first, more.last));
        a.receipts.push_back(more);
      }
      return a;
    }
    const StoredRange& pick =
        seen[static_cast<std::size_t>(Pick(0, static_cast<std::int64_t>(seen.size()) - 1))];
    const FormRange& r = pick.range;
    auto upd = [&](std::int64_t from, std::int64_t to) {
      RangeChange c = Row(RangeChange::Action::Update, from, to);
      c.rowVersion = pick.version;
      return c;
    };
    auto split = [&](std::int64_t ef, std::int64_t et) {
      return ScreenSplit(pick, ef, et, Row(RangeChange::Action::Add, ef, et));
    };
    const std::int64_t ef = Pick(r.from, r.to);
    const std::int64_t et = Pick(ef, r.to);
    switch (Pick(0, 10)) {
      case 0:
      case 1:
        a.kind = "split";
        a.rows = split(ef, et);
        break;
      case 2:
        a.kind = "assign, void or move of the whole range";
        a.rows = {upd(r.from, r.to)};
        if (Chance(50)) {  // a move sends no status or officer: they stay
          a.rows[0].status.reset();
          a.rows[0].registry.reset();
        }
        break;
      case 3:
        a.kind = "split with a receipt";
        a.rows = split(ef, et);
        a.receipts.push_back(FreshSpan());
        a.rows.push_back(Row(RangeChange::Action::Add, a.receipts[0].first, a.receipts[0].last));
        break;
      case 4:
        a.mustBeRefused = r.to > r.from;
        a.kind = "shrinking UPD";
        a.rows = {upd(r.from, Pick(r.from, r.to - (r.to > r.from ? 1 : 0)))};
        break;
      case 5: {
        a.kind = "split with a dropped piece";
        a.rows = split(ef, et);
        a.mustBeRefused = a.rows.size() > 1;
        if (a.rows.size() > 1)
          a.rows.erase(a.rows.begin() + Pick(1, static_cast<std::int64_t>(a.rows.size()) - 1));
        break;
      }
      case 6:
        a.kind = "ADD overlapping a stored range";
        a.mustBeRefused = true;
        a.rows = {Row(RangeChange::Action::Add, Pick(r.from - 5, r.to), r.to + Pick(0, 5))};
        a.rows[0].from = std::max<std::int64_t>(a.rows[0].from, 1);
        break;
      case 7:
        a.kind = "stale version";
        a.mustBeRefused = true;
        a.rows = split(ef, et);
        a.rows[0].rowVersion = pick.version - 1;
        break;
      case 8:
        a.kind = "missing version";
        a.mustBeRefused = true;
        a.rows = split(ef, et);
        a.rows[0].rowVersion.reset();
        break;
      case 9: {
        a.kind = "UPD reaching new numbers";
        a.mustBeRefused = true;
        a.rows = {upd(r.from, r.to + Pick(1, 5))};
        break;
      }
      default:
        a.kind = "ADD mixing a piece and new numbers";
        a.mustBeRefused = true;
        // A one-number range has no piece to give: its UPD reaches out instead.
        a.rows = {upd(r.from, r.from)};
        if (r.to > r.from) {
          a.rows.push_back(Row(RangeChange::Action::Add, r.from + 1, r.to + Pick(1, 5)));
        } else {
          a.rows[0].to = r.to + 1;
        }
        break;
    }
    return a;
  }

 private:
  std::string mType;
  std::mt19937_64 mRandom;
  std::function<std::int64_t(std::int64_t)> mFresh;
};

}  // namespace fm::server::testing

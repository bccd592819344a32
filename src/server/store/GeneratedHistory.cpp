#include "server/store/GeneratedHistory.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "server/store/ReferenceData.h"
#include "server/store/SeededRandom.h"
#include "server/store/StoreError.h"
#include "server/store/TimeText.h"
#include "server/store/UseTypes.h"

namespace fm::server {

namespace {

using Clock = std::chrono::system_clock;

using Random = SeededRandom;

// The share of the final range count each kind of work accounts for, over the whole history.
// The load and the receipts bring 75 of each 100 ranges, the splits of half the assignments
// the other 25; the rest only change ranges.
constexpr double kLoadedShare = 0.40;
constexpr double kReceivedShare = 0.35;
constexpr double kAssignedShare = 0.50;
constexpr double kVoidedShare = 0.04;
constexpr double kDelistedShare = 0.02;
constexpr double kMovedShare = 0.03;
constexpr double kReturnedShare = 0.04;
constexpr double kWithdrawnShare = 0.01;
// Numbers used (written on citations, spoiled, lost) per final range.
constexpr double kUsesPerRange = 2.0;
// The most numbers a block of a shipment holds; smaller where a type's bounds are tight.
constexpr std::int64_t kBlockNumbers = 100;
// Tries to find a range an operation applies to before it is given up for the month.
constexpr int kPickTries = 20;

struct GeneratedStation {
  std::string troop;
  std::string district;
  std::vector<const Officer*> officers;
};

// A range as the generator knows the store holds it: enough to write its next change (the
// version a save must name) and its next uses (the lowest numbers not used yet).
struct Held {
  std::size_t type = 0;
  std::int64_t from = 0;
  std::int64_t to = 0;
  std::size_t station = 0;
  std::int64_t registry = kNoOfficer;
  std::string status = kActiveStatus;
  std::optional<std::int64_t> quarter;
  std::optional<std::int64_t> year;
  std::int64_t version = 1;
  std::int64_t used = 0;        // numbers from..from+used-1 have a use
  std::string inHandSince;      // the day the save giving it to its officer was applied
  std::uint64_t writtenBy = 0;  // the last save that wrote it: a save replaces a range once

  std::int64_t Size() const { return to - from + 1; }
  bool InStock() const { return registry == kNoOfficer && status == kActiveStatus; }
  bool InHand() const { return registry != kNoOfficer && status == kActiveStatus; }
};

class Generator {
 public:
  Generator(Store& store, std::shared_ptr<std::string> clock, const HistoryOptions& options,
            Clock::time_point start, Clock::time_point end)
      : mStore(store),
        mReference(store.Reference()),
        mClock(std::move(clock)),
        mOptions(options),
        mRandom(options.seed),
        mStart(start),
        mEnd(end) {
    for (const auto& d : mReference.Districts()) mStations.push_back({d.troop, d.id, {}});
    if (mStations.empty()) throw StoreError::Rejected("The reference data has no duty stations");
    for (const auto& o : mReference.Officers()) {
      for (auto& s : mStations) {
        if (s.troop == o.troop && s.district == o.district) s.officers.push_back(&o);
      }
    }
    for (const auto& s : mReference.Statuses()) {
      if (s.code != kActiveStatus && s.code != "V" && s.code != "U") mDelistings.push_back(s.code);
    }
    LayOutNumbers();
  }

  GeneratedHistory Run() {
    const std::size_t steps = static_cast<std::size_t>(mOptions.years) * 12;
    const double n = static_cast<double>(mOptions.ranges);
    const auto step = (mEnd - mStart) / static_cast<long>(steps + 1);
    At(mStart);
    Load(mRandom.Around(n * kLoadedShare));
    for (std::size_t m = 0; m < steps; ++m) {
      const double perStep = n / static_cast<double>(steps);
      const std::size_t received = mRandom.Around(perStep * kReceivedShare);
      const std::size_t assigned = mRandom.Around(perStep * kAssignedShare);
      const std::size_t voided = mRandom.Around(perStep * kVoidedShare);
      const std::size_t delisted = mRandom.Around(perStep * kDelistedShare);
      const std::size_t moved = mRandom.Around(perStep * kMovedShare);
      const std::size_t returned = mRandom.Around(perStep * kReturnedShare);
      const std::size_t withdrawn = mRandom.Around(perStep * kWithdrawnShare);
      const std::size_t used = mRandom.Around(perStep * kUsesPerRange);
      const bool countYear = m % 12 == 11;
      // The month's calls are spread evenly over it, in the order a month's work takes.
      const std::size_t calls = Saves(received) + Saves(assigned * 2) + Saves(voided) +
                                Saves(delisted) + Saves(moved) + Saves(returned) + withdrawn + 1 +
                                (countYear ? 3 * mOptions.countsPerYear : 0);
      mMonthStart = mStart + step * static_cast<long>(m + 1);
      mTick = step / static_cast<long>(calls + 1);
      mCall = 0;
      At(mMonthStart);
      Receive(received);
      Assign(assigned);
      Use(used);
      Change(voided, &Generator::Void);
      Change(delisted, &Generator::Delist);
      Change(moved, &Generator::Move);
      Change(returned, &Generator::GiveBack);
      for (std::size_t i = 0; i < withdrawn; ++i) Withdraw();
      if (countYear) CountStations();
    }
    mOutcome.ranges = mStore.RangeCount();
    return mOutcome;
  }

 private:
  std::size_t Saves(std::size_t rows) const {
    return (rows + mOptions.rowsPerSave - 1) / mOptions.rowsPerSave;
  }

  void At(Clock::time_point t) {
    *mClock = UtcTimestamp(t);
    mToday = LocalDate(t);
  }
  // The next call of the month.
  void NextCall() { At(mMonthStart + mTick * static_cast<long>(++mCall)); }

  SaveContext Context(const char* what) {
    SaveContext c;
    c.requestId = fmt::format("gen-{}-{}-{}", mOptions.seed, what, ++mRequests);
    c.requester = "formsmaint-server --generate";
    c.userId = 1;
    c.userName = "Generated clerk";
    return c;
  }

  // --- Numbers ---------------------------------------------------------------------------

  // Each form type's share of the blocks, laid end to end from its lowest number in the
  // order they arrive (the load first), with a gap after about one block in eight: the
  // numbers of a receipt were never held before.
  void LayOutNumbers() {
    const auto& types = mReference.FormTypes();
    if (types.empty()) throw StoreError::Rejected("The reference data has no form types");
    const double blocks = static_cast<double>(mOptions.ranges) * (kLoadedShare + kReceivedShare);
    const auto share = static_cast<std::int64_t>(blocks / static_cast<double>(types.size())) + 1;
    for (const auto& type : types) {
      const std::int64_t room = type.highest - type.lowest + 1;
      // Room for the share, its gaps and the receipts a busy year brings beyond it.
      const std::int64_t size = std::min(kBlockNumbers, room / (share + share / 4 + 8));
      if (size < 1) {
        throw StoreError::Rejected(
            fmt::format("Form type {} cannot hold {} ranges between {} and {}", type.code, share,
                        type.lowest, type.highest));
      }
      mBlockSize.push_back(size);
      mNext.push_back(type.lowest);
    }
  }

  // The next block of the type, or none when its bounds are spent.
  std::optional<std::pair<std::int64_t, std::int64_t>> NextBlock(std::size_t type) {
    const std::int64_t size = mBlockSize[type];
    const std::int64_t from = mNext[type];
    if (from + size - 1 > mReference.FormTypes()[type].highest) return std::nullopt;
    mNext[type] = from + size + (mRandom.Below(8) == 0 ? size : 0);
    return std::pair{from, from + size - 1};
  }

  // --- Holders ---------------------------------------------------------------------------

  static bool OnDuty(const Officer& o, const std::string& day) {
    return (o.dutyStart.empty() || o.dutyStart <= day) && (o.dutyEnd.empty() || o.dutyEnd >= day);
  }

  // An officer of the station on duty today; the reference data keeps only the duty
  // assignments of recent years, so in the early years any officer of the station stands in.
  std::int64_t OfficerOf(std::size_t station) {
    const auto& officers = mStations[station].officers;
    if (officers.empty()) return kNoOfficer;
    std::vector<const Officer*> onDuty;
    for (const Officer* o : officers) {
      if (OnDuty(*o, mToday)) onDuty.push_back(o);
    }
    const auto& from = onDuty.empty() ? officers : onDuty;
    return from[mRandom.Index(from.size())]->registry;
  }

  void Quarterly(Held& h) {
    if (mReference.FormTypes()[h.type].code != kQuarterlyFormType) return;
    const auto day = ParseIsoDate(mToday);
    h.quarter = (static_cast<unsigned>(day->month()) - 1) / 3 + 1;
    h.year = static_cast<int>(day->year());
  }

  FormRange Range(const Held& h) const {
    FormRange r;
    r.formType = mReference.FormTypes()[h.type].code;
    r.from = h.from;
    r.to = h.to;
    r.troop = mStations[h.station].troop;
    r.district = mStations[h.station].district;
    r.registry = h.registry;
    r.status = h.status;
    r.remaining = h.Size();
    r.quarter = h.quarter;
    r.year = h.year;
    return r;
  }

  RangeChange Row(RangeChange::Action action, const Held& h) const {
    const FormRange r = Range(h);
    RangeChange c;
    c.action = action;
    c.formType = r.formType;
    c.from = r.from;
    c.to = r.to;
    c.troop = r.troop;
    c.district = r.district;
    c.registry = r.registry;
    c.status = r.status;
    if (action == RangeChange::Action::Add) {
      c.quarter = r.quarter;
      c.year = r.year;
    }
    return c;
  }

  // A held range the predicate accepts that the save being built has not written yet.
  template <typename Accept>
  std::optional<std::size_t> Pick(Accept accept) {
    if (mHeld.empty()) return std::nullopt;
    for (int i = 0; i < kPickTries; ++i) {
      const std::size_t k = mRandom.Index(mHeld.size());
      if (mHeld[k].writtenBy != mSave && accept(mHeld[k])) return k;
    }
    return std::nullopt;
  }

  // --- Writes ----------------------------------------------------------------------------

  void Load(std::size_t count) {
    std::vector<FormRange> ranges;
    for (std::size_t i = 0; i < count; ++i) {
      Held h;
      h.type = i % mBlockSize.size();
      auto block = NextBlock(h.type);
      if (!block) continue;
      std::tie(h.from, h.to) = *block;
      h.station = mRandom.Index(mStations.size());
      if (mRandom.Chance(30)) {
        h.registry = OfficerOf(h.station);
        h.inHandSince = mToday;
      }
      Quarterly(h);
      ranges.push_back(Range(h));
      mHeld.push_back(std::move(h));
    }
    SaveContext c = Context("load");
    c.requester = "formsmaint-server --generate (initial inventory)";
    mStore.LoadInventory(ranges, c, true);
    mOutcome.loaded = ranges.size();
  }

  // Starts a save; Flush sends it when it is full or the work is done.
  void Begin() { ++mSave; }
  void Flush(std::vector<RangeChange>& rows, const char* what, bool force) {
    if (rows.empty() || (!force && rows.size() < mOptions.rowsPerSave)) return;
    NextCall();
    mStore.ApplyChanges(Context(what), rows);
    for (std::size_t k : mHandedOut) mHeld[k].inHandSince = mToday;
    mHandedOut.clear();
    ++mOutcome.saves;
    mOutcome.rows += rows.size();
    rows.clear();
    Begin();
  }

  // Shipments of one to ten consecutive blocks of a type arrive at a station's shelf.
  void Receive(std::size_t count) {
    std::vector<RangeChange> rows;
    Begin();
    while (count > 0) {
      const std::size_t type = mRandom.Index(mBlockSize.size());
      const std::size_t station = mRandom.Index(mStations.size());
      const std::size_t blocks = std::min<std::size_t>(count, 1 + mRandom.Index(10));
      count -= blocks;
      for (std::size_t b = 0; b < blocks; ++b) {
        auto block = NextBlock(type);
        if (!block) break;
        Held h;
        h.type = type;
        std::tie(h.from, h.to) = *block;
        h.station = station;
        h.writtenBy = mSave;
        Quarterly(h);
        rows.push_back(Row(RangeChange::Action::Add, h));
        mHeld.push_back(std::move(h));
        ++mOutcome.receipts;
        Flush(rows, "receive", false);
      }
    }
    Flush(rows, "receive", true);
  }

  // A clerk hands stock to an officer of its station: the whole range, or (half the time) its
  // lower part, the rest staying on the shelf as a piece of the split.
  void Assign(std::size_t count) {
    std::vector<RangeChange> rows;
    Begin();
    for (std::size_t i = 0; i < count; ++i) {
      auto k = Pick(
          [&](const Held& h) { return h.InStock() && !mStations[h.station].officers.empty(); });
      if (!k) continue;
      Held& h = mHeld[*k];
      h.registry = OfficerOf(h.station);
      mHandedOut.push_back(*k);
      ++h.version;
      h.writtenBy = mSave;
      std::optional<Held> piece;
      if (h.Size() >= 2 && mRandom.Chance(50)) {
        piece = h;
        const std::int64_t lower = 1 + mRandom.Below(h.Size() - 1);
        piece->from = h.from + lower;
        piece->registry = kNoOfficer;
        piece->version = 1;
        piece->used = std::max<std::int64_t>(0, h.used - lower);
        h.to = h.from + lower - 1;
        h.used = std::min(h.used, lower);
      }
      RangeChange row = Row(RangeChange::Action::Update, h);
      row.rowVersion = h.version - 1;
      rows.push_back(std::move(row));
      ++mOutcome.assignments;
      if (piece) {
        rows.push_back(Row(RangeChange::Action::Add, *piece));
        mHeld.push_back(std::move(*piece));
        ++mOutcome.splits;
      }
      Flush(rows, "assign", false);
    }
    Flush(rows, "assign", true);
  }

  // One kind of change of a whole range: answers whether it applies to `h`, and makes it.
  using Changer = bool (Generator::*)(Held& h, bool apply);

  void Change(std::size_t count, Changer change) {
    std::vector<RangeChange> rows;
    Begin();
    for (std::size_t i = 0; i < count; ++i) {
      auto k = Pick([&](Held& h) { return (this->*change)(h, false); });
      if (!k) continue;
      Held& h = mHeld[*k];
      (this->*change)(h, true);
      ++h.version;
      h.writtenBy = mSave;
      RangeChange row = Row(RangeChange::Action::Update, h);
      row.rowVersion = h.version - 1;
      rows.push_back(std::move(row));
      Flush(rows, "change", false);
    }
    Flush(rows, "change", true);
  }

  bool Void(Held& h, bool apply) {
    if (h.status != kActiveStatus || !mReference.HasStatus("V")) return false;
    if (apply) {
      h.status = "V";
      ++mOutcome.voids;
    }
    return true;
  }
  bool Delist(Held& h, bool apply) {
    if (h.status != kActiveStatus || mDelistings.empty()) return false;
    if (apply) {
      h.status = mDelistings[mRandom.Index(mDelistings.size())];
      ++mOutcome.delistings;
    }
    return true;
  }
  // Stock sent on to another station of the agency.
  bool Move(Held& h, bool apply) {
    if (!h.InStock() || mStations.size() < 2) return false;
    if (apply) {
      h.station = (h.station + 1 + mRandom.Index(mStations.size() - 1)) % mStations.size();
      ++mOutcome.moves;
    }
    return true;
  }
  // An officer hands back what he did not use: it goes back on the shelf.
  bool GiveBack(Held& h, bool apply) {
    if (!h.InHand()) return false;
    if (apply) {
      h.registry = kNoOfficer;
      ++mOutcome.returns;
    }
    return true;
  }

  // Voided and delisted forms are destroyed after their audit, whole ranges or part of one;
  // now and then unused stock goes back to central supply.
  void Withdraw() {
    auto k = Pick([](const Held& h) { return h.status != kActiveStatus || h.InStock(); });
    if (!k) return;
    NextCall();
    const Held h = mHeld[*k];
    std::int64_t from = h.from;
    std::int64_t to = h.to;
    if (h.Size() >= 3 && mRandom.Chance(40)) {
      from = h.from + 1 + mRandom.Below(h.Size() - 2);
      to = from + mRandom.Below(h.to - from);
    }
    const char* reason =
        h.status == kActiveStatus ? "Returned to central supply" : "Destroyed after audit";
    mStore.Withdraw(Context("withdraw"), mReference.FormTypes()[h.type].code, from, to, reason);
    ++mOutcome.withdrawals;
    // The range's own row becomes its first piece, with a new version; a second is new.
    std::vector<Held> pieces;
    if (h.from < from) {
      Held low = h;
      low.to = from - 1;
      low.used = std::min(h.used, low.Size());
      pieces.push_back(low);
    }
    if (h.to > to) {
      Held high = h;
      high.from = to + 1;
      high.used = std::max<std::int64_t>(0, h.from + h.used - 1 - to);
      pieces.push_back(high);
    }
    if (pieces.empty()) {
      mHeld[*k] = std::move(mHeld.back());
      mHeld.pop_back();
      return;
    }
    pieces[0].version = h.version + 1;
    mHeld[*k] = pieces[0];
    if (pieces.size() > 1) {
      pieces[1].version = 1;
      mHeld.push_back(pieces[1]);
    }
  }

  // The month's uses of forms in officers' hands, from each range's lowest unused number:
  // mostly citations issued, some spoiled, a few lost or stolen; one batch, as the
  // e-citation system's export.
  void Use(std::size_t count) {
    std::vector<protocol::ReportedUse> uses;
    // The batch is recorded at its call; its forms were used between the month's start and
    // then.
    NextCall();
    const auto first = std::chrono::sys_days(*ParseIsoDate(LocalDate(mMonthStart)));
    const auto last = std::chrono::sys_days(*ParseIsoDate(mToday));
    while (uses.size() < count) {
      auto k = Pick([](const Held& h) { return h.InHand() && h.used < h.Size(); });
      if (!k) break;
      Held& h = mHeld[*k];
      // Not before the officer had it: a use dated earlier would be an exception of the
      // reconciliation, which a generated agency should show only where it means to.
      const auto given = ParseIsoDate(h.inHandSince);
      const auto since = given ? std::max(first, std::chrono::sys_days(*given)) : first;
      const std::int64_t span = std::max<std::int64_t>(0, (last - since).count());
      const std::int64_t n = 1 + mRandom.Below(std::min<std::int64_t>(10, h.Size() - h.used));
      for (std::int64_t i = 0; i < n; ++i) {
        const std::int64_t number = h.from + h.used + i;
        protocol::ReportedUse u;
        u.formType = mReference.FormTypes()[h.type].code;
        u.number = std::to_string(number);
        u.officer = std::to_string(h.registry);
        u.usedOn = IsoDate(
            std::chrono::year_month_day{since + std::chrono::days(mRandom.Below(span + 1))});
        const std::int64_t draw = mRandom.Below(100);
        if (draw < 90) {
          u.disposition = "ISSUED";
          u.reference = fmt::format("CIT-{}-{}", u.formType, number);
        } else if (draw < 96) {
          u.disposition = "SPOILED";
          u.note = "Torn while writing";
        } else if (draw < 99) {
          u.disposition = "LOST";
          u.note = "Lost on patrol";
        } else {
          u.disposition = "STOLEN";
          u.reference = fmt::format("PR-{}", number);
        }
        uses.push_back(std::move(u));
      }
      h.used += n;
    }
    if (uses.empty()) return;
    UseBatch batch;
    batch.sourceText = "Generated e-citation export";
    batch.rules.today = mToday;
    batch.lines = [&uses](const std::function<void(const UseLine&)>& each) {
      for (std::size_t i = 0; i < uses.size(); ++i) {
        each(UseLine{static_cast<std::int64_t>(i + 1), uses[i], {}});
      }
    };
    const auto outcome = mStore.RecordUses(Context("uses"), batch);
    if (outcome.badLineCount > 0) {
      throw StoreError::Internal(
          fmt::format("generated uses refused: {}", outcome.badLines.empty()
                                                        ? std::string("no line listed")
                                                        : outcome.badLines.front().message));
    }
    mOutcome.uses += uses.size();
  }

  // A year's physical counts: an auditor counts one form type at a few stations and finds
  // the book, now and then but for one form, which stays missing.
  void CountStations() {
    for (std::size_t i = 0; i < mOptions.countsPerYear; ++i) {
      const std::size_t station = mRandom.Index(mStations.size());
      const std::string& type = mReference.FormTypes()[mRandom.Index(mBlockSize.size())].code;
      NextCall();
      const PhysicalCount count = mStore.OpenCount(Context("count"), mStations[station].troop,
                                                   mStations[station].district, {type});
      std::vector<CountSpan> spans;
      for (const auto& b : count.book) spans.push_back({b.formType, b.from, b.to});
      if (!spans.empty() && mRandom.Chance(30) && spans.back().to > spans.back().from) {
        --spans.back().to;
      }
      NextCall();
      if (!spans.empty()) mStore.AddCounted(Context("counted"), count.number, spans);
      NextCall();
      mStore.CertifyCount(Context("certify"), count.number,
                          "Counted shelf by shelf; the numbers found are those entered.");
      ++mOutcome.counts;
    }
  }

  Store& mStore;
  const ReferenceData& mReference;
  std::shared_ptr<std::string> mClock;
  const HistoryOptions& mOptions;
  Random mRandom;
  Clock::time_point mStart;
  Clock::time_point mEnd;
  Clock::time_point mMonthStart;
  Clock::duration mTick{};
  std::size_t mCall = 0;
  std::string mToday;
  std::vector<GeneratedStation> mStations;
  std::vector<std::string> mDelistings;
  std::vector<std::int64_t> mBlockSize;  // by form type, in the reference data's order
  std::vector<std::int64_t> mNext;
  std::vector<Held> mHeld;
  std::vector<std::size_t> mHandedOut;  // of mHeld, given to officers by the pending save
  std::uint64_t mSave = 0;
  std::uint64_t mRequests = 0;
  GeneratedHistory mOutcome;
};

}  // namespace

GeneratedHistory GenerateHistory(const std::string& address, StoreOptions store,
                                 const HistoryOptions& options) {
  if (options.years < 1) throw StoreError::Rejected("A generated history spans at least a year");
  if (options.rowsPerSave < 2) {
    throw StoreError::Rejected("A generated save carries at least two rows (a split's)");
  }
  const Clock::time_point end = options.end == Clock::time_point{}
                                    ? std::chrono::floor<std::chrono::days>(Clock::now())
                                    : options.end;
  const Clock::time_point start = end - std::chrono::days(365 * options.years + options.years / 4);
  // Migrated under the real clock first: the stamps of the store's own writes must then
  // never run behind the history's, which starts years ago.
  OpenStore(address, store);
  auto clock = std::make_shared<std::string>(UtcTimestamp(start));
  store.clock = [clock] { return *clock; };
  store.migrate = false;
  const auto opened = OpenStore(address, store);
  if (opened->RangeCount() != 0) {
    throw StoreError::Rejected("A history can only be generated into a store that holds no ranges");
  }
  Generator generator(*opened, clock, options, start, end);
  return generator.Run();
}

}  // namespace fm::server

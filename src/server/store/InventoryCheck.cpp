#include "server/store/InventoryCheck.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "server/store/ChangeRules.h"
#include "server/store/ReferenceData.h"
#include "server/store/SqlConnection.h"
#include "server/store/SqlStoreRows.h"
#include "server/store/StationScope.h"
#include "server/store/StoreTypes.h"

namespace fm::server {

namespace {

// --- Reading the tables ---------------------------------------------------------------
// With range readers of its own rather than the store's (only a column's value reads the
// same): a fault in how the store reads a range must not be able to hide itself from the
// check that judges the store. Both tables are read a row at a time, never whole: a check of
// millions of history entries holds the ranges the replay has reached, not the history.

constexpr const char* kCheckedColumns =
    "frm_form_nbr, to_form_nbr, trp_id, trp_dist_id, asgnd_reg_nbr, trp_actn_cd, rmng_form_cnt, "
    "form_qtr_dt, form_yr_dt, cmmt_txt";

// Ten columns from `at`, in the order of kCheckedColumns, into `r`, whose texts keep their
// capacity from row to row.
void ReadRangeAt(const std::string& formType, const SqlRow& row, std::size_t at, FormRange& r) {
  r.formType = formType;
  r.from = Integer(row[at]);
  r.to = Integer(row[at + 1]);
  AssignText(row[at + 2], r.troop);
  AssignText(row[at + 3], r.district);
  r.registry = Integer(row[at + 4]);
  AssignText(row[at + 5], r.status);
  r.remaining = Integer(row[at + 6]);
  r.quarter = OptInteger(row[at + 7]);
  r.year = OptInteger(row[at + 8]);
  AssignOptText(row[at + 9], r.comment);
}

// The stored ranges in key order, each with the count of its standing uses (rule 4).
std::string StoredRangesSql() {
  return fmt::format(
      "SELECT r.form_typ_cd, {}, (SELECT count(*) FROM form_use u WHERE u.standing = 1"
      " AND u.form_typ_cd = r.form_typ_cd AND u.form_nbr >= r.frm_form_nbr"
      " AND u.form_nbr <= r.to_form_nbr) FROM form_range r ORDER BY r.form_typ_cd, r.frm_form_nbr",
      kCheckedColumns);
}

struct AuditEntry {
  std::int64_t id = 0;
  std::string requestId;
  std::string action;
  std::optional<FormRange> before;
  FormRange after;
};

// The audit's columns of one side of a change, in the order of kCheckedColumns.
std::string AuditSide(const std::string& prefix) {
  std::string columns;
  for (const char* name : {"from", "to", "trp_id", "trp_dist_id", "reg_nbr", "actn_cd", "rmng_cnt",
                           "qtr_dt", "yr_dt", "cmmt_txt"}) {
    columns += (columns.empty() ? "" : ", ") + prefix + name;
  }
  return columns;
}

std::string AuditSql() {
  return fmt::format(
      "SELECT audit_id, request_id, action, form_typ_cd, {}, {} FROM range_audit ORDER BY "
      "audit_id",
      AuditSide("before_"), AuditSide("after_"));
}

// `row` of AuditSql into `e`, reused from row to row.
void ReadAuditEntry(const SqlRow& row, AuditEntry& e) {
  e.id = Integer(row[0]);
  AssignText(row[1], e.requestId);
  AssignText(row[2], e.action);
  AssignText(row[3], e.after.formType);
  if (std::holds_alternative<std::monostate>(row[4])) {
    e.before.reset();
  } else {
    if (!e.before) e.before.emplace();
    ReadRangeAt(e.after.formType, row, 4, *e.before);
  }
  ReadRangeAt(e.after.formType, row, 14, e.after);
}

// Ranges in the words of the store's own reference tables: the administrator reading the
// violations finds "ENF001 Citation 1100001-1100100", not "C".
class Wording {
 public:
  explicit Wording(const ReferenceData& reference) : mReference(reference) {}
  std::string FormType(const std::string& code) const { return FormTypeName(code, mReference); }
  // "ENF001 Citation 1-50 (Troop/District A1, Registry # 1002, Activate, 50 remaining,
  // comment "stamped")": every column rule 2 compares.
  std::string Describe(const FormRange& r) const {
    std::string quarter;
    if (r.quarter || r.year) {
      quarter = fmt::format(", quarter {} of {}", r.quarter ? std::to_string(*r.quarter) : "-",
                            r.year ? std::to_string(*r.year) : "-");
    }
    return fmt::format("{} {}-{} ({}, {}, {}, {} remaining{}{})", FormType(r.formType), r.from,
                       r.to, StationText(r.troop, r.district),
                       r.registry == kNoOfficer ? std::string("no officer")
                                                : fmt::format("Registry # {}", r.registry),
                       StatusName(r.status, mReference), r.remaining, quarter,
                       r.comment ? ", comment \"" + *r.comment + "\"" : "");
  }

 private:
  const ReferenceData& mReference;
};

// What an entry of the history did, for its label.
const char* ActionWords(const std::string& action) {
  if (action == "LOAD") return "initial inventory";
  if (action == "ADD") return "new range";
  if (action == "UPD") return "change";
  if (action == "WDR") return "withdrawal";
  return "unknown action";
}

// --- Sets of form numbers ----------------------------------------------------------------

// Disjoint, sorted, non-adjacent spans of numbers.
using Spans = std::vector<std::pair<std::int64_t, std::int64_t>>;

Spans Normalized(Spans spans) {
  std::sort(spans.begin(), spans.end());
  Spans merged;
  for (const auto& [from, to] : spans) {
    if (!merged.empty() && from <= merged.back().second + 1) {
      merged.back().second = std::max(merged.back().second, to);
    } else {
      merged.emplace_back(from, to);
    }
  }
  return merged;
}

// The numbers of `a` not in `b` (both normalized).
Spans Minus(const Spans& a, const Spans& b) {
  Spans out;
  std::size_t j = 0;
  for (auto [from, to] : a) {
    while (j < b.size() && b[j].second < from) ++j;
    for (std::size_t k = j; k < b.size() && b[k].first <= to && from <= to; ++k) {
      if (b[k].first > from) out.emplace_back(from, b[k].first - 1);
      from = std::max(from, b[k].second + 1);
    }
    if (from <= to) out.emplace_back(from, to);
  }
  return out;
}

std::string Describe(const Spans& spans) {
  std::string text;
  for (std::size_t i = 0; i < spans.size() && i < 5; ++i) {
    text += fmt::format("{}{}-{}", i ? ", " : "", spans[i].first, spans[i].second);
  }
  if (spans.size() > 5) text += fmt::format(" and {} more", spans.size() - 5);
  return text;
}

// The numbers of one form type as the history receives and withdraws them, one span at a
// time: the spans of Normalized and Minus, kept in a map so that a change costs the spans it
// touches, not all of them. A span whose To is below its From (only a damaged history has
// one) leaves the spans as Normalized and Minus leave them, not always normalized: from then
// on the type's numbers follow those two functions themselves, so that every history accounts
// exactly as it always did.
class NumberSet {
 public:
  void Add(std::int64_t from, std::int64_t to) {
    if (to < from) Irregular();
    if (mIrregular) {
      mSpans.emplace_back(from, to);
      mSpans = Normalized(std::move(mSpans));
      return;
    }
    auto it = mSet.upper_bound(from);
    if (it != mSet.begin() && std::prev(it)->second >= from - 1) --it;
    while (it != mSet.end() && it->first <= to + 1) {
      from = std::min(from, it->first);
      to = std::max(to, it->second);
      it = mSet.erase(it);
    }
    mSet.emplace(from, to);
  }

  void Remove(std::int64_t from, std::int64_t to) {
    if (to < from) Irregular();
    if (mIrregular) {
      mSpans = Minus(mSpans, {{from, to}});
      return;
    }
    auto it = mSet.upper_bound(from);
    if (it != mSet.begin() && std::prev(it)->second >= from) --it;
    while (it != mSet.end() && it->first <= to) {
      const auto [first, last] = *it;
      it = mSet.erase(it);
      if (first < from) mSet.emplace(first, from - 1);
      if (last > to) mSet.emplace(to + 1, last);
    }
  }

  Spans ToSpans() const {
    if (mIrregular) return mSpans;
    return {mSet.begin(), mSet.end()};
  }

 private:
  void Irregular() {
    if (mIrregular) return;
    mSpans.assign(mSet.begin(), mSet.end());
    mSet.clear();
    mIrregular = true;
  }

  std::map<std::int64_t, std::int64_t> mSet;  // From to To
  bool mIrregular = false;
  Spans mSpans;
};

// --- The replay's ranges ----------------------------------------------------------------
// A million live ranges are the floor of the check's memory, so each is held in a few words:
// its bounds and count, and one id for all its other columns, which ranges share (a station,
// an officer, a status, a quarter).

// The columns of a range but its form type, bounds and count.
struct Attributes {
  std::string troop;
  std::string district;
  std::int64_t registry = kNoOfficer;
  std::string status;
  std::optional<std::int64_t> quarter;
  std::optional<std::int64_t> year;
  std::optional<std::string> comment;

  bool operator==(const Attributes&) const = default;
};

struct AttributesHash {
  std::size_t operator()(const Attributes& a) const {
    std::size_t h = std::hash<std::string>()(a.troop);
    auto mix = [&h](std::size_t v) { h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2); };
    mix(std::hash<std::string>()(a.district));
    mix(std::hash<std::int64_t>()(a.registry));
    mix(std::hash<std::string>()(a.status));
    mix(a.quarter ? std::hash<std::int64_t>()(*a.quarter) : 1);
    mix(a.year ? std::hash<std::int64_t>()(*a.year) : 2);
    mix(a.comment ? std::hash<std::string>()(*a.comment) : 3);
    return h;
  }
};

// Attributes by id, each kept while a range holds it: the pool holds the distinct attributes
// of the live ranges, never those of the whole history.
class AttributePool {
 public:
  std::uint32_t Acquire(const FormRange& r) {
    mScratch.troop = r.troop;
    mScratch.district = r.district;
    mScratch.registry = r.registry;
    mScratch.status = r.status;
    mScratch.quarter = r.quarter;
    mScratch.year = r.year;
    mScratch.comment = r.comment;
    auto it = mIds.find(mScratch);
    if (it == mIds.end()) {
      std::uint32_t id = 0;
      if (mFree.empty()) {
        id = static_cast<std::uint32_t>(mSlots.size());
        mSlots.emplace_back();
      } else {
        id = mFree.back();
        mFree.pop_back();
      }
      it = mIds.emplace(mScratch, id).first;
      mSlots[id] = {&it->first, 0};
    }
    ++mSlots[it->second].refs;
    return it->second;
  }

  void Release(std::uint32_t id) {
    Slot& slot = mSlots[id];
    if (--slot.refs > 0) return;
    mIds.erase(*slot.attributes);
    slot.attributes = nullptr;
    mFree.push_back(id);
  }

  const Attributes& Get(std::uint32_t id) const { return *mSlots[id].attributes; }

 private:
  struct Slot {
    const Attributes* attributes = nullptr;
    std::uint32_t refs = 0;
  };
  std::unordered_map<Attributes, std::uint32_t, AttributesHash> mIds;
  std::vector<Slot> mSlots;
  std::vector<std::uint32_t> mFree;
  Attributes mScratch;
};

// Form types by id, in the order first met.
class FormTypes {
 public:
  std::uint32_t Id(const std::string& code) {
    auto [it, added] = mIds.emplace(code, static_cast<std::uint32_t>(mCodes.size()));
    if (added) mCodes.push_back(code);
    return it->second;
  }
  std::optional<std::uint32_t> Find(const std::string& code) const {
    auto it = mIds.find(code);
    if (it == mIds.end()) return std::nullopt;
    return it->second;
  }
  const std::string& Code(std::uint32_t id) const { return mCodes[id]; }
  // Ids in the order of their codes.
  std::vector<std::uint32_t> Sorted() const {
    std::vector<std::uint32_t> ids;
    for (const auto& [code, id] : mIds) ids.push_back(id);
    return ids;
  }

 private:
  std::map<std::string, std::uint32_t> mIds;
  std::vector<std::string> mCodes;
};

struct RangeKey {
  std::uint32_t type = 0;
  std::int64_t from = 0;
  friend bool operator<(const RangeKey& a, const RangeKey& b) {
    return a.type != b.type ? a.type < b.type : a.from < b.from;
  }
};

struct HeldRange {
  std::int64_t to = 0;
  std::int64_t remaining = 0;
  std::uint32_t attributes = 0;
};

using HeldRanges = std::map<RangeKey, HeldRange>;

// --- Rule 1 -------------------------------------------------------------------------------

// Each range in turn, ordered by form type, then From.
class DisjointCheck {
 public:
  DisjointCheck(std::string where, const Wording& words)
      : mWhere(std::move(where)), mWords(words) {}

  void Next(const FormRange& r, std::vector<std::string>& violations) {
    if (r.to < r.from) {
      violations.push_back(
          fmt::format("{}: To Range below From Range in {}", mWhere, mWords.Describe(r)));
    }
    if (mPrevious && mPrevious->formType == r.formType && r.from <= mPrevious->to) {
      violations.push_back(fmt::format("{}: {} overlaps {}", mWhere, mWords.Describe(*mPrevious),
                                       mWords.Describe(r)));
    }
    mPrevious = r;
  }

 private:
  const std::string mWhere;
  const Wording& mWords;
  std::optional<FormRange> mPrevious;
};

// --- Rules 2 and 3: the history replayed --------------------------------------------------

// Whether any number of a range has a use record: its count may then have followed uses
// between two entries of its history.
using UsedSpan = std::function<bool(const FormRange&)>;

// What the entries of one request so far mean to its later ones.
struct RequestState {
  // The ranges its withdrawals have taken out (rule 2).
  std::set<RangeKey> withdrawnFrom;
  // The spans its changes have given up: the room its split pieces take (rule 3).
  Spans givenUp;
};

// The history replayed in order, its ranges (rule 2) and its numbers (rule 3) in one pass.
//
// A request's entries are read only by its own later entries, so its state is kept only
// while they can still come. Every save, withdrawal and load writes under the write locks of
// the form types it changes (SqlStore::Write, SqlConnection::BeginWrite), held to its commit:
// no other request writes an entry of those types between a request's first entry and its
// last, whatever other types' saves interleave. So once another request's entry of one of its
// form types comes, the request has no entry left, and its state goes (unless
// `keepRequests`: see CheckInventory).
class Replay {
 public:
  Replay(const Wording& words, UsedSpan used, bool keepRequests)
      : mWords(words), mUsed(std::move(used)), mKeepRequests(keepRequests) {}

  void Apply(const AuditEntry& e, std::vector<std::string>& violations) {
    const std::uint32_t type = mTypes.Id(e.after.formType);
    RequestState& request = StateOf(type, e.requestId);
    Account(e, request);
    const auto label = [&] {
      return fmt::format("history entry {} ({}, {} {}-{}, request {})", e.id, ActionWords(e.action),
                         mWords.FormType(e.after.formType), e.after.from, e.after.to, e.requestId);
    };
    if (e.action == "LOAD" || e.action == "ADD") {
      Insert(label, type, e.after, violations);
    } else if (e.action == "UPD" || e.action == "WDR") {
      if (!e.before) {
        violations.push_back(label() + ": a change without the range before it");
        return;
      }
      const RangeKey key{type, e.before->from};
      auto it = mRanges.find(key);
      if (it == mRanges.end()) {
        // The range a withdrawal took numbers from is cut into the pieces that stay: the
        // first of them replaces it after the withdrawal removed it.
        if (e.action == "UPD" && request.withdrawnFrom.count(key)) {
          Insert(label, type, e.after, violations);
          return;
        }
        violations.push_back(fmt::format("{}: it replaces {}, which the history does not hold",
                                         label(), mWords.Describe(*e.before)));
        return;
      }
      if (!Holds(it->second, *e.before, true) &&
          !(Holds(it->second, *e.before, false) && mUsed(*e.before))) {
        violations.push_back(fmt::format("{}: it replaces {}, but the history holds {}", label(),
                                         mWords.Describe(*e.before),
                                         mWords.Describe(RangeOf(*it))));
      }
      Erase(it);
      if (e.action == "UPD") {
        Insert(label, type, e.after, violations);
      } else {
        request.withdrawnFrom.insert(key);
      }
    } else {
      violations.push_back(
          fmt::format("{}: the action \"{}\" is unknown to this check", label(), e.action));
    }
  }

  // The range the history holds at the key of `r`, taken out of the replay: none when it
  // holds none there.
  std::optional<FormRange> Take(const FormRange& r) {
    const auto type = mTypes.Find(r.formType);
    if (!type) return std::nullopt;
    auto it = mRanges.find({*type, r.from});
    if (it == mRanges.end()) return std::nullopt;
    FormRange range = RangeOf(*it);
    Erase(it);
    return range;
  }

  // The ranges not taken, in the order of form type, then From.
  std::vector<FormRange> Rest() const {
    std::vector<FormRange> out;
    for (const std::uint32_t type : mTypes.Sorted()) {
      for (auto it = mRanges.lower_bound({type, std::numeric_limits<std::int64_t>::min()});
           it != mRanges.end() && it->first.type == type; ++it) {
        out.push_back(RangeOf(*it));
      }
    }
    return out;
  }

  // The numbers the inventory must hold now, by form type.
  std::map<std::string, Spans> Accounted() const {
    std::map<std::string, Spans> out;
    for (const auto& [type, numbers] : mAccounted) out[mTypes.Code(type)] = numbers.ToSpans();
    return out;
  }

 private:
  RequestState& StateOf(std::uint32_t type, const std::string& requestId) {
    auto current = mCurrent.find(type);
    if (current == mCurrent.end()) {
      current = mCurrent.emplace(type, requestId).first;
    } else if (current->second != requestId) {
      if (!mKeepRequests) mRequests.erase(current->second);
      current->second = requestId;
    }
    return mRequests[requestId];
  }

  // Rule 3: the numbers received (initial loads and receipts, the "ADD" rows that are not
  // pieces of a split: a piece lies in the span a "UPD" or withdrawal of the same request
  // held before), less those withdrawn since, taken in the history's order.
  void Account(const AuditEntry& e, RequestState& request) {
    const FormRange& r = e.after;
    NumberSet& numbers = mAccounted[mTypes.Id(r.formType)];
    if ((e.action == "UPD" || e.action == "WDR") && e.before) {
      request.givenUp.emplace_back(e.before->from, e.before->to);
      if (e.action == "WDR") numbers.Remove(r.from, r.to);
    } else if (e.action == "LOAD") {
      numbers.Add(r.from, r.to);
    } else if (e.action == "ADD") {
      const Spans& room = request.givenUp;
      const bool piece = std::any_of(room.begin(), room.end(), [&](const auto& s) {
        return s.first <= r.from && r.to <= s.second;
      });
      if (!piece) numbers.Add(r.from, r.to);
    }
  }

  template <typename Label>
  void Insert(const Label& label, std::uint32_t type, const FormRange& r,
              std::vector<std::string>& violations) {
    const RangeKey key{type, r.from};
    auto next = mRanges.lower_bound(key);
    if (next != mRanges.end() && next->first.type == type && next->first.from <= r.to) {
      violations.push_back(fmt::format("{}: the range overlaps {} of the history", label(),
                                       mWords.Describe(RangeOf(*next))));
    }
    if (next != mRanges.begin()) {
      auto previous = std::prev(next);
      if (previous->first.type == type && previous->second.to >= r.from) {
        violations.push_back(fmt::format("{}: the range overlaps {} of the history", label(),
                                         mWords.Describe(RangeOf(*previous))));
      }
    }
    const HeldRange held{r.to, r.remaining, mAttributes.Acquire(r)};
    if (next != mRanges.end() && !(key < next->first)) {
      mAttributes.Release(next->second.attributes);
      next->second = held;
    } else {
      mRanges.emplace_hint(next, key, held);
    }
  }

  void Erase(HeldRanges::iterator it) {
    mAttributes.Release(it->second.attributes);
    mRanges.erase(it);
  }

  // Whether `held` is `r` in every column (its count too, when `withCount`); the form type
  // and From are its key's.
  bool Holds(const HeldRange& held, const FormRange& r, bool withCount) const {
    const Attributes& a = mAttributes.Get(held.attributes);
    return held.to == r.to && (!withCount || held.remaining == r.remaining) && a.troop == r.troop &&
           a.district == r.district && a.registry == r.registry && a.status == r.status &&
           a.quarter == r.quarter && a.year == r.year && a.comment == r.comment;
  }

  FormRange RangeOf(const HeldRanges::value_type& entry) const {
    const Attributes& a = mAttributes.Get(entry.second.attributes);
    FormRange r;
    r.formType = mTypes.Code(entry.first.type);
    r.from = entry.first.from;
    r.to = entry.second.to;
    r.troop = a.troop;
    r.district = a.district;
    r.registry = a.registry;
    r.status = a.status;
    r.remaining = entry.second.remaining;
    r.quarter = a.quarter;
    r.year = a.year;
    r.comment = a.comment;
    return r;
  }

  const Wording& mWords;
  const UsedSpan mUsed;
  const bool mKeepRequests;
  FormTypes mTypes;
  AttributePool mAttributes;
  HeldRanges mRanges;
  std::map<std::uint32_t, NumberSet> mAccounted;
  // The latest request of each form type, and the state of those requests.
  std::map<std::uint32_t, std::string> mCurrent;
  std::unordered_map<std::string, RequestState> mRequests;
};

// --- Rules 2 and 4: the stored ranges against the history ------------------------------

// A superseded use is superseded by a record: corrections keep what they replace.
void CheckCorrections(SqlConnection& c, std::vector<std::string>& violations) {
  c.QueryEach(
      "SELECT u.use_id FROM form_use u WHERE u.standing = 0 AND NOT EXISTS"
      " (SELECT 1 FROM form_use s WHERE s.supersedes_id = u.use_id) ORDER BY u.use_id",
      {}, [&](const SqlRow& row) {
        violations.push_back(
            fmt::format("use {} does not stand, but no record supersedes it", Integer(row[0])));
        return true;
      });
}

// A range whose numbers have standing uses (`used`) counts its size less them, whatever its
// last history entry says (a use changes the count, not the history); every other column,
// and the count of every other range, is the history's.
void CompareWithHistory(const FormRange& r, std::int64_t used, Replay& replay, const Wording& words,
                        std::vector<std::string>& violations) {
  const std::optional<FormRange> history = replay.Take(r);
  if (!history) {
    violations.push_back(fmt::format("the inventory holds {}, which no history entry accounts for",
                                     words.Describe(r)));
    return;
  }
  FormRange written = *history;
  if (used > 0) {
    if (r.remaining != r.Size() - used) {
      violations.push_back(fmt::format("the inventory holds {}, but {} of its numbers are used",
                                       words.Describe(r), used));
    }
    written.remaining = r.remaining;
  }
  if (!(written == r)) {
    violations.push_back(fmt::format("the inventory holds {}, but its history ends with {}",
                                     words.Describe(r), words.Describe(*history)));
  }
}

// --- Rule 3 -------------------------------------------------------------------------------

// `held`: the numbers of the stored ranges, normalized, by form type.
void CompareNumbers(const std::map<std::string, Spans>& held,
                    const std::map<std::string, Spans>& received, const Wording& words,
                    std::vector<std::string>& violations) {
  std::map<std::string, bool> types;
  for (const auto& [type, spans] : held) types[type] = true;
  for (const auto& [type, spans] : received) types[type] = true;
  const Spans none;
  for (const auto& [type, unused] : types) {
    const Spans& h = held.count(type) ? held.at(type) : none;
    const Spans& r = received.count(type) ? received.at(type) : none;
    if (Spans lost = Minus(r, h); !lost.empty()) {
      violations.push_back(fmt::format("{}: numbers received but held by no range: {}",
                                       words.FormType(type), Describe(lost)));
    }
    if (Spans extra = Minus(h, r); !extra.empty()) {
      violations.push_back(fmt::format("{}: numbers held but never received: {}",
                                       words.FormType(type), Describe(extra)));
    }
  }
}

// The span of `r` joined to its type's spans, which the ranges, read in order of From, extend
// at their end only: as Normalized would join them.
void Hold(Spans& spans, const FormRange& r) {
  if (!spans.empty() && r.from <= spans.back().second + 1) {
    spans.back().second = std::max(spans.back().second, r.to);
  } else {
    spans.emplace_back(r.from, r.to);
  }
}

InventoryCheck Check(SqlConnection& connection, bool keepRequests) {
  InventoryCheck check;
  const ReferenceData reference = ReferenceData::FromStore(connection);
  const Wording words(reference);

  // The history first, the ranges then, one row at a time; the violations in the order of the
  // rules, the stored ranges' own (rule 1) first.
  std::vector<std::string> ofHistory;
  Replay replay(
      words,
      [&](const FormRange& r) {
        return !connection
                    .Query(
                        "SELECT 1 FROM form_use WHERE form_typ_cd = ? AND form_nbr >= ?"
                        " AND form_nbr <= ? LIMIT 1",
                        {r.formType, r.from, r.to})
                    .empty();
      },
      keepRequests);
  AuditEntry entry;
  connection.QueryEach(AuditSql(), {}, [&](const SqlRow& row) {
    ReadAuditEntry(row, entry);
    replay.Apply(entry, ofHistory);
    ++check.historyEntries;
    return true;
  });

  std::vector<std::string> ofRanges;
  std::vector<std::string> againstHistory;
  DisjointCheck disjoint("inventory", words);
  std::map<std::string, Spans> held;
  FormRange stored;
  connection.QueryEach(StoredRangesSql(), {}, [&](const SqlRow& row) {
    AssignText(row[0], stored.formType);
    ReadRangeAt(stored.formType, row, 1, stored);
    disjoint.Next(stored, ofRanges);
    CompareWithHistory(stored, Integer(row[11]), replay, words, againstHistory);
    Hold(held[stored.formType], stored);
    ++check.ranges;
    return true;
  });
  for (const FormRange& r : replay.Rest()) {
    againstHistory.push_back(
        fmt::format("the history ends with {}, which the inventory lacks", words.Describe(r)));
  }

  std::vector<std::string>& violations = check.violations;
  for (auto* part : {&ofRanges, &ofHistory, &againstHistory}) {
    violations.insert(violations.end(), part->begin(), part->end());
  }
  CheckCorrections(connection, violations);
  CompareNumbers(held, replay.Accounted(), words, violations);
  return check;
}

}  // namespace

InventoryCheck CheckInventory(SqlConnection& connection) {
  InventoryCheck check = Check(connection, false);
  // A store written on PostgreSQL before the form types' write locks may hold requests of one
  // form type whose entries interleave: the state of one went when the other's entry came,
  // and its later entries then read as violations. Such a history is judged again with every
  // request's state kept, as the check always did; a sound store never pays for it.
  if (!check.violations.empty()) check = Check(connection, true);
  return check;
}

}  // namespace fm::server

#include "server/store/InventoryCheck.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
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
// check that judges the store.

constexpr const char* kCheckedColumns =
    "frm_form_nbr, to_form_nbr, trp_id, trp_dist_id, asgnd_reg_nbr, trp_actn_cd, rmng_form_cnt, "
    "form_qtr_dt, form_yr_dt, cmmt_txt";

// Ten columns from `at`, in the order of kCheckedColumns.
FormRange RangeAt(const std::string& formType, const SqlRow& row, std::size_t at) {
  FormRange r;
  r.formType = formType;
  r.from = Integer(row[at]);
  r.to = Integer(row[at + 1]);
  r.troop = Text(row[at + 2]);
  r.district = Text(row[at + 3]);
  r.registry = Integer(row[at + 4]);
  r.status = Text(row[at + 5]);
  r.remaining = Integer(row[at + 6]);
  r.quarter = OptInteger(row[at + 7]);
  r.year = OptInteger(row[at + 8]);
  r.comment = OptText(row[at + 9]);
  return r;
}

std::vector<FormRange> ReadRanges(SqlConnection& c) {
  std::vector<FormRange> ranges;
  for (const auto& row : c.Query(fmt::format("SELECT form_typ_cd, {} FROM form_range ORDER BY "
                                             "form_typ_cd, frm_form_nbr",
                                             kCheckedColumns),
                                 {})) {
    ranges.push_back(RangeAt(Text(row[0]), row, 1));
  }
  return ranges;
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

std::vector<AuditEntry> ReadAudit(SqlConnection& c) {
  std::vector<AuditEntry> entries;
  for (const auto& row : c.Query(fmt::format("SELECT audit_id, request_id, action, form_typ_cd, "
                                             "{}, {} FROM range_audit ORDER BY audit_id",
                                             AuditSide("before_"), AuditSide("after_")),
                                 {})) {
    AuditEntry e;
    e.id = Integer(row[0]);
    e.requestId = Text(row[1]);
    e.action = Text(row[2]);
    const std::string formType = Text(row[3]);
    if (!std::holds_alternative<std::monostate>(row[4])) e.before = RangeAt(formType, row, 4);
    e.after = RangeAt(formType, row, 14);
    entries.push_back(std::move(e));
  }
  return entries;
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

// --- Rule 1 -------------------------------------------------------------------------------

// `ranges` ordered by form type, then From.
void CheckDisjoint(const std::vector<FormRange>& ranges, const std::string& where,
                   const Wording& words, std::vector<std::string>& violations) {
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    if (ranges[i].to < ranges[i].from) {
      violations.push_back(
          fmt::format("{}: To Range below From Range in {}", where, words.Describe(ranges[i])));
    }
    if (i > 0 && ranges[i - 1].formType == ranges[i].formType &&
        ranges[i].from <= ranges[i - 1].to) {
      violations.push_back(fmt::format("{}: {} overlaps {}", where, words.Describe(ranges[i - 1]),
                                       words.Describe(ranges[i])));
    }
  }
}

// --- Rule 2 -------------------------------------------------------------------------------

using RangeKey = std::pair<std::string, std::int64_t>;  // form type, From

// Whether any number of a range has a use record: its count may then have followed uses
// between two entries of its history.
using UsedSpan = std::function<bool(const FormRange&)>;

bool SameButCount(FormRange a, const FormRange& b) {
  a.remaining = b.remaining;
  return a == b;
}

class Replay {
 public:
  Replay(const Wording& words, UsedSpan used) : mWords(words), mUsed(std::move(used)) {}

  void Apply(const AuditEntry& e, std::vector<std::string>& violations) {
    const std::string label =
        fmt::format("history entry {} ({}, {} {}-{}, request {})", e.id, ActionWords(e.action),
                    mWords.FormType(e.after.formType), e.after.from, e.after.to, e.requestId);
    if (e.action == "LOAD" || e.action == "ADD") {
      Insert(label, e.after, violations);
    } else if (e.action == "UPD" || e.action == "WDR") {
      if (!e.before) {
        violations.push_back(label + ": a change without the range before it");
        return;
      }
      const RangeKey key{e.before->formType, e.before->from};
      auto it = mRanges.find(key);
      if (it == mRanges.end()) {
        // The range a withdrawal took numbers from is cut into the pieces that stay: the
        // first of them replaces it after the withdrawal removed it.
        if (e.action == "UPD" && mWithdrawnFrom[e.requestId].count(key)) {
          Insert(label, e.after, violations);
          return;
        }
        violations.push_back(fmt::format("{}: it replaces {}, which the history does not hold",
                                         label, mWords.Describe(*e.before)));
        return;
      }
      if (!(it->second == *e.before) &&
          !(SameButCount(it->second, *e.before) && mUsed(*e.before))) {
        violations.push_back(fmt::format("{}: it replaces {}, but the history holds {}", label,
                                         mWords.Describe(*e.before), mWords.Describe(it->second)));
      }
      mRanges.erase(it);
      if (e.action == "UPD") {
        Insert(label, e.after, violations);
      } else {
        mWithdrawnFrom[e.requestId].insert(key);
      }
    } else {
      violations.push_back(
          fmt::format("{}: the action \"{}\" is unknown to this check", label, e.action));
    }
  }

  std::vector<FormRange> Ranges() const {
    std::vector<FormRange> out;
    for (const auto& [key, range] : mRanges) out.push_back(range);
    return out;
  }

 private:
  void Insert(const std::string& label, const FormRange& r, std::vector<std::string>& violations) {
    auto next = mRanges.lower_bound({r.formType, r.from});
    if (next != mRanges.end() && next->first.first == r.formType && next->second.from <= r.to) {
      violations.push_back(fmt::format("{}: the range overlaps {} of the history", label,
                                       mWords.Describe(next->second)));
    }
    if (next != mRanges.begin()) {
      auto previous = std::prev(next);
      if (previous->first.first == r.formType && previous->second.to >= r.from) {
        violations.push_back(fmt::format("{}: the range overlaps {} of the history", label,
                                         mWords.Describe(previous->second)));
      }
    }
    mRanges[{r.formType, r.from}] = r;
  }

  const Wording& mWords;
  const UsedSpan mUsed;
  std::map<RangeKey, FormRange> mRanges;
  // Per request, the ranges a withdrawal has taken out so far.
  std::map<std::string, std::set<RangeKey>> mWithdrawnFrom;
};

// The standing uses of each range holding any (the ranges of no key hold none).
std::map<RangeKey, std::int64_t> UsesOfRanges(SqlConnection& c) {
  std::map<RangeKey, std::int64_t> uses;
  for (const auto& row :
       c.Query("SELECT x.form_typ_cd, x.frm_form_nbr, x.used FROM (SELECT r.form_typ_cd,"
               " r.frm_form_nbr, (SELECT count(*) FROM form_use u WHERE u.standing = 1"
               " AND u.form_typ_cd = r.form_typ_cd AND u.form_nbr >= r.frm_form_nbr"
               " AND u.form_nbr <= r.to_form_nbr) AS used FROM form_range r) x WHERE x.used > 0",
               {})) {
    uses[{Text(row[0]), Integer(row[1])}] = Integer(row[2]);
  }
  return uses;
}

// A superseded use is superseded by a record: corrections keep what they replace.
void CheckCorrections(SqlConnection& c, std::vector<std::string>& violations) {
  for (const auto& row :
       c.Query("SELECT u.use_id FROM form_use u WHERE u.standing = 0 AND NOT EXISTS"
               " (SELECT 1 FROM form_use s WHERE s.supersedes_id = u.use_id) ORDER BY u.use_id",
               {})) {
    violations.push_back(
        fmt::format("use {} does not stand, but no record supersedes it", Integer(row[0])));
  }
}

// A range whose numbers have standing uses counts its size less them, whatever its last
// history entry says (a use changes the count, not the history); every other column, and the
// count of every other range, is the history's.
void CompareWithHistory(const std::vector<FormRange>& stored,
                        const std::vector<FormRange>& replayed,
                        const std::map<RangeKey, std::int64_t>& uses, const Wording& words,
                        std::vector<std::string>& violations) {
  std::map<RangeKey, const FormRange*> history;
  for (const auto& r : replayed) history[{r.formType, r.from}] = &r;
  for (const auto& r : stored) {
    auto it = history.find({r.formType, r.from});
    if (it == history.end()) {
      violations.push_back(fmt::format(
          "the inventory holds {}, which no history entry accounts for", words.Describe(r)));
      continue;
    }
    FormRange written = *it->second;
    if (auto used = uses.find({r.formType, r.from}); used != uses.end()) {
      if (r.remaining != r.Size() - used->second) {
        violations.push_back(fmt::format("the inventory holds {}, but {} of its numbers are used",
                                         words.Describe(r), used->second));
      }
      written.remaining = r.remaining;
    }
    if (!(written == r)) {
      violations.push_back(fmt::format("the inventory holds {}, but its history ends with {}",
                                       words.Describe(r), words.Describe(*it->second)));
    }
    history.erase(it);
  }
  for (const auto& [key, r] : history) {
    violations.push_back(
        fmt::format("the history ends with {}, which the inventory lacks", words.Describe(*r)));
  }
}

// --- Rule 3 -------------------------------------------------------------------------------

// The numbers the inventory must hold now: those received (initial loads and receipts, the
// "ADD" rows that are not pieces of a split: a piece lies in the span a "UPD" or withdrawal
// of the same request held before), less those withdrawn since, taken in the history's order.
void Receive(Spans& numbers, const FormRange& r) {
  numbers.emplace_back(r.from, r.to);
  numbers = Normalized(std::move(numbers));
}

std::map<std::string, Spans> AccountedNumbers(const std::vector<AuditEntry>& audit) {
  std::map<std::string, Spans> accounted;
  // Spans given up by the changes of each request so far: the room its split pieces take.
  std::map<std::string, Spans> givenUp;
  for (const auto& e : audit) {
    const FormRange& r = e.after;
    Spans& numbers = accounted[r.formType];
    if ((e.action == "UPD" || e.action == "WDR") && e.before) {
      givenUp[e.requestId].emplace_back(e.before->from, e.before->to);
      if (e.action == "WDR") numbers = Minus(numbers, {{r.from, r.to}});
    } else if (e.action == "LOAD") {
      Receive(numbers, r);
    } else if (e.action == "ADD") {
      const Spans& room = givenUp[e.requestId];
      bool piece = std::any_of(room.begin(), room.end(), [&](const auto& s) {
        return s.first <= r.from && r.to <= s.second;
      });
      if (!piece) Receive(numbers, r);
    }
  }
  return accounted;
}

void CompareNumbers(const std::vector<FormRange>& stored,
                    const std::map<std::string, Spans>& received, const Wording& words,
                    std::vector<std::string>& violations) {
  std::map<std::string, Spans> held;
  for (const auto& r : stored) held[r.formType].emplace_back(r.from, r.to);
  for (auto& [type, spans] : held) spans = Normalized(std::move(spans));
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

}  // namespace

InventoryCheck CheckInventory(SqlConnection& connection) {
  InventoryCheck check;
  std::vector<std::string>& violations = check.violations;
  const ReferenceData reference = ReferenceData::FromStore(connection);
  const Wording words(reference);
  const std::vector<FormRange> stored = ReadRanges(connection);
  CheckDisjoint(stored, "inventory", words, violations);

  const std::vector<AuditEntry> audit = ReadAudit(connection);
  Replay replay(words, [&](const FormRange& r) {
    return !connection
                .Query(
                    "SELECT 1 FROM form_use WHERE form_typ_cd = ? AND form_nbr >= ?"
                    " AND form_nbr <= ? LIMIT 1",
                    {r.formType, r.from, r.to})
                .empty();
  });
  for (const auto& entry : audit) replay.Apply(entry, violations);
  CompareWithHistory(stored, replay.Ranges(), UsesOfRanges(connection), words, violations);
  CheckCorrections(connection, violations);

  CompareNumbers(stored, AccountedNumbers(audit), words, violations);
  check.ranges = stored.size();
  check.historyEntries = audit.size();
  return check;
}

}  // namespace fm::server

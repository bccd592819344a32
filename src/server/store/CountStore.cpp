// Physical counts (Store.h, docs/counts.md): the book fixed at the opening, the counted numbers
// merged into spans, the certification that freezes both with the reasons of what was
// unexpected, and the settlements of what was missing.
#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

#include "base/Text.h"
#include "server/store/ChangeRules.h"
#include "server/store/CountComparison.h"
#include "server/store/RecordChain.h"
#include "server/store/ReferenceData.h"
#include "server/store/SqlStore.h"
#include "server/store/SqlStoreRows.h"
#include "server/store/SqlStoreTransactions.h"
#include "server/store/StationScope.h"
#include "server/store/StoreError.h"

namespace fm::server {

namespace {

std::string Lower(std::string text) {
  for (char& ch : text) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return text;
}

constexpr const char* kCountColumns =
    "count_nbr, trp_id, trp_dist_id, form_types, opened_by_id, opened_by_name, opened_at,"
    " request_id, certified_by_id, certified_by_name, certified_at, statement";

std::vector<std::string> SplitTypes(const std::string& joined) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= joined.size()) {
    const std::size_t comma = joined.find(',', start);
    const std::size_t end = comma == std::string::npos ? joined.size() : comma;
    if (end > start) out.push_back(joined.substr(start, end - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return out;
}

PhysicalCount CountHead(const SqlRow& row) {
  PhysicalCount count;
  count.number = Integer(row[0]);
  count.troop = Text(row[1]);
  count.district = Text(row[2]);
  count.formTypes = SplitTypes(Text(row[3]));
  count.openedById = Integer(row[4]);
  count.openedBy = Text(row[5]);
  count.openedAt = Text(row[6]);
  count.requestId = Text(row[7]);
  if (OptText(row[10])) {
    count.certified =
        CountCertification{Integer(row[8]), Text(row[9]), Text(row[10]), Text(row[11])};
  }
  return count;
}

std::optional<UnexpectedReason> ReasonFromKey(const std::string& key) {
  for (UnexpectedReason r :
       {UnexpectedReason::OtherStation, UnexpectedReason::OtherOfficer, UnexpectedReason::Delisted,
        UnexpectedReason::Used, UnexpectedReason::NotInBook, UnexpectedReason::NeverReceived}) {
    if (key == UnexpectedReasonKey(r)) return r;
  }
  return std::nullopt;
}

CountSettlement SettlementFromRow(const SqlRow& row) {
  return CountSettlement{
      Text(row[0]),    Integer(row[1]),
      Integer(row[2]), Text(row[3]) == "lost" ? SettlementKind::Lost : SettlementKind::FoundLater,
      Text(row[4]),    Integer(row[5]),
      Text(row[6]),    Text(row[7]),
      Text(row[8])};
}

constexpr const char* kSettlementColumns =
    "form_typ_cd, frm_nbr, to_nbr, kind, note, user_id, user_name, settled_at, request_id";

std::optional<PhysicalCount> ReadCount(SqlConnection& c, std::int64_t number) {
  const auto head = c.Query(
      fmt::format("SELECT {} FROM physical_count WHERE count_nbr = ?", kCountColumns), {number});
  if (head.empty()) return std::nullopt;
  PhysicalCount count = CountHead(head[0]);
  for (const SqlRow& row : c.Query("SELECT form_typ_cd, frm_nbr, to_nbr, reg_nbr, status"
                                   " FROM physical_count_book WHERE count_nbr = ?"
                                   " ORDER BY form_typ_cd, frm_nbr",
                                   {number})) {
    count.book.push_back(
        {Text(row[0]), Integer(row[1]), Integer(row[2]), Integer(row[3]), Text(row[4])});
  }
  for (const SqlRow& row : c.Query("SELECT form_typ_cd, frm_nbr, to_nbr FROM"
                                   " physical_count_counted WHERE count_nbr = ?"
                                   " ORDER BY form_typ_cd, frm_nbr",
                                   {number})) {
    count.counted.push_back({Text(row[0]), Integer(row[1]), Integer(row[2])});
  }
  for (const SqlRow& row : c.Query("SELECT form_typ_cd, frm_nbr, to_nbr, reason, detail FROM"
                                   " physical_count_unexpected WHERE count_nbr = ?"
                                   " ORDER BY form_typ_cd, frm_nbr",
                                   {number})) {
    count.unexpected.push_back(
        {Text(row[0]), Integer(row[1]), Integer(row[2]),
         ReasonFromKey(Text(row[3])).value_or(UnexpectedReason::NeverReceived), Text(row[4])});
  }
  for (const SqlRow& row :
       c.Query(fmt::format("SELECT {} FROM physical_count_settlement WHERE count_nbr = ?"
                           " ORDER BY settled_at, form_typ_cd, frm_nbr",
                           kSettlementColumns),
               {number})) {
    count.settlements.push_back(SettlementFromRow(row));
  }
  return count;
}

std::string CountStation(const PhysicalCount& count) {
  return StationText(count.troop, count.district);
}

// The count to change: known, within the caller's stations and not certified.
PhysicalCount CountToChange(SqlConnection& c, const SaveContext& context, std::int64_t number,
                            const char* what) {
  // The count's row first, so two entries into one count wait for each other rather than each
  // merging its spans into what the other has not written yet.
  c.Query("UPDATE physical_count SET count_nbr = count_nbr WHERE count_nbr = ?", {number});
  auto count = ReadCount(c, number);
  if (!count) throw StoreError::Rejected(fmt::format("There is no physical count {}", number));
  if (!context.scope.Covers(count->troop, count->district)) {
    throw StoreError::Forbidden(fmt::format("{} may not {} count {} of {}", context.userName, what,
                                            number, CountStation(*count)));
  }
  if (count->certified) {
    throw StoreError::Rejected(
        fmt::format("Physical count {} was certified by {} at {}; a certified count never "
                    "changes. Nothing was saved.",
                    number, count->certified->userName, count->certified->at));
  }
  return *count;
}

std::string StockStatusList(const ReferenceData& reference, std::vector<SqlValue>& params) {
  std::string list;
  for (const std::string& code : reference.StockStatuses()) {
    list += list.empty() ? "?" : ", ?";
    params.emplace_back(code);
  }
  return list;
}

// The book of one form type at the station: per range in stock, its numbers without a
// standing use, less the lowest ones its remaining count says are used (Store.h: a range
// whose numbers were never recorded as used counts its forms used from its lowest number up).
std::vector<BookSpan> FixBook(SqlConnection& c, const ReferenceData& reference,
                              const std::string& troop, const std::string& district,
                              const std::string& formType) {
  std::vector<SqlValue> params{troop, district, formType};
  const std::string statuses = StockStatusList(reference, params);
  const auto ranges = c.Query(
      fmt::format("SELECT frm_form_nbr, to_form_nbr, asgnd_reg_nbr, trp_actn_cd, rmng_form_cnt"
                  " FROM form_range WHERE trp_id = ? AND trp_dist_id = ? AND form_typ_cd = ?"
                  " AND trp_actn_cd IN ({}) ORDER BY frm_form_nbr",
                  statuses),
      params);
  // The station's ranges first, then each one's standing uses by number: left to its own
  // plan, SQLite walked every use of the form type and each time the station's ranges below
  // it, minutes per count on a store of a few years. CROSS JOIN is SQLite's way of fixing the
  // order; PostgreSQL reads it as the inner join it is.
  const auto used =
      c.Query(fmt::format("SELECT u.form_nbr FROM form_range r CROSS JOIN form_use u"
                          " WHERE r.trp_id = ? AND r.trp_dist_id = ? AND r.form_typ_cd = ?"
                          " AND r.trp_actn_cd IN ({}) AND u.standing = 1"
                          " AND u.form_typ_cd = r.form_typ_cd AND u.form_nbr >= r.frm_form_nbr"
                          " AND u.form_nbr <= r.to_form_nbr ORDER BY u.form_nbr",
                          statuses),
              params);
  std::vector<BookSpan> book;
  std::size_t u = 0;
  for (const SqlRow& row : ranges) {
    const std::int64_t from = Integer(row[0]);
    const std::int64_t to = Integer(row[1]);
    std::vector<BookSpan> pieces;
    std::int64_t cursor = from;
    std::int64_t unused = 0;
    for (; u < used.size() && Integer(used[u][0]) <= to; ++u) {
      const std::int64_t n = Integer(used[u][0]);
      if (n < cursor) continue;
      if (n > cursor) pieces.push_back({formType, cursor, n - 1, Integer(row[2]), Text(row[3])});
      cursor = n + 1;
    }
    if (cursor <= to) pieces.push_back({formType, cursor, to, Integer(row[2]), Text(row[3])});
    for (const BookSpan& p : pieces) unused += p.to - p.from + 1;
    std::int64_t drop = unused - Integer(row[4]);
    for (BookSpan& p : pieces) {
      const std::int64_t size = p.to - p.from + 1;
      if (drop >= size) {
        drop -= size;
        continue;
      }
      p.from += std::max<std::int64_t>(drop, 0);
      drop = 0;
      book.push_back(std::move(p));
    }
  }
  return book;
}

struct HeldSpan {
  FormRange range;
  std::int64_t version = 1;
};

// The ranges of the form type holding any number of [from, to], ascending: the last one
// starting at or below `from` and every one starting inside, both index probes.
std::vector<HeldSpan> Holding(SqlConnection& c, const std::string& formType, std::int64_t from,
                              std::int64_t to) {
  std::vector<HeldSpan> out;
  const auto below =
      c.Query(fmt::format("SELECT {}, r.row_version FROM form_range r WHERE r.form_typ_cd = ?"
                          " AND r.frm_form_nbr <= ? ORDER BY r.frm_form_nbr DESC LIMIT 1",
                          kRangeColumns),
              {formType, from});
  if (!below.empty() && Integer(below[0][2]) >= from) {
    out.push_back({RangeFromRow(below[0]), Integer(below[0][11])});
  }
  for (const SqlRow& row :
       c.Query(fmt::format("SELECT {}, r.row_version FROM form_range r WHERE r.form_typ_cd = ?"
                           " AND r.frm_form_nbr > ? AND r.frm_form_nbr <= ? ORDER BY"
                           " r.frm_form_nbr",
                           kRangeColumns),
               {formType, from, to})) {
    out.push_back({RangeFromRow(row), Integer(row[11])});
  }
  return out;
}

// `top` over `base`: both sorted and not overlapping, so is the answer.
std::vector<UnexpectedSpan> Overlay(const std::vector<UnexpectedSpan>& base,
                                    const std::vector<UnexpectedSpan>& top) {
  std::vector<UnexpectedSpan> out = top;
  std::size_t t = 0;
  for (const UnexpectedSpan& b : base) {
    while (t < top.size() && top[t].to < b.from) ++t;
    std::int64_t cursor = b.from;
    for (std::size_t k = t; k < top.size() && top[k].from <= b.to; ++k) {
      if (top[k].from > cursor) {
        UnexpectedSpan piece = b;
        piece.from = cursor;
        piece.to = top[k].from - 1;
        out.push_back(std::move(piece));
      }
      cursor = std::max(cursor, top[k].to + 1);
    }
    if (cursor <= b.to) {
      UnexpectedSpan piece = b;
      piece.from = cursor;
      out.push_back(std::move(piece));
    }
  }
  std::sort(out.begin(), out.end(),
            [](const UnexpectedSpan& a, const UnexpectedSpan& b) { return a.from < b.from; });
  return out;
}

std::string StatusWords(const ReferenceData& reference, const std::string& code) {
  for (const auto& s : reference.Statuses()) {
    if (s.code == code) return fmt::format("status {} ({})", code, s.description);
  }
  return fmt::format("status {}", code);
}

// Why the numbers of `span`, outside the count's book, would be on the count's shelf: what
// the inventory holds of them now, what was withdrawn, what was used.
std::vector<UnexpectedSpan> ReasonsFor(SqlConnection& c, const ReferenceData& reference,
                                       const PhysicalCount& count, const UnexpectedSpan& span) {
  const std::string& type = span.formType;
  std::vector<UnexpectedSpan> withdrawn;
  for (const SqlRow& row : c.Query("SELECT after_from, after_to FROM range_audit WHERE"
                                   " action = 'WDR' AND form_typ_cd = ? AND after_from <= ?"
                                   " AND after_to >= ? ORDER BY after_from",
                                   {type, span.to, span.from})) {
    const std::int64_t from = std::max(Integer(row[0]), span.from);
    const std::int64_t to = std::min(Integer(row[1]), span.to);
    // Withdrawals of one number may follow each other (taken out, received again, taken out):
    // one reason is enough.
    if (!withdrawn.empty() && from <= withdrawn.back().to) {
      withdrawn.back().to = std::max(withdrawn.back().to, to);
      continue;
    }
    withdrawn.push_back({type, from, to, UnexpectedReason::Delisted, "withdrawn"});
  }
  std::vector<UnexpectedSpan> held;
  for (const HeldSpan& h : Holding(c, type, span.from, span.to)) {
    const FormRange& r = h.range;
    UnexpectedSpan s{type, std::max(r.from, span.from), std::min(r.to, span.to),
                     UnexpectedReason::NotInBook, StationText(r.troop, r.district)};
    const bool here = r.troop == count.troop && r.district == count.district;
    if (!reference.IsStockStatus(r.status)) {
      s.reason = UnexpectedReason::Delisted;
      s.detail = fmt::format("{} at {}", StatusWords(reference, r.status), s.detail);
    } else if (!here) {
      s.reason = r.registry == kNoOfficer ? UnexpectedReason::OtherStation
                                          : UnexpectedReason::OtherOfficer;
    }
    if (r.registry != kNoOfficer) s.detail += fmt::format(", officer {}", r.registry);
    held.push_back(std::move(s));
  }
  std::vector<UnexpectedSpan> uses;
  for (const SqlRow& row :
       c.Query("SELECT form_nbr, disposition FROM form_use WHERE standing = 1 AND form_typ_cd = ?"
               " AND form_nbr >= ? AND form_nbr <= ? ORDER BY form_nbr",
               {type, span.from, span.to})) {
    const std::int64_t n = Integer(row[0]);
    const std::string detail = Lower(Text(row[1]));
    if (!uses.empty() && uses.back().to + 1 == n && uses.back().detail == detail) {
      uses.back().to = n;
    } else {
      uses.push_back({type, n, n, UnexpectedReason::Used, detail});
    }
  }
  return Overlay(Overlay(withdrawn, held), uses);
}

template <typename Span>
std::vector<Span> OfType(const std::vector<Span>& spans, const std::string& type) {
  std::vector<Span> out;
  for (const Span& s : spans) {
    if (s.formType == type) out.push_back(s);
  }
  return out;
}

// The result: of a certified count from what it kept; of an open one with the reasons read
// now.
CountResult ResultOf(SqlConnection* c, const ReferenceData& reference, const PhysicalCount& count) {
  CountResult result;
  for (const std::string& type : count.formTypes) {
    const std::vector<BookSpan> book = OfType(count.book, type);
    const std::vector<CountSpan> counted = OfType(count.counted, type);
    std::vector<UnexpectedSpan> reasons;
    if (count.certified || !c) {
      reasons = OfType(count.unexpected, type);
    } else {
      for (const UnexpectedSpan& u : CompareCount(book, counted, {}).unexpected) {
        for (UnexpectedSpan& r : ReasonsFor(*c, reference, count, u)) reasons.push_back(r);
      }
    }
    CountResult part = CompareCount(book, counted, reasons);
    for (auto& f : part.found) result.found.push_back(std::move(f));
    for (auto& m : part.missing) result.missing.push_back(std::move(m));
    for (auto& u : part.unexpected) result.unexpected.push_back(std::move(u));
  }
  return result;
}

bool Covered(const std::vector<BookSpan>& spans, std::int64_t from, std::int64_t to) {
  std::int64_t cursor = from;
  for (const BookSpan& s : spans) {
    if (s.to < cursor || s.from > cursor) continue;
    cursor = s.to + 1;
    if (cursor > to) return true;
  }
  return false;
}

void CheckText(const std::string& text, std::size_t longest, const char* what, bool required) {
  if (required && text.empty()) throw StoreError::Rejected(fmt::format("{} is required", what));
  if (text.size() > longest) {
    throw StoreError::Rejected(fmt::format("{} is at most {} characters", what, longest));
  }
}

}  // namespace

PhysicalCount SqlStore::OpenCount(const SaveContext& context, const std::string& troop,
                                  const std::string& district,
                                  const std::vector<std::string>& formTypes) {
  if (context.requestId.empty()) throw StoreError::Rejected("Opening a count needs a request id");
  if (!mReference->HasStation(troop, district)) {
    throw StoreError::Rejected(fmt::format("There is no {}", StationText(troop, district)));
  }
  if (formTypes.empty()) {
    throw StoreError::Rejected("A count is of one form type or more; none was given");
  }
  std::set<std::string> seen;
  for (const std::string& type : formTypes) {
    if (!mReference->FindFormType(type)) {
      throw StoreError::Rejected(fmt::format("The Form Type \"{}\" is not known", type));
    }
    if (!seen.insert(type).second) {
      throw StoreError::Rejected(fmt::format("The Form Type \"{}\" is given twice", type));
    }
  }
  if (!context.scope.Covers(troop, district)) {
    throw StoreError::Forbidden(fmt::format("{} may not open a count of {}", context.userName,
                                            StationText(troop, district)));
  }
  std::string joined;
  for (const std::string& type : seen) joined += (joined.empty() ? "" : ",") + type;
  std::int64_t number = 0;
  // Under the form types' locks: no save of them falls between two ranges of the book.
  WriteWith({context.requestId, {seen.begin(), seen.end()}}, [&](SqlConnection& c) {
    const auto before =
        c.Query("SELECT count_nbr FROM physical_count WHERE request_id = ?", {context.requestId});
    if (!before.empty()) {
      number = Integer(before[0][0]);
      return;
    }
    const std::string at = Now();
    number = Integer(
        c.Query("INSERT INTO physical_count (trp_id, trp_dist_id, form_types,"
                " opened_by_id, opened_by_name, opened_at, request_id)"
                " VALUES (?, ?, ?, ?, ?, ?, ?) RETURNING count_nbr",
                {troop, district, joined, context.userId, context.userName, at, context.requestId})
            .at(0)[0]);
    LinkRecord(ChainKind::Count, number);
    for (const std::string& type : seen) {
      for (const BookSpan& b : FixBook(c, *mReference, troop, district, type)) {
        c.Query(
            "INSERT INTO physical_count_book (count_nbr, form_typ_cd, frm_nbr, to_nbr, reg_nbr,"
            " status) VALUES (?, ?, ?, ?, ?, ?)",
            {number, b.formType, b.from, b.to, b.registry, b.status});
      }
    }
  });
  return *Count(number);
}

PhysicalCount SqlStore::AddCounted(const SaveContext& context, std::int64_t number,
                                   const std::vector<CountSpan>& spans) {
  if (context.requestId.empty()) throw StoreError::Rejected("Counted numbers need a request id");
  WriteWith({context.requestId, {}}, [&](SqlConnection& c) {
    const PhysicalCount count = CountToChange(c, context, number, "add to");
    if (!c.Query("SELECT 1 FROM physical_count_entry WHERE request_id = ?", {context.requestId})
             .empty()) {
      return;
    }
    for (const CountSpan& s : spans) {
      if (std::find(count.formTypes.begin(), count.formTypes.end(), s.formType) ==
          count.formTypes.end()) {
        throw StoreError::Rejected(
            fmt::format("Physical count {} counts {} only, not \"{}\"; nothing was saved", number,
                        fmt::join(count.formTypes, ", "), s.formType));
      }
      const FormTypeInfo* info = mReference->FindFormType(s.formType);
      if (s.to < s.from || s.from < info->lowest || s.to > info->highest) {
        throw StoreError::Rejected(
            fmt::format("{}-{} is not a span of {} numbers ({} to {}); nothing was saved", s.from,
                        s.to, FormTypeName(s.formType, *mReference), info->lowest, info->highest));
      }
    }
    std::vector<CountSpan> all = count.counted;
    all.insert(all.end(), spans.begin(), spans.end());
    c.Query("DELETE FROM physical_count_counted WHERE count_nbr = ?", {number});
    for (const CountSpan& s : MergeSpans(std::move(all))) {
      c.Query(
          "INSERT INTO physical_count_counted (count_nbr, form_typ_cd, frm_nbr, to_nbr)"
          " VALUES (?, ?, ?, ?)",
          {number, s.formType, s.from, s.to});
    }
    c.Query(
        "INSERT INTO physical_count_entry (request_id, count_nbr, entered_at, user_id, span_cnt)"
        " VALUES (?, ?, ?, ?, ?)",
        {context.requestId, number, Now(), context.userId,
         static_cast<std::int64_t>(spans.size())});
  });
  return *Count(number);
}

PhysicalCount SqlStore::CertifyCount(const SaveContext& context, std::int64_t number,
                                     const std::string& statement) {
  const std::string said = text::Trim(statement);
  CheckText(said, kMaxCountStatementLength, "The statement of a certification", true);
  PhysicalCount certified;
  WriteWith({context.requestId, {}}, [&](SqlConnection& c) {
    const PhysicalCount count = CountToChange(c, context, number, "certify");
    // The reasons as the inventory gives them at this instant are what is certified.
    const CountResult result = ResultOf(&c, *mReference, count);
    for (const UnexpectedSpan& u : result.unexpected) {
      c.Query(
          "INSERT INTO physical_count_unexpected (count_nbr, form_typ_cd, frm_nbr, to_nbr,"
          " reason, detail) VALUES (?, ?, ?, ?, ?, ?)",
          {number, u.formType, u.from, u.to, std::string(UnexpectedReasonKey(u.reason)), u.detail});
    }
    c.Query(
        "UPDATE physical_count SET certified_by_id = ?, certified_by_name = ?, certified_at = ?,"
        " statement = ? WHERE count_nbr = ? AND certified_at IS NULL",
        {context.userId, context.userName, Now(), said, number});
    LinkRecord(ChainKind::Certification, number);
    certified = *ReadCount(c, number);
  });
  return certified;
}

CountSettlement SqlStore::SettleCount(const SaveContext& context, std::int64_t number,
                                      const CountSettlement& asked) {
  if (context.requestId.empty()) throw StoreError::Rejected("A settlement needs a request id");
  const std::string note = text::Trim(asked.note);
  CheckText(note, kMaxCountNoteLength, "The note of a settlement", false);
  CountSettlement kept;
  WriteWith({context.requestId, {asked.formType}}, [&](SqlConnection& c) {
    const auto again =
        c.Query(fmt::format("SELECT {} FROM physical_count_settlement WHERE request_id = ?",
                            kSettlementColumns),
                {context.requestId});
    if (!again.empty()) {
      kept = SettlementFromRow(again[0]);
      return;
    }
    const auto count = ReadCount(c, number);
    if (!count) throw StoreError::Rejected(fmt::format("There is no physical count {}", number));
    const std::string station = CountStation(*count);
    if (!context.scope.Covers(count->troop, count->district)) {
      throw StoreError::Forbidden(
          fmt::format("{} may not settle count {} of {}", context.userName, number, station));
    }
    if (!count->certified) {
      throw StoreError::Rejected(fmt::format(
          "Physical count {} is not certified yet; only what a certified count found missing "
          "is settled",
          number));
    }
    const std::string span =
        fmt::format("{}-{} of {}", asked.from, asked.to, FormTypeName(asked.formType, *mReference));
    const CountResult result = ResultOf(nullptr, *mReference, *count);
    if (asked.to < asked.from ||
        !Covered(OfType(result.missing, asked.formType), asked.from, asked.to)) {
      throw StoreError::Rejected(fmt::format(
          "Physical count {} did not find {} missing; only its missing numbers are settled", number,
          span));
    }
    for (const CountSettlement& s : count->settlements) {
      if (s.formType == asked.formType && s.from <= asked.to && asked.from <= s.to) {
        throw StoreError::Rejected(fmt::format("{}-{} of physical count {} was settled by {} at {}",
                                               s.from, s.to, number, s.userName, s.at));
      }
    }
    if (asked.kind == SettlementKind::Lost) {
      const std::vector<HeldSpan> held = Holding(c, asked.formType, asked.from, asked.to);
      std::int64_t cursor = asked.from;
      const std::string lostCode = [&] {
        for (const auto& s : mReference->Statuses()) {
          if (Lower(s.description).rfind("lost", 0) == 0) return s.code;
        }
        throw StoreError::Rejected("The reference data knows no status described \"Lost\"");
      }();
      std::vector<RangeChange> changes;
      for (const HeldSpan& h : held) {
        const FormRange& r = h.range;
        if (r.from > cursor || r.troop != count->troop || r.district != count->district ||
            !mReference->IsStockStatus(r.status)) {
          throw StoreError::Rejected(fmt::format(
              "{} is no longer all held in stock by {}, as the count's book had it; settle it "
              "as found later, or change the ranges first. Nothing was saved.",
              span, station));
        }
        const std::int64_t from = std::max(r.from, asked.from);
        const std::int64_t to = std::min(r.to, asked.to);
        const auto row = [&](RangeChange::Action action, std::int64_t a, std::int64_t z,
                             const std::string& status, std::optional<std::string> comment) {
          RangeChange ch;
          ch.action = action;
          ch.formType = r.formType;
          ch.from = a;
          ch.to = z;
          ch.troop = r.troop;
          ch.district = r.district;
          ch.registry = r.registry;
          ch.status = status;
          ch.quarter = r.quarter;
          ch.year = r.year;
          ch.comment = std::move(comment);
          if (action == RangeChange::Action::Update) ch.rowVersion = h.version;
          return ch;
        };
        std::string comment = fmt::format("Lost: physical count {}", number);
        if (!note.empty()) comment += ": " + note;
        if (comment.size() > kMaxCommentLength) comment.resize(kMaxCommentLength);
        if (r.from < from) {
          changes.push_back(
              row(RangeChange::Action::Update, r.from, from - 1, r.status, r.comment));
          changes.push_back(row(RangeChange::Action::Add, from, to, lostCode, comment));
        } else {
          changes.push_back(row(RangeChange::Action::Update, from, to, lostCode, comment));
        }
        if (to < r.to) {
          changes.push_back(row(RangeChange::Action::Add, to + 1, r.to, r.status, r.comment));
        }
        cursor = to + 1;
      }
      if (cursor <= asked.to) {
        throw StoreError::Rejected(fmt::format(
            "{} is no longer all held in stock by {}, as the count's book had it; settle it as "
            "found later, or change the ranges first. Nothing was saved.",
            span, station));
      }
      ApplyOn(c, context, changes);
    }
    kept = asked;
    kept.note = note;
    kept.userId = context.userId;
    kept.userName = context.userName;
    kept.at = Now();
    kept.requestId = context.requestId;
    // Numbered here, not by the database: SQLite and PostgreSQL number alike, one writer at
    // a time.
    const std::int64_t settlement = Integer(
        c.Query("SELECT coalesce(max(settlement_id), 0) + 1 FROM physical_count_settlement", {})
            .at(0)[0]);
    c.Query(fmt::format("INSERT INTO physical_count_settlement (settlement_id, count_nbr, {})"
                        " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                        kSettlementColumns),
            {settlement, number, kept.formType, kept.from, kept.to,
             std::string(SettlementKey(kept.kind)), kept.note, kept.userId, kept.userName, kept.at,
             kept.requestId});
    LinkRecord(ChainKind::Settlement, settlement);
  });
  return kept;
}

std::optional<PhysicalCount> SqlStore::Count(std::int64_t number) {
  return Read([&](SqlConnection& c) { return ReadCount(c, number); });
}

CountResult SqlStore::CountResultOf(const PhysicalCount& count) {
  return Read([&](SqlConnection& c) { return ResultOf(&c, *mReference, count); });
}

std::vector<CountSummary> SqlStore::Counts() {
  std::vector<CountSummary> out;
  for (const SqlRow& row :
       ReadRows(fmt::format("SELECT {} FROM physical_count ORDER BY count_nbr DESC", kCountColumns),
                {})) {
    PhysicalCount head = CountHead(row);
    out.push_back({head.number, head.troop, head.district, head.formTypes, head.openedBy,
                   head.openedAt, head.certified});
  }
  return out;
}

std::vector<CountOfForm> SqlStore::CountsOf(const std::string& formType, std::int64_t number) {
  return Read([&](SqlConnection& c) {
    std::vector<CountOfForm> out;
    const auto counts = c.Query(
        "SELECT count_nbr FROM physical_count WHERE certified_at IS NOT NULL AND count_nbr IN ("
        "SELECT count_nbr FROM physical_count_book WHERE form_typ_cd = ? AND frm_nbr <= ? AND"
        " to_nbr >= ? UNION SELECT count_nbr FROM physical_count_counted WHERE form_typ_cd = ?"
        " AND frm_nbr <= ? AND to_nbr >= ?) ORDER BY count_nbr",
        {formType, number, number, formType, number, number});
    for (const SqlRow& row : counts) {
      const std::int64_t n = Integer(row[0]);
      const auto head = c.Query(
          fmt::format("SELECT {} FROM physical_count WHERE count_nbr = ?", kCountColumns), {n});
      const PhysicalCount count = CountHead(head.at(0));
      const auto spansAt = [&](const char* table, const char* extra) {
        return c.Query(fmt::format("SELECT frm_nbr, to_nbr{} FROM {} WHERE count_nbr = ? AND"
                                   " form_typ_cd = ? AND frm_nbr <= ? AND to_nbr >= ?",
                                   extra, table),
                       {n, formType, number, number});
      };
      const bool inBook = !spansAt("physical_count_book", "").empty();
      const bool counted = !spansAt("physical_count_counted", "").empty();
      CountOfForm line{n,
                       count.troop,
                       count.district,
                       count.certified->at,
                       count.certified->userName,
                       inBook ? (counted ? "found" : "missing") : ""};
      if (!inBook) {
        const auto why = spansAt("physical_count_unexpected", ", reason");
        line.outcome =
            why.empty() ? UnexpectedReasonKey(UnexpectedReason::NeverReceived) : Text(why[0][2]);
      }
      const auto settled =
          c.Query(fmt::format("SELECT {} FROM physical_count_settlement WHERE count_nbr = ? AND"
                              " form_typ_cd = ? AND frm_nbr <= ? AND to_nbr >= ?",
                              kSettlementColumns),
                  {n, formType, number, number});
      if (!settled.empty()) line.settlement = SettlementFromRow(settled[0]);
      out.push_back(std::move(line));
    }
    return out;
  });
}

std::vector<StationCount> SqlStore::LastCounts() {
  std::vector<StationCount> out;
  for (const SqlRow& row : ReadRows("SELECT trp_id, trp_dist_id, count_nbr, certified_at FROM"
                                    " physical_count WHERE certified_at IS NOT NULL"
                                    " ORDER BY trp_id, trp_dist_id, certified_at DESC,"
                                    " count_nbr DESC",
                                    {})) {
    if (!out.empty() && out.back().troop == Text(row[0]) && out.back().district == Text(row[1])) {
      continue;
    }
    out.push_back({Text(row[0]), Text(row[1]), Integer(row[2]), Text(row[3])});
  }
  return out;
}

}  // namespace fm::server

// The use records of SqlStore (Store.h, docs/usage.md): recording a batch, an administrator's
// correction, and the reads of uses and conflicts. The statements are written once for both
// backends, as in SqlStore.cpp.

#include "server/store/UseStore.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <algorithm>

#include "base/Text.h"
#include "server/store/ChangeRules.h"
#include "server/store/RecordChain.h"
#include "server/store/ReferenceData.h"
#include "server/store/SqlStore.h"
#include "server/store/StationScope.h"
#include "server/store/StoreError.h"
#include "server/store/UseChecks.h"

namespace fm::server {

namespace {

using protocol::FormUse;
using protocol::UsageOutcome;
using protocol::UseLineProblem;

// Rows staged per bulk insert: bounds the memory of a batch of any size.
constexpr std::size_t kStageRows = 5000;

// Thrown out of a write to undo it (a batch with bad lines found in the database, or a
// preview) and answer the outcome instead.
struct Undo {
  UsageOutcome outcome;
};

void AddProblem(std::vector<UseLineProblem>& listed, std::int64_t& count, std::size_t limit,
                std::int64_t line, std::string message) {
  ++count;
  if (listed.size() < limit) listed.push_back({line, std::move(message)});
}

// The columns of a use as ForEachUse reads them (UseFromRow's order).
constexpr const char* kUseColumns =
    "u.use_id, u.form_typ_cd, u.form_nbr, u.disposition, u.used_on, u.reg_nbr, u.reference,"
    " u.note, i.file_name, i.file_hash, u.source_text, u.recorded_by_id, u.recorded_by_name,"
    " u.recorded_at";

void AssignText(const SqlValue& v, std::string& out) {
  if (const auto* s = std::get_if<std::string>(&v)) {
    out.assign(*s);
  } else {
    out = SqlText(v);
  }
}

protocol::Disposition DispositionOf(const SqlValue& key, std::int64_t id) {
  const auto* text = std::get_if<std::string>(&key);
  const std::string disposition = text ? std::string() : SqlText(key);
  const auto known = protocol::DispositionFromKey(text ? *text : disposition);
  if (!known) {
    throw StoreError::Internal(
        fmt::format("use {} has the disposition \"{}\", which this server does not know", id,
                    text ? *text : disposition));
  }
  return *known;
}

// The first six columns of kUseColumns, what a brief read takes.
void MarkFromRow(const SqlRow& row, FormUse& u) {
  u.id = SqlInteger(row[0]);
  AssignText(row[1], u.formType);
  u.number = SqlInteger(row[2]);
  u.disposition = DispositionOf(row[3], u.id);
  AssignText(row[4], u.usedOn);
  u.registry = SqlInteger(row[5]);
}

// The 14 columns of kUseColumns into `u`, which keeps its capacity from record to record.
void UseFromRow(const SqlRow& row, FormUse& u) {
  MarkFromRow(row, u);
  AssignText(row[6], u.reference);
  AssignText(row[7], u.note);
  AssignText(row[8], u.source.fileName);
  AssignText(row[9], u.source.fileHash);
  AssignText(row[10], u.sourceText);
  u.recordedById = SqlInteger(row[11]);
  AssignText(row[12], u.recordedBy);
  AssignText(row[13], u.recordedAt);
}

// A brief read's columns of `alias` (UseReading::brief): MarkFromRow's, then standing.
std::string BriefColumns(const char* alias) {
  return fmt::format(
      "{0}.use_id, {0}.form_typ_cd, {0}.form_nbr, {0}.disposition, {0}.used_on, {0}.reg_nbr,"
      " {0}.standing",
      alias);
}

// The conditions of a query on the table aliased `alias`, with their parameters.
std::string UseConditions(const UseQuery& q, const UseReading& reading, const char* alias,
                          std::vector<SqlValue>& params) {
  std::string where = " WHERE 1 = 1";
  if (!q.formType.empty()) {
    where += fmt::format(" AND {}.form_typ_cd = ?", alias);
    params.emplace_back(q.formType);
  }
  if (q.from) {
    where += fmt::format(" AND {}.form_nbr >= ?", alias);
    params.emplace_back(*q.from);
  }
  if (q.to) {
    where += fmt::format(" AND {}.form_nbr <= ?", alias);
    params.emplace_back(*q.to);
  }
  std::vector<std::int64_t> officers = reading.registries;
  if (q.registry) officers.push_back(*q.registry);
  if (!officers.empty()) {
    where += fmt::format(" AND {}.reg_nbr IN (?", alias);
    for (std::size_t i = 1; i < officers.size(); ++i) where += ", ?";
    where += ")";
    for (std::int64_t officer : officers) params.emplace_back(officer);
  }
  for (const TypeSpan& span : reading.excluded) {
    where += fmt::format(" AND NOT ({0}.form_typ_cd = ? AND {0}.form_nbr BETWEEN ? AND ?)", alias);
    params.emplace_back(span.formType);
    params.emplace_back(span.from);
    params.emplace_back(span.to);
  }
  return where;
}

// "ISSUED on 2026-11-02 by officer 1001 (reference C-77)": a use as a conflict names it.
std::string UseWords(const SqlValue& disposition, const SqlValue& day, const SqlValue& registry,
                     const SqlValue& reference) {
  std::string words = fmt::format("{} on {}", SqlText(disposition), SqlText(day));
  if (SqlInteger(registry) != 0) words += fmt::format(" by officer {}", SqlInteger(registry));
  if (!SqlText(reference).empty()) words += fmt::format(" (reference {})", SqlText(reference));
  return words;
}

// The ranges holding the uses from `firstId` on count their size less their standing uses.
// Only ranges that do hold such a use are counted anew: a range none of whose numbers was
// used keeps the count people recorded. The ranges are found per form type by whichever
// takes fewer index probes: from each new use, the range holding it; or from each range
// between the lowest and the highest new number, whether it holds one. Every probe is a
// scalar subquery, so that no plan can join tables filled in this very transaction (whose
// statistics still say empty) by scanning them.
void CountUsesOfRanges(SqlConnection& c, std::int64_t firstId) {
  constexpr const char* kCount =
      "UPDATE form_range SET rmng_form_cnt = form_range.to_form_nbr - form_range.frm_form_nbr"
      " + 1 - t.used FROM (SELECT h.range_id, (SELECT count(*) FROM form_use u"
      "   WHERE u.standing = 1 AND u.form_typ_cd = h.form_typ_cd"
      "   AND u.form_nbr >= h.frm_form_nbr AND u.form_nbr <= h.to_form_nbr) AS used"
      "   FROM form_range h WHERE {}) t"
      " WHERE form_range.range_id = t.range_id AND t.used > 0";
  const auto types = c.Query(
      "SELECT form_typ_cd, min(form_nbr), max(form_nbr), count(*) FROM form_use"
      " WHERE use_id >= ? GROUP BY form_typ_cd",
      {firstId});
  for (const auto& type : types) {
    const SqlValue& code = type[0];
    const std::int64_t ranges = SqlInteger(
        c.Query("SELECT count(*) FROM form_range WHERE form_typ_cd = ? AND frm_form_nbr <= ?"
                " AND to_form_nbr >= ?",
                {code, type[2], type[1]})
            .at(0)
            .at(0));
    if (SqlInteger(type[3]) <= ranges) {
      c.Query(fmt::format(kCount,
                          "h.range_id IN (SELECT (SELECT n.range_id FROM form_range n"
                          " WHERE n.form_typ_cd = x.form_typ_cd AND n.frm_form_nbr <= x.form_nbr"
                          " ORDER BY n.frm_form_nbr DESC LIMIT 1) FROM form_use x"
                          " WHERE x.use_id >= ? AND x.form_typ_cd = ?)"),
              {firstId, code});
    } else {
      c.Query(fmt::format(kCount,
                          "h.form_typ_cd = ? AND h.frm_form_nbr <= ? AND h.to_form_nbr >= ?"
                          " AND (SELECT 1 FROM form_use x WHERE x.form_typ_cd = h.form_typ_cd"
                          " AND x.form_nbr >= h.frm_form_nbr AND x.form_nbr <= h.to_form_nbr"
                          " AND x.use_id >= ? LIMIT 1) = 1"),
              {code, type[2], type[1], firstId});
    }
  }
}

std::int64_t MaxId(SqlConnection& c, const char* sql) {
  auto rows = c.Query(sql, {});
  return rows.empty() ? 0 : SqlOptInteger(rows[0][0]).value_or(0);
}

// Lines whose number a clerk's stations do not hold (nor held when it was withdrawn) are bad
// lines: a clerk records the uses of its own stations' forms.
void CheckUsesInScope(SqlConnection& c, const StationScope& scope, const ReferenceData& reference,
                      std::size_t listed, UsageOutcome& outcome) {
  c.QueryEach(
      "SELECT s.line_nbr, s.form_typ_cd, s.form_nbr, h.trp_id, h.trp_dist_id,"
      " CASE WHEN h.range_id IS NULL THEN (SELECT w.before_trp_id || '/' || w.before_trp_dist_id"
      "   FROM range_audit w WHERE w.form_typ_cd = s.form_typ_cd AND w.event = 'WITHDRAW'"
      "   AND w.after_from <= s.form_nbr AND w.after_to >= s.form_nbr"
      "   ORDER BY w.audit_id DESC LIMIT 1) END"
      " FROM form_use_stage s LEFT JOIN form_range h ON h.range_id = (SELECT n.range_id"
      "   FROM form_range n WHERE n.form_typ_cd = s.form_typ_cd AND n.frm_form_nbr <= s.form_nbr"
      "   ORDER BY n.frm_form_nbr DESC LIMIT 1) AND h.to_form_nbr >= s.form_nbr"
      " ORDER BY s.line_nbr",
      {}, [&](const SqlRow& row) {
        const std::string form = fmt::format("number {} of {}", SqlInteger(row[2]),
                                             FormTypeName(SqlText(row[1]), reference));
        std::string problem;
        if (!std::holds_alternative<std::monostate>(row[3])) {
          const std::string troop = SqlText(row[3]);
          const std::string district = SqlText(row[4]);
          if (!scope.Covers(troop, district)) {
            problem = fmt::format("{} is held by {}, outside your account's stations ({})", form,
                                  StationText(troop, district), scope.Text());
          }
        } else if (!std::holds_alternative<std::monostate>(row[5])) {
          const std::string last = SqlText(row[5]);
          const std::size_t slash = last.find('/');
          const std::string troop = last.substr(0, slash);
          const std::string district = last.substr(slash + 1);
          if (!scope.Covers(troop, district)) {
            problem = fmt::format("{} was withdrawn from {}, outside your account's stations ({})",
                                  form, StationText(troop, district), scope.Text());
          }
        } else {
          problem =
              fmt::format("no range holds or held {}; only an administrator records its use", form);
        }
        if (!problem.empty()) {
          AddProblem(outcome.badLines, outcome.badLineCount, listed, SqlInteger(row[0]),
                     std::move(problem));
        }
        return true;
      });
}

// The checked lines of the batch being recorded go into a temporary table of the connection
// (never logged, seen by no other session), copied from form_use so that its columns compare
// with it as they are (PostgreSQL's collation included), and indexed once filled: one sort
// instead of a million inserts at random places.
// What PostgreSQL may give one import's sorts, joins and index build (work_mem and
// maintenance_work_mem); the stage of a million lines and its index are about 160 MB.
constexpr int kImportWorkMemoryMb = 256;
constexpr const char* kStageColumns[] = {"form_typ_cd", "form_nbr", "line_nbr",  "disposition",
                                         "used_on",     "reg_nbr",  "reference", "note"};
void CreateStage(SqlConnection& c) {
  c.Query("DROP TABLE IF EXISTS form_use_stage", {});
  c.Query(
      "CREATE TEMP TABLE form_use_stage AS SELECT form_typ_cd, form_nbr, line_nbr, disposition,"
      " used_on, reg_nbr, reference, note FROM form_use WHERE 1 = 0",
      {});
}
void IndexStage(SqlConnection& c) {
  c.Query(
      "CREATE INDEX form_use_stage_number ON form_use_stage (form_typ_cd, form_nbr, line_nbr,"
      " disposition, used_on, reg_nbr, reference, note)",
      {});
  c.Query("ANALYZE form_use_stage", {});
}

}  // namespace

// --- Counts of saves and withdrawals --------------------------------------------------------

std::int64_t StandingUsesIn(SqlConnection& c, const std::string& formType, std::int64_t from,
                            std::int64_t to) {
  auto rows = c.Query(
      "SELECT count(*) FROM form_use WHERE standing = 1 AND form_typ_cd = ? AND form_nbr >= ?"
      " AND form_nbr <= ?",
      {formType, from, to});
  return SqlInteger(rows.at(0).at(0));
}

void UseAwareCounter::Replaced(const FormRange& stored) {
  mCounter.Replaced(stored);
  if (StandingUsesIn(mConnection, stored.formType, stored.from, stored.to) > 0) {
    mFollowingUses.push_back(stored);
  }
}

std::int64_t UseAwareCounter::RemainingFor(const std::string& formType, std::int64_t from,
                                           std::int64_t to) const {
  const std::int64_t used = StandingUsesIn(mConnection, formType, from, to);
  const bool follows =
      used > 0 || std::any_of(mFollowingUses.begin(), mFollowingUses.end(), [&](const auto& r) {
        return r.formType == formType && r.from <= to && from <= r.to;
      });
  return follows ? to - from + 1 - used : mCounter.RemainingFor(formType, from, to);
}

// --- Reads -----------------------------------------------------------------------------------

std::vector<FormUse> Store::UsesIn(const std::string& formType, std::int64_t from, std::int64_t to,
                                   bool standingOnly) {
  std::vector<FormUse> uses;
  UseQuery query;
  query.formType = formType;
  query.from = from;
  query.to = to;
  query.standingOnly = standingOnly;
  ForEachUse(query, [&](const FormUse& use, std::size_t index) {
    if (index == 0) uses.clear();
    uses.push_back(use);
    return true;
  });
  return uses;
}

std::vector<FormUse> Store::UsesOf(const std::string& formType, std::int64_t number) {
  return UsesIn(formType, number, number, false);
}

void SqlStore::ForEachUse(const UseQuery& query, const UseVisitor& each) {
  ForEachUseWith(query, {}, each);
}

void SqlStore::ForEachUseWith(const UseQuery& query, const UseReading& reading,
                              const UseVisitor& each) {
  std::vector<SqlValue> params;
  // The spans to seek, which the statement walks before each span's numbers: SQLite's
  // json_each of an array of [from, to], PostgreSQL's unnest of the arrays of froms and tos
  // (a tenth of a troop's read went to parsing the JSON). First in the statement, so first
  // among its parameters.
  std::string uses = "form_use u";
  std::string within;
  UseQuery bounds = query;
  if (!reading.within.empty()) {
    // The spans bound the numbers; the query's own bounds as well would let SQLite seek by
    // those instead, reading the whole of them once per span.
    bounds.from.reset();
    bounds.to.reset();
    if (query.formType.empty()) {
      throw StoreError::Internal("a read of uses within spans needs their form type");
    }
    if (mBackend.name == "postgresql") {
      std::string froms = "{";
      std::string tos = "{";
      for (const TypeSpan& span : reading.within) {
        const char* comma = froms.size() > 1 ? "," : "";
        froms += fmt::format("{}{}", comma, span.from);
        tos += fmt::format("{}{}", comma, span.to);
      }
      params.emplace_back(froms + "}");
      params.emplace_back(tos + "}");
      // Left to itself PostgreSQL may scan the form type's uses and try every span against
      // each (minutes at a million uses): the LATERAL subquery, kept whole by OFFSET 0, makes
      // it seek each span's numbers in the index. A brief read takes only what that index
      // holds (migration 15), so that the rows come without a visit to the table.
      uses = fmt::format(
          "unnest(CAST(? AS BIGINT[]), CAST(? AS BIGINT[])) s(lo, hi) CROSS JOIN LATERAL"
          " (SELECT {} FROM form_use w WHERE w.form_typ_cd = ? AND w.form_nbr >= s.lo"
          " AND w.form_nbr <= s.hi{} OFFSET 0) u",
          reading.brief ? BriefColumns("w") : "*", query.standingOnly ? " AND w.standing = 1" : "");
      params.emplace_back(query.formType);
    } else {
      std::string json = "[";
      for (const TypeSpan& span : reading.within) {
        json += fmt::format("{}[{},{}]", json.size() > 1 ? "," : "", span.from, span.to);
      }
      params.emplace_back(json + "]");
      uses = "json_each(?) j CROSS JOIN form_use u";
      within =
          " AND u.form_nbr >= CAST(j.value->>0 AS BIGINT)"
          " AND u.form_nbr <= CAST(j.value->>1 AS BIGINT)";
    }
  }
  std::string sql = reading.brief
                        ? fmt::format("SELECT {} FROM {}{}", BriefColumns("u"), uses,
                                      UseConditions(bounds, reading, "u", params))
                        : fmt::format(
                              "SELECT {}, u.supersedes_id, u.correction_reason, u.standing FROM {}"
                              " LEFT JOIN form_use_import i ON i.import_id = u.import_id{}",
                              kUseColumns, uses, UseConditions(bounds, reading, "u", params));
  sql += within;
  if (query.standingOnly) sql += " AND u.standing = 1";
  if (reading.ordered) sql += " ORDER BY u.form_typ_cd, u.form_nbr, u.use_id";
  FormUse use;
  if (reading.brief) {
    ReadEach(sql, params, [&](const SqlRow& row, std::size_t index) {
      MarkFromRow(row, use);
      use.standing = SqlInteger(row[6]) == 1;
      return each(use, index);
    });
    return;
  }
  ReadEach(sql, params, [&](const SqlRow& row, std::size_t index) {
    UseFromRow(row, use);
    use.supersedes = SqlOptInteger(row[14]);
    AssignText(row[15], use.correctionReason);
    use.standing = SqlInteger(row[16]) == 1;
    return each(use, index);
  });
}

void SqlStore::ForEachUseConflict(const UseQuery& query, const UseConflictVisitor& each) {
  std::vector<SqlValue> params;
  const std::string sql = fmt::format(
      "SELECT {}, u.line_nbr, u.contradicts_id FROM form_use_conflict u"
      " LEFT JOIN form_use_import i ON i.import_id = u.import_id{}"
      " ORDER BY u.form_typ_cd, u.form_nbr, u.conflict_id",
      std::string(kUseColumns).replace(0, 8, "u.conflict_id"),
      UseConditions(query, {}, "u", params));
  UseConflict conflict;
  conflict.reported.standing = false;
  ReadEach(sql, params, [&](const SqlRow& row, std::size_t index) {
    UseFromRow(row, conflict.reported);
    conflict.id = conflict.reported.id;
    conflict.reported.id = 0;
    conflict.line = SqlInteger(row[14]);
    conflict.contradicts = SqlInteger(row[15]);
    return each(conflict, index);
  });
}

// --- Recording a batch -------------------------------------------------------------------------

protocol::UsageOutcome SqlStore::RecordUses(const SaveContext& context, const UseBatch& batch) {
  const UsageLimits& limits = batch.rules.limits;
  const std::string sourceText = text::Trim(batch.sourceText);
  if (sourceText.empty()) {
    throw StoreError::Rejected(
        "Uses need a source saying where they come from (the e-citation system, the court's "
        "export, who handed the forms back); nothing was recorded.");
  }
  for (const auto& [caption, value] : {std::pair{"The source", batch.sourceText},
                                       std::pair{"The file name", batch.source.fileName}}) {
    if (std::string problem = TextProblem(caption, value, limits.fieldLength); !problem.empty()) {
      throw StoreError::Rejected(problem + "; nothing was recorded.");
    }
  }
  if (context.requestId.empty()) {
    throw StoreError::Rejected("Recording uses needs a request id; nothing was recorded.");
  }
  const bool fromFile = !batch.source.fileHash.empty();
  UsageOutcome checked;
  checked.preview = batch.preview;
  const std::string earlierSql =
      "SELECT file_name, recorded_at, recorded_by_name FROM form_use_import WHERE file_hash = ?";
  auto sameFile = [&](const std::vector<SqlRow>& rows) {
    if (rows.empty()) return false;
    checked.sameFileAgain = true;
    checked.previousFileName = SqlText(rows[0][0]);
    checked.previousRecordedAt = SqlText(rows[0][1]);
    checked.previousRecordedBy = SqlText(rows[0][2]);
    return true;
  };
  if (fromFile && sameFile(ReadRows(earlierSql, {batch.source.fileHash}))) return checked;

  // Every line is checked before the write begins: a bad file holds no lock.
  std::vector<std::string> formTypes;
  std::vector<std::string> problems;
  batch.lines([&](const UseLine& line) {
    ++checked.lines;
    problems.clear();
    if (!line.problem.empty()) {
      problems.push_back(line.problem);
    } else if (auto use = CheckUse(line.use, *mReference, batch.rules, problems)) {
      if (std::find(formTypes.begin(), formTypes.end(), use->formType) == formTypes.end()) {
        formTypes.push_back(use->formType);
      }
      return;
    }
    AddProblem(checked.badLines, checked.badLineCount, limits.listedLines, line.line,
               JoinProblems(problems));
  });
  if (checked.badLineCount > 0 || checked.lines == 0) return checked;
  std::sort(formTypes.begin(), formTypes.end());

  UsageOutcome outcome;
  try {
    WriteWith({context.requestId, formTypes}, [&](SqlConnection& c) {
      outcome = checked;
      // A server of the same database may have imported the file since the check above.
      if (fromFile && sameFile(c.Query(earlierSql, {batch.source.fileHash}))) {
        outcome = checked;
        return;
      }
      const std::string at = Now();
      const std::vector<std::string> stageColumns(std::begin(kStageColumns),
                                                  std::end(kStageColumns));
      if (mBackend.name == "postgresql") {
        // A million staged lines: their index is built and their joins and sort are done in
        // memory, for this transaction alone, instead of in files of a few megabytes each.
        c.Query(fmt::format("SET LOCAL work_mem = '{}MB'", kImportWorkMemoryMb), {});
        c.Query(fmt::format("SET LOCAL maintenance_work_mem = '{}MB'", kImportWorkMemoryMb), {});
      }
      CreateStage(c);
      std::vector<SqlRow> rows;
      rows.reserve(kStageRows);
      batch.lines([&](const UseLine& line) {
        problems.clear();
        auto use = line.problem.empty() ? CheckUse(line.use, *mReference, batch.rules, problems)
                                        : std::nullopt;
        if (!use) {
          throw StoreError::Rejected(fmt::format(
              "The uses changed while they were being recorded (line {} is bad now); nothing "
              "was recorded.",
              line.line));
        }
        rows.push_back({use->formType, use->number, line.line,
                        std::string(protocol::DispositionKey(use->disposition)), use->usedOn,
                        use->registry, use->reference, use->note});
        if (rows.size() == kStageRows) {
          c.BulkInsert("form_use_stage", stageColumns, rows);
          rows.clear();
        }
      });
      if (!rows.empty()) c.BulkInsert("form_use_stage", stageColumns, rows);
      rows = {};
      IndexStage(c);

      if (!context.scope.IsEverywhere()) {
        CheckUsesInScope(c, context.scope, *mReference, limits.listedLines, outcome);
        if (outcome.badLineCount > 0) throw Undo{outcome};
      }
      SqlValue importId;
      if (fromFile) {
        c.Query(
            "INSERT INTO form_use_import (file_name, file_hash, source_text, lines, recorded,"
            " already, conflicts, recorded_by_id, recorded_by_name, recorded_at, request_id)"
            " VALUES (?, ?, ?, ?, 0, 0, 0, ?, ?, ?, ?)",
            {batch.source.fileName, batch.source.fileHash, sourceText, outcome.lines,
             context.userId, context.userName, at, context.requestId});
        importId = c.Query("SELECT import_id FROM form_use_import WHERE file_hash = ?",
                           {batch.source.fileHash})
                       .at(0)
                       .at(0);
      }
      const std::int64_t firstUse = MaxId(c, "SELECT max(use_id) FROM form_use") + 1;
      const std::int64_t firstConflict =
          MaxId(c, "SELECT max(conflict_id) FROM form_use_conflict") + 1;
      if (fromFile) LinkRecord(ChainKind::UseImport, SqlInteger(importId));
      LinkRecordsFrom(ChainKind::Use, firstUse);
      LinkRecordsFrom(ChainKind::UseConflict, firstConflict);
      // A line that differs from the use standing already is a conflict; either way the line
      // is done with.
      const std::string conflictSql =
          "INSERT INTO form_use_conflict (form_typ_cd, form_nbr, disposition, used_on, reg_nbr,"
          " reference, note, source_text, import_id, line_nbr, contradicts_id, recorded_by_id,"
          " recorded_by_name, recorded_at, request_id)"
          " SELECT s.form_typ_cd, s.form_nbr, s.disposition, s.used_on, s.reg_nbr, s.reference,"
          " s.note, ?, ?, s.line_nbr, u.use_id, ?, ?, ?, ? FROM {} s"
          " JOIN form_use u ON u.form_typ_cd = s.form_typ_cd AND u.form_nbr = s.form_nbr"
          "  AND u.standing = 1"
          " WHERE u.use_id {} ? AND u.line_nbr <> s.line_nbr"
          " AND NOT (u.disposition = s.disposition AND u.used_on = s.used_on"
          "  AND u.reg_nbr = s.reg_nbr AND u.reference = s.reference)"
          " ORDER BY s.form_typ_cd, s.form_nbr, s.line_nbr";
      const std::vector<SqlValue> stamp = {sourceText,       importId, context.userId,
                                           context.userName, at,       context.requestId};
      auto with = [&](SqlValue last) {
        std::vector<SqlValue> params = stamp;
        params.push_back(std::move(last));
        return params;
      };
      // Before this batch no use has an id as great as firstUse: "< firstUse" is every earlier
      // use, whatever line it came from.
      c.Query(fmt::format(fmt::runtime(conflictSql), "form_use_stage", "<"), with(firstUse));
      c.Query(
          "DELETE FROM form_use_stage WHERE EXISTS (SELECT 1 FROM form_use u"
          " WHERE u.form_typ_cd = form_use_stage.form_typ_cd"
          " AND u.form_nbr = form_use_stage.form_nbr AND u.standing = 1)",
          {});
      // Of the lines left, a number's first line stands. The lines after it are moved apart
      // first: the rest go in as they are, and only those few are compared with the use that
      // stands then, rather than every line of the batch.
      c.Query("DROP TABLE IF EXISTS form_use_later", {});
      c.Query(
          "CREATE TEMP TABLE form_use_later AS SELECT s.form_typ_cd, s.form_nbr, s.line_nbr,"
          " s.disposition, s.used_on, s.reg_nbr, s.reference, s.note FROM form_use_stage s"
          " WHERE EXISTS (SELECT 1 FROM form_use_stage e WHERE e.form_typ_cd = s.form_typ_cd"
          " AND e.form_nbr = s.form_nbr AND e.line_nbr < s.line_nbr)",
          {});
      const bool repeated = !c.Query("SELECT 1 FROM form_use_later LIMIT 1", {}).empty();
      if (repeated) {
        c.Query("ANALYZE form_use_later", {});
        c.Query(
            "DELETE FROM form_use_stage WHERE EXISTS (SELECT 1 FROM form_use_later l"
            " WHERE l.form_typ_cd = form_use_stage.form_typ_cd"
            " AND l.form_nbr = form_use_stage.form_nbr AND l.line_nbr = form_use_stage.line_nbr)",
            {});
      }
      c.Query(
          "INSERT INTO form_use (form_typ_cd, form_nbr, disposition, used_on, reg_nbr,"
          " reference, note, source_text, import_id, line_nbr, recorded_by_id, recorded_by_name,"
          " recorded_at, request_id, standing)"
          " SELECT s.form_typ_cd, s.form_nbr, s.disposition, s.used_on, s.reg_nbr, s.reference,"
          " s.note, ?, ?, s.line_nbr, ?, ?, ?, ?, 1 FROM form_use_stage s"
          " ORDER BY s.form_typ_cd, s.form_nbr",
          stamp);
      // The lines after it that differ from it are conflicts.
      if (repeated) {
        c.Query(fmt::format(fmt::runtime(conflictSql), "form_use_later", ">="), with(firstUse));
      }
      c.Query("DROP TABLE form_use_later", {});
      outcome.recorded = SqlInteger(
          c.Query("SELECT count(*) FROM form_use WHERE use_id >= ?", {firstUse}).at(0).at(0));
      outcome.conflictCount = SqlInteger(
          c.Query("SELECT count(*) FROM form_use_conflict WHERE conflict_id >= ?", {firstConflict})
              .at(0)
              .at(0));
      outcome.alreadyRecorded = outcome.lines - outcome.recorded - outcome.conflictCount;
      for (const auto& row :
           c.Query("SELECT k.line_nbr, k.form_typ_cd, k.form_nbr, k.disposition, k.used_on,"
                   " k.reg_nbr, k.reference, u.disposition, u.used_on, u.reg_nbr, u.reference,"
                   " u.recorded_at, u.line_nbr, i.file_name, u.use_id"
                   " FROM form_use_conflict k JOIN form_use u ON u.use_id = k.contradicts_id"
                   " LEFT JOIN form_use_import i ON i.import_id = u.import_id"
                   " WHERE k.conflict_id >= ? ORDER BY k.line_nbr LIMIT ?",
                   {firstConflict, static_cast<std::int64_t>(limits.listedLines)})) {
        std::string from;
        if (SqlInteger(row[14]) >= firstUse) {
          from = fmt::format("line {} of these uses", SqlInteger(row[12]));
        } else if (!SqlText(row[13]).empty()) {
          from = fmt::format("line {} of {} on {}", SqlInteger(row[12]), SqlText(row[13]),
                             SqlText(row[11]));
        } else {
          from = fmt::format("a record of {}", SqlText(row[11]));
        }
        outcome.conflicts.push_back(
            {SqlInteger(row[0]),
             fmt::format("form {} of {} is reported {}, but it stands as {} (from {}); the "
                         "report is kept apart and changes nothing",
                         SqlInteger(row[2]), FormTypeName(SqlText(row[1]), *mReference),
                         UseWords(row[3], row[4], row[5], row[6]),
                         UseWords(row[7], row[8], row[9], row[10]), from)});
      }
      CountUsesOfRanges(c, firstUse);
      if (fromFile) {
        c.Query(
            "UPDATE form_use_import SET recorded = ?, already = ?, conflicts = ?"
            " WHERE import_id = ?",
            {outcome.recorded, outcome.alreadyRecorded, outcome.conflictCount, importId});
      }
      c.Query("DROP TABLE form_use_stage", {});
      if (batch.preview) throw Undo{outcome};
    });
  } catch (Undo& undone) {
    return std::move(undone.outcome);
  }
  spdlog::info(
      "request {} (user {}): uses from {}: {} lines, {} recorded, {} already, {} conflicts",
      context.requestId, context.userId,
      fromFile ? batch.source.fileName : std::string("a person's record"), outcome.lines,
      outcome.recorded, outcome.alreadyRecorded, outcome.conflictCount);
  return outcome;
}

// --- Corrections -----------------------------------------------------------------------------

protocol::FormUse SqlStore::CorrectUse(const SaveContext& context, std::int64_t supersededId,
                                       const protocol::ReportedUse& use, const std::string& reason,
                                       const UseRules& rules) {
  if (!context.scope.IsEverywhere()) {
    throw StoreError::Forbidden(
        "Only an administrator corrects a recorded use; nothing was changed.");
  }
  const std::string why = text::Trim(reason);
  if (why.empty()) {
    throw StoreError::Rejected("A correction needs a reason: say why the use was wrong.");
  }
  if (std::string problem = TextProblem("The reason", reason, rules.limits.fieldLength);
      !problem.empty()) {
    throw StoreError::Rejected(problem + "; nothing was changed.");
  }
  std::vector<std::string> problems;
  const auto checked = CheckUse(use, *mReference, rules, problems);
  if (!checked) {
    throw StoreError::Rejected(
        fmt::format("The corrected use is not recorded: {}.", JoinProblems(problems)));
  }
  std::int64_t newId = 0;
  WriteWith({context.requestId, {checked->formType}}, [&](SqlConnection& c) {
    auto old = c.Query(
        "SELECT form_typ_cd, form_nbr, standing, source_text FROM form_use WHERE use_id = ?",
        {supersededId});
    if (old.empty()) {
      throw StoreError::Rejected(
          fmt::format("There is no use {}; nothing was changed.", supersededId));
    }
    if (SqlInteger(old[0][2]) != 1) {
      auto later = c.Query("SELECT use_id FROM form_use WHERE supersedes_id = ?", {supersededId});
      throw StoreError::Rejected(fmt::format(
          "Use {} was superseded already{}; correct the use that stands. Nothing was changed.",
          supersededId, later.empty() ? "" : fmt::format(" (by use {})", SqlText(later[0][0]))));
    }
    if (SqlText(old[0][0]) != checked->formType || SqlInteger(old[0][1]) != checked->number) {
      throw StoreError::Rejected(fmt::format(
          "Use {} is of form {} of {}; a correction is of the same form. Nothing was changed.",
          supersededId, SqlInteger(old[0][1]), FormTypeName(SqlText(old[0][0]), *mReference)));
    }
    c.Query("UPDATE form_use SET standing = 0 WHERE use_id = ?", {supersededId});
    c.Query(
        "INSERT INTO form_use (form_typ_cd, form_nbr, disposition, used_on, reg_nbr, reference,"
        " note, source_text, import_id, line_nbr, recorded_by_id, recorded_by_name, recorded_at,"
        " request_id, supersedes_id, correction_reason, standing)"
        " VALUES (?, ?, ?, ?, ?, ?, ?, ?, NULL, 0, ?, ?, ?, ?, ?, ?, 1)",
        {checked->formType, checked->number,
         std::string(protocol::DispositionKey(checked->disposition)), checked->usedOn,
         checked->registry, checked->reference, checked->note, SqlText(old[0][3]), context.userId,
         context.userName, Now(), context.requestId, supersededId, why});
    newId = SqlInteger(c.Query("SELECT use_id FROM form_use WHERE form_typ_cd = ? AND form_nbr = ?"
                               " AND standing = 1",
                               {checked->formType, checked->number})
                           .at(0)
                           .at(0));
    LinkRecord(ChainKind::Use, newId);
    CountUsesOfRanges(c, newId);
  });
  spdlog::info("request {} (user {}): use {} of form {} of {} corrected by use {}: {}",
               context.requestId, context.userId, supersededId, checked->number, checked->formType,
               newId, why);
  for (const auto& record : UsesOf(checked->formType, checked->number)) {
    if (record.id == newId) return record;
  }
  throw StoreError::Internal(fmt::format("the correcting use {} cannot be read back", newId));
}

}  // namespace fm::server

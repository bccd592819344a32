#include "protocol/Usage.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>

#include "protocol/DataSetTables.h"
#include "protocol/Json.h"
#include "protocol/JsonText.h"
#include "protocol/ProtocolError.h"

namespace fm::protocol {

namespace {

using Json = nlohmann::ordered_json;
using namespace tables;

// The parts a line divides its held numbers into, as the data sets, the JSON and the CSV
// name them.
struct Part {
  const char* key;
  const char* caption;
};
constexpr Part kHeld{"held", "Held"};
constexpr Part kInStock{"in_stock", "In stock"};
constexpr Part kUnaccounted{"unaccounted", "Unaccounted"};
constexpr const char* kUsedKeys[] = {"issued", "spoiled", "lost", "stolen"};

template <typename Line, typename Each>
void ForEachPart(Line& line, Each&& each) {
  each(kHeld, line.held);
  for (Disposition d : kDispositions) {
    each(Part{kUsedKeys[static_cast<std::size_t>(d)], DispositionCaption(d)}, line.Used(d));
  }
  each(kInStock, line.inStock);
  each(kUnaccounted, line.unaccounted);
}

Json RangesJson(const SerialTally& tally) {
  Json ranges = Json::array();
  for (const auto& r : tally.ranges) ranges.push_back(Json::array({r.from, r.to}));
  return ranges;
}

std::string StationText(const std::string& troop, const std::string& district) {
  return troop + district;
}

}  // namespace

const char* DispositionKey(Disposition disposition) {
  switch (disposition) {
    case Disposition::Issued:
      return "ISSUED";
    case Disposition::Spoiled:
      return "SPOILED";
    case Disposition::Lost:
      return "LOST";
    case Disposition::Stolen:
      return "STOLEN";
  }
  return "";
}

const char* DispositionCaption(Disposition disposition) {
  switch (disposition) {
    case Disposition::Issued:
      return "Issued";
    case Disposition::Spoiled:
      return "Spoiled";
    case Disposition::Lost:
      return "Lost";
    case Disposition::Stolen:
      return "Stolen";
  }
  return "";
}

std::optional<Disposition> DispositionFromKey(std::string_view text) {
  for (Disposition d : kDispositions) {
    std::string_view key = DispositionKey(d);
    if (key.size() != text.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < key.size() && same; ++i) {
      same = std::toupper(static_cast<unsigned char>(text[i])) == key[i];
    }
    if (same) return d;
  }
  return std::nullopt;
}

const char* UseExceptionCaption(UseException kind) {
  switch (kind) {
    case UseException::NotHolder:
      return "Used by someone who did not hold it";
    case UseException::AfterDelisting:
      return "Used after it was delisted or withdrawn";
    case UseException::NeverReceived:
      return "Used but never received";
    case UseException::UsedTwice:
      return "Reported used twice";
  }
  return "";
}

const char* UseExceptionKey(UseException kind) {
  switch (kind) {
    case UseException::NotHolder:
      return "not_holder";
    case UseException::AfterDelisting:
      return "after_delisting";
    case UseException::NeverReceived:
      return "never_received";
    case UseException::UsedTwice:
      return "used_twice";
  }
  return "";
}

std::map<std::string, DataSet> ReconciliationToDataSets(const Reconciliation& r) {
  TableWriter parameters({Text("TRP_ID"), Text("TRP_DIST_ID"), Text("WHOLE_TROOP"),
                          Integer("ASGND_REG_NBR"), Text("FORM_TYP_CD"), Text("AS_OF_DT"),
                          Integer("GAP_DAYS"), Text("HOLDER"), Text("COMPUTED_TS")});
  parameters.Add({TextCell(r.troop), TextCell(r.district),
                  Cell{std::string(r.wholeTroop ? "Y" : "N")}, OptionalCell(r.registry),
                  TextCell(r.formType), TextCell(r.asOf), Cell{std::int64_t{r.gapDays}},
                  TextCell(r.holder), TextCell(r.computedAt)});
  TableWriter lines({Integer("LINE_NBR"), Text("TRP_ID"), Text("TRP_DIST_ID"),
                     Integer("ASGND_REG_NBR"), Text("HOLDER"), Text("FORM_TYP_CD"),
                     Text("FORM_TYP_DESC")});
  TableWriter spans(
      {Integer("LINE_NBR"), Text("PART_CD"), Integer("FRM_FORM_NBR"), Integer("TO_FORM_NBR")});
  std::int64_t number = 0;
  for (const auto& line : r.lines) {
    ++number;
    lines.Add({Cell{number}, TextCell(line.troop), TextCell(line.district), Cell{line.registry},
               TextCell(line.holder), TextCell(line.formType), TextCell(line.description)});
    ForEachPart(line, [&](const Part& part, const SerialTally& tally) {
      for (const auto& range : tally.ranges) {
        spans.Add({Cell{number}, Cell{std::string(part.key)}, Cell{range.from}, Cell{range.to}});
      }
    });
  }
  TableWriter exceptions({Text("EXCP_CD"), Text("FORM_TYP_CD"), Integer("FORM_NBR"),
                          Text("DSPN_CD"), Text("USED_DT"), Integer("REG_NBR"), Text("REF_TXT"),
                          Text("FACTS_TXT")});
  for (const auto& e : r.exceptions) {
    exceptions.Add({Cell{std::string(UseExceptionKey(e.kind))}, TextCell(e.use.formType),
                    Cell{e.use.number}, Cell{std::string(DispositionKey(e.use.disposition))},
                    TextCell(e.use.usedOn), Cell{e.use.registry}, TextCell(e.use.reference),
                    TextCell(e.facts)});
  }
  std::map<std::string, DataSet> sets;
  sets.emplace(kReconcileParameterDataSet, parameters.Take());
  sets.emplace(kReconcileLineDataSet, lines.Take());
  sets.emplace(kReconcileSpanDataSet, spans.Take());
  sets.emplace(kReconcileExceptionDataSet, exceptions.Take());
  return sets;
}

Reconciliation ReconciliationFromDataSets(const std::map<std::string, DataSet>& dataSets) {
  Reconciliation r;
  const TableReader parameters(dataSets, kReconcileParameterDataSet);
  parameters.RequireOneRow();
  r.troop = parameters.Text(0, "TRP_ID");
  r.district = parameters.Text(0, "TRP_DIST_ID");
  r.wholeTroop = parameters.Text(0, "WHOLE_TROOP") == "Y";
  r.registry = parameters.OptInteger(0, "ASGND_REG_NBR");
  r.formType = parameters.Text(0, "FORM_TYP_CD");
  r.asOf = parameters.Text(0, "AS_OF_DT");
  r.gapDays = static_cast<int>(parameters.Integer(0, "GAP_DAYS"));
  r.holder = parameters.Text(0, "HOLDER");
  r.computedAt = parameters.Text(0, "COMPUTED_TS");
  const TableReader lines(dataSets, kReconcileLineDataSet);
  std::map<std::int64_t, std::size_t> byNumber;
  for (std::size_t i = 0; i < lines.Rows(); ++i) {
    ReconciliationLine& line = r.lines.emplace_back();
    line.troop = lines.Text(i, "TRP_ID");
    line.district = lines.Text(i, "TRP_DIST_ID");
    line.registry = lines.Integer(i, "ASGND_REG_NBR");
    line.holder = lines.Text(i, "HOLDER");
    line.formType = lines.Text(i, "FORM_TYP_CD");
    line.description = lines.Text(i, "FORM_TYP_DESC");
    byNumber[lines.Integer(i, "LINE_NBR")] = i;
  }
  const TableReader spans(dataSets, kReconcileSpanDataSet);
  for (std::size_t i = 0; i < spans.Rows(); ++i) {
    const auto line = byNumber.find(spans.Integer(i, "LINE_NBR"));
    if (line == byNumber.end()) {
      throw ProtocolError(fmt::format("data set {}, row {}: no line {} in {}",
                                      kReconcileSpanDataSet, i + 1, spans.Integer(i, "LINE_NBR"),
                                      kReconcileLineDataSet));
    }
    const std::string part = spans.Text(i, "PART_CD");
    bool known = false;
    ForEachPart(r.lines[line->second], [&](const Part& p, SerialTally& tally) {
      if (part != p.key) return;
      tally.Add({spans.Integer(i, "FRM_FORM_NBR"), spans.Integer(i, "TO_FORM_NBR")});
      known = true;
    });
    if (!known) {
      throw ProtocolError(
          fmt::format("data set {}, row {}: no part \"{}\"", kReconcileSpanDataSet, i + 1, part));
    }
  }
  const TableReader exceptions(dataSets, kReconcileExceptionDataSet);
  for (std::size_t i = 0; i < exceptions.Rows(); ++i) {
    ReconciliationException& e = r.exceptions.emplace_back();
    const std::string kind = exceptions.Text(i, "EXCP_CD");
    bool known = false;
    for (UseException k : {UseException::NotHolder, UseException::AfterDelisting,
                           UseException::NeverReceived, UseException::UsedTwice}) {
      if (kind == UseExceptionKey(k)) {
        e.kind = k;
        known = true;
      }
    }
    const auto disposition = DispositionFromKey(exceptions.Text(i, "DSPN_CD"));
    if (!known || !disposition) {
      throw ProtocolError(fmt::format("data set {}, row {}: no such exception or disposition",
                                      kReconcileExceptionDataSet, i + 1));
    }
    e.use.formType = exceptions.Text(i, "FORM_TYP_CD");
    e.use.number = exceptions.Integer(i, "FORM_NBR");
    e.use.disposition = *disposition;
    e.use.usedOn = exceptions.Text(i, "USED_DT");
    e.use.registry = exceptions.Integer(i, "REG_NBR");
    e.use.reference = exceptions.Text(i, "REF_TXT");
    e.facts = exceptions.Text(i, "FACTS_TXT");
  }
  return r;
}

std::string ReconciliationToJson(const Reconciliation& r) {
  Json holders = Json::array();
  for (const auto& line : r.lines) {
    Json entry{{"station", StationText(line.troop, line.district)},
               {"officer", line.registry ? Json(line.registry) : Json(nullptr)},
               {"holder", line.holder},
               {"form_type", line.formType},
               {"description", line.description}};
    Json used = Json::object();
    ForEachPart(line, [&](const Part& part, const SerialTally& tally) {
      if (std::string_view(part.key) == kUnaccounted.key) return;
      Json t{{"count", tally.count}, {"ranges", RangesJson(tally)}};
      if (&tally != &line.held && &tally != &line.inStock) {
        used[part.key] = std::move(t);
      } else {
        entry[part.key] = std::move(t);
      }
    });
    entry["used"] = std::move(used);
    entry["unaccounted"] = RangesJson(line.unaccounted);
    entry["unaccounted_count"] = line.unaccounted.count;
    holders.push_back(std::move(entry));
  }
  Json exceptions = Json::array();
  for (const auto& e : r.exceptions) {
    exceptions.push_back(Json{{"kind", UseExceptionKey(e.kind)},
                              {"form_type", e.use.formType},
                              {"number", e.use.number},
                              {"disposition", DispositionKey(e.use.disposition)},
                              {"used_on", e.use.usedOn},
                              {"officer", e.use.registry ? Json(e.use.registry) : Json(nullptr)},
                              {"reference", e.use.reference},
                              {"facts", e.facts}});
  }
  Json body{{"station", r.troop.empty() ? Json(nullptr) : Json(StationText(r.troop, r.district))},
            {"whole_troop", r.wholeTroop},
            {"officer", r.registry ? Json(*r.registry) : Json(nullptr)},
            {"form_type", r.formType.empty() ? Json(nullptr) : Json(r.formType)},
            {"as_of", r.asOf},
            {"gap_days", r.gapDays},
            {"holder", r.holder},
            {"computed_at", r.computedAt},
            {"holders", std::move(holders)},
            {"exceptions", std::move(exceptions)}};
  return body.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::vector<std::vector<std::string>> ReconciliationCsvRecords(const Reconciliation& r) {
  std::vector<std::vector<std::string>> records;
  records.push_back({"Reconciled", "As of", "Gap days", "Holder", "Form type", "Description",
                     "Part", "Count", "Ranges", "Number", "Facts"});
  for (const auto& line : r.lines) {
    ForEachPart(line, [&](const Part& part, const SerialTally& tally) {
      records.push_back({r.holder, r.asOf, std::to_string(r.gapDays), line.holder, line.formType,
                         line.description, part.caption, std::to_string(tally.count),
                         SerialRangesText(tally.ranges), "", ""});
    });
  }
  for (const auto& e : r.exceptions) {
    records.push_back({r.holder, r.asOf, std::to_string(r.gapDays), "", e.use.formType, "",
                       UseExceptionCaption(e.kind), "", "", std::to_string(e.use.number), e.facts});
  }
  return records;
}

std::string ReconciliationText(const Reconciliation& r) {
  std::string text = fmt::format(
      "Reconciliation of {} as of {} (numbers skipped for more than {} "
      "days count as unaccounted)\n",
      r.holder, r.asOf, r.gapDays);
  if (r.lines.empty()) text += "\nNo forms held.\n";
  for (const auto& line : r.lines) {
    text += fmt::format("\n{}: {} {}\n", line.holder, line.formType, line.description);
    ForEachPart(line, [&](const Part& part, const SerialTally& tally) {
      if (tally.count == 0 && &tally != &line.held) return;
      text += fmt::format("  {:<12} {:>9}  {}\n", part.caption, tally.count,
                          SerialRangesText(tally.ranges));
    });
  }
  if (!r.exceptions.empty()) text += fmt::format("\nExceptions ({})\n", r.exceptions.size());
  for (const auto& e : r.exceptions) {
    text += fmt::format("  {} {}: {}. {}\n", e.use.formType, e.use.number,
                        UseExceptionCaption(e.kind), e.facts);
  }
  return text;
}

bool HasFindings(const Reconciliation& r) {
  if (!r.exceptions.empty()) return true;
  return std::any_of(r.lines.begin(), r.lines.end(),
                     [](const ReconciliationLine& line) { return line.unaccounted.count > 0; });
}

}  // namespace fm::protocol

// --- Data sets and JSON of the usage messages ---------------------------------------------

namespace fm::protocol {

namespace {

using namespace tables;
using Json = nlohmann::ordered_json;

// The columns of kUseRowDataSet with the field of ReportedUse each holds.
struct RowColumn {
  const char* name;
  std::string ReportedUse::*field;
  ColumnType type;
};
constexpr RowColumn kRowColumns[] = {
    {"FORM_TYP_CD", &ReportedUse::formType, ColumnType::Text},
    {"FRM_FORM_NBR", &ReportedUse::number, ColumnType::Text},
    {"TO_FORM_NBR", &ReportedUse::to, ColumnType::Text},
    {"DISPOSITION", &ReportedUse::disposition, ColumnType::Text},
    {"USED_ON", &ReportedUse::usedOn, ColumnType::Text},
    {"ASGND_REG_NBR", &ReportedUse::officer, ColumnType::Text},
    {"REFERENCE", &ReportedUse::reference, ColumnType::Text},
    {"NOTE", &ReportedUse::note, ColumnType::Text},
};

std::vector<Column> UseColumns() {
  return {Integer("USE_ID"),          Text("FORM_TYP_CD"), Integer("FORM_NBR"),
          Text("DISPOSITION"),        Text("USED_ON"),     Integer("ASGND_REG_NBR"),
          Text("REFERENCE"),          Text("NOTE"),        Text("FILE_NAME"),
          Text("FILE_HASH"),          Text("SOURCE_TXT"),  Integer("RCRD_USR_ID"),
          Text("RCRD_USR_NME"),       Text("RCRD_TS"),     Integer("SUPERSEDES_ID"),
          Text("CORRECTION_RSN_TXT"), Text("STANDING")};
}

Json UseJson(const FormUse& u) {
  return Json{{"id", u.id},
              {"form_type", u.formType},
              {"number", u.number},
              {"disposition", DispositionKey(u.disposition)},
              {"used_on", u.usedOn},
              {"officer", u.registry == 0 ? Json(nullptr) : Json(u.registry)},
              {"reference", u.reference},
              {"note", u.note},
              {"file_name", u.source.fileName.empty() ? Json(nullptr) : Json(u.source.fileName)},
              {"file_hash", u.source.fileHash.empty() ? Json(nullptr) : Json(u.source.fileHash)},
              {"source", u.sourceText},
              {"recorded_by_id", u.recordedById},
              {"recorded_by", u.recordedBy},
              {"recorded_at", u.recordedAt},
              {"supersedes", u.supersedes ? Json(*u.supersedes) : Json(nullptr)},
              {"correction_reason", u.supersedes ? Json(u.correctionReason) : Json(nullptr)},
              {"standing", u.standing}};
}

Json ProblemsJson(const std::vector<UseLineProblem>& problems) {
  Json list = Json::array();
  for (const auto& p : problems) list.push_back(Json{{"line", p.line}, {"message", p.message}});
  return list;
}

// A member of a use of the JSON body as its field's text: a whole number is written in
// decimal, null is empty.
std::string FieldText(const Json& value, const std::string& where) {
  if (value.is_null()) return {};
  if (value.is_string()) return value.get<std::string>();
  if (value.is_number_integer()) return std::to_string(value.get<std::int64_t>());
  throw ProtocolError(fmt::format("{}: expected a text or a whole number", where));
}

void CheckMembers(const Json& object, const std::string& where,
                  std::initializer_list<const char*> known) {
  if (!object.is_object()) {
    throw ProtocolError(fmt::format("{}: expected an object", where.empty() ? "the body" : where));
  }
  for (const auto& [key, value] : object.items()) {
    bool found = false;
    for (const char* k : known) found = found || key == k;
    if (!found) {
      std::string list;
      for (const char* k : known) list += (list.empty() ? "" : ", ") + std::string(k);
      throw ProtocolError(fmt::format("{}{}: unknown member; the members are {}", where,
                                      where.empty() ? key : "." + key, list));
    }
  }
}

}  // namespace

DataSet UseRowsToDataSet(const std::vector<ReportedUse>& uses) {
  std::vector<Column> columns;
  for (const auto& c : kRowColumns) columns.push_back({c.name, c.type});
  TableWriter rows(std::move(columns));
  for (const auto& use : uses) {
    Row row;
    for (const auto& c : kRowColumns) row.push_back(TextCell(use.*c.field));
    rows.Add(std::move(row));
  }
  return rows.Take();
}

std::vector<ReportedUse> UseRowsFromDataSet(const DataSet& rows) {
  const std::map<std::string, DataSet> sets{{kUseRowDataSet, rows}};
  const TableReader reader(sets, kUseRowDataSet);
  std::vector<ReportedUse> uses(reader.Rows());
  for (const auto& c : kRowColumns) {
    if (!reader.Has(c.name)) continue;
    for (std::size_t i = 0; i < uses.size(); ++i) {
      const Cell& cell = reader.At(i, c.name);
      if (const auto* n = std::get_if<std::int64_t>(&cell)) {
        uses[i].*c.field = std::to_string(*n);
      } else if (const auto* t = std::get_if<std::string>(&cell)) {
        uses[i].*c.field = *t;
      } else if (!std::holds_alternative<std::monostate>(cell)) {
        throw ProtocolError(
            fmt::format("data set {}, row {}, column {}: expected a text or a "
                        "whole number",
                        kUseRowDataSet, i + 1, c.name));
      }
    }
  }
  return uses;
}

std::map<std::string, DataSet> UsageOutcomeToDataSets(const UsageOutcome& o) {
  TableWriter summary({Integer("LINE_CNT"), Integer("RCRD_CNT"), Integer("ALRDY_CNT"),
                       Integer("BAD_CNT"), Integer("CNFL_CNT"), Text("SAME_FILE"),
                       Text("PRV_FILE_NAME"), Text("PRV_RCRD_TS"), Text("PRV_RCRD_USR_NME"),
                       Text("PREVIEW")});
  summary.Add({Cell{o.lines}, Cell{o.recorded}, Cell{o.alreadyRecorded}, Cell{o.badLineCount},
               Cell{o.conflictCount}, Cell{std::string(o.sameFileAgain ? "Y" : "N")},
               TextCell(o.previousFileName), TextCell(o.previousRecordedAt),
               TextCell(o.previousRecordedBy), Cell{std::string(o.preview ? "Y" : "N")}});
  TableWriter problems({Text("KIND"), Integer("LINE_NBR"), Text("MESSAGE")});
  for (const auto& p : o.badLines)
    problems.Add({Cell{std::string("BAD")}, Cell{p.line}, Cell{p.message}});
  for (const auto& p : o.conflicts) {
    problems.Add({Cell{std::string("CONFLICT")}, Cell{p.line}, Cell{p.message}});
  }
  std::map<std::string, DataSet> sets;
  sets.emplace(kUsageDataSet, summary.Take());
  sets.emplace(kUseProblemDataSet, problems.Take());
  return sets;
}

UsageOutcome UsageOutcomeFromDataSets(const std::map<std::string, DataSet>& dataSets) {
  const TableReader summary(dataSets, kUsageDataSet);
  summary.RequireOneRow();
  UsageOutcome o;
  o.lines = summary.Integer(0, "LINE_CNT");
  o.recorded = summary.Integer(0, "RCRD_CNT");
  o.alreadyRecorded = summary.Integer(0, "ALRDY_CNT");
  o.badLineCount = summary.Integer(0, "BAD_CNT");
  o.conflictCount = summary.Integer(0, "CNFL_CNT");
  o.sameFileAgain = summary.Text(0, "SAME_FILE") == "Y";
  o.previousFileName = summary.Text(0, "PRV_FILE_NAME");
  o.previousRecordedAt = summary.Text(0, "PRV_RCRD_TS");
  o.previousRecordedBy = summary.Text(0, "PRV_RCRD_USR_NME");
  o.preview = summary.Text(0, "PREVIEW") == "Y";
  const TableReader problems(dataSets, kUseProblemDataSet);
  for (std::size_t i = 0; i < problems.Rows(); ++i) {
    UseLineProblem p{problems.Integer(i, "LINE_NBR"), problems.Text(i, "MESSAGE")};
    (problems.Text(i, "KIND") == "CONFLICT" ? o.conflicts : o.badLines).push_back(std::move(p));
  }
  return o;
}

DataSet UsesToDataSet(const std::vector<FormUse>& uses) {
  TableWriter rows(UseColumns());
  for (const auto& u : uses) {
    rows.Add({Cell{u.id}, Cell{u.formType}, Cell{u.number},
              Cell{std::string(DispositionKey(u.disposition))}, Cell{u.usedOn},
              u.registry == 0 ? Cell{} : Cell{u.registry}, TextCell(u.reference), TextCell(u.note),
              TextCell(u.source.fileName), TextCell(u.source.fileHash), TextCell(u.sourceText),
              Cell{u.recordedById}, TextCell(u.recordedBy), Cell{u.recordedAt},
              OptionalCell(u.supersedes), TextCell(u.correctionReason),
              Cell{std::string(u.standing ? "Y" : "N")}});
  }
  return rows.Take();
}

std::vector<FormUse> UsesFromDataSets(const std::map<std::string, DataSet>& dataSets) {
  if (!dataSets.contains(kFormUseDataSet)) return {};
  const TableReader rows(dataSets, kFormUseDataSet);
  std::vector<FormUse> uses;
  for (std::size_t i = 0; i < rows.Rows(); ++i) {
    FormUse u;
    u.id = rows.Integer(i, "USE_ID");
    u.formType = rows.Text(i, "FORM_TYP_CD");
    u.number = rows.Integer(i, "FORM_NBR");
    const auto disposition = DispositionFromKey(rows.Text(i, "DISPOSITION"));
    if (!disposition) {
      throw ProtocolError(fmt::format("data set {}, row {}: \"{}\" is not a disposition",
                                      kFormUseDataSet, i + 1, rows.Text(i, "DISPOSITION")));
    }
    u.disposition = *disposition;
    u.usedOn = rows.Text(i, "USED_ON");
    u.registry = rows.OptInteger(i, "ASGND_REG_NBR").value_or(0);
    u.reference = rows.Text(i, "REFERENCE");
    u.note = rows.Text(i, "NOTE");
    u.source = {rows.Text(i, "FILE_NAME"), rows.Text(i, "FILE_HASH")};
    u.sourceText = rows.Text(i, "SOURCE_TXT");
    u.recordedById = rows.Integer(i, "RCRD_USR_ID");
    u.recordedBy = rows.Text(i, "RCRD_USR_NME");
    u.recordedAt = rows.Text(i, "RCRD_TS");
    u.supersedes = rows.OptInteger(i, "SUPERSEDES_ID");
    u.correctionReason = rows.Text(i, "CORRECTION_RSN_TXT");
    u.standing = rows.Text(i, "STANDING") == "Y";
    uses.push_back(std::move(u));
  }
  return uses;
}

std::string UsageOutcomeToJson(const UsageOutcome& o) {
  Json body{{"lines", o.lines},
            {"recorded", o.recorded},
            {"already_recorded", o.alreadyRecorded},
            {"bad_lines", ProblemsJson(o.badLines)},
            {"bad_line_count", o.badLineCount},
            {"conflicts", ProblemsJson(o.conflicts)},
            {"conflict_count", o.conflictCount},
            {"same_file_again", o.sameFileAgain},
            {"preview", o.preview}};
  if (o.sameFileAgain) {
    body["previous_import"] = Json{{"file_name", o.previousFileName},
                                   {"recorded_at", o.previousRecordedAt},
                                   {"recorded_by", o.previousRecordedBy}};
  }
  return DumpJson(body);
}

std::string UsesToJson(const std::vector<FormUse>& uses) {
  Json list = Json::array();
  for (const auto& u : uses) list.push_back(UseJson(u));
  return DumpJson(list);
}

UsageSubmission UsageSubmissionFromJson(std::string_view text) {
  Json j;
  try {
    // Nesting is capped while parsing, so no body can take the parser deep.
    j = Json::parse(text, [](int depth, Json::parse_event_t, Json&) {
      if (depth > static_cast<int>(kMaxJsonDepth)) {
        throw ProtocolError(fmt::format("the body nests deeper than {} levels", kMaxJsonDepth));
      }
      return true;
    });
  } catch (const Json::exception& e) {
    throw ProtocolError(fmt::format("the body is not JSON: {}", e.what()));
  }
  CheckMembers(j, "", {"request_id", "source", "preview", "supersedes", "reason", "uses"});
  UsageSubmission s;
  auto member = [&](const char* name) {
    if (!j.contains(name) || j[name].is_null()) return std::string();
    if (!j[name].is_string()) throw ProtocolError(fmt::format("{}: expected a text", name));
    return j[name].get<std::string>();
  };
  s.requestId = member("request_id");
  s.source = member("source");
  s.reason = member("reason");
  if (j.contains("preview")) {
    if (!j["preview"].is_boolean()) throw ProtocolError("preview: expected true or false");
    s.preview = j["preview"].get<bool>();
  }
  if (j.contains("supersedes") && !j["supersedes"].is_null()) {
    if (!j["supersedes"].is_number_integer()) {
      throw ProtocolError("supersedes: expected the id of a use (a whole number)");
    }
    s.supersedes = j["supersedes"].get<std::int64_t>();
  }
  if (!j.contains("uses") || !j["uses"].is_array()) {
    throw ProtocolError("uses: expected an array of uses");
  }
  for (std::size_t i = 0; i < j["uses"].size(); ++i) {
    const Json& u = j["uses"][i];
    const std::string where = fmt::format("uses[{}]", i);
    CheckMembers(u, where,
                 {kUseFileColumns[0], kUseFileColumns[1], kUseFileColumns[2], kUseFileColumns[3],
                  kUseFileColumns[4], kUseFileColumns[5], kUseFileColumns[6]});
    auto field = [&](const char* name) {
      return u.contains(name) ? FieldText(u[name], where + "." + name) : std::string();
    };
    s.uses.push_back({field("form_type"),
                      field("number"),
                      field("disposition"),
                      field("used_on"),
                      field("officer"),
                      field("reference"),
                      field("note"),
                      {}});
  }
  return s;
}

}  // namespace fm::protocol

#include "protocol/Count.h"

#include <fmt/format.h>

#include <algorithm>
#include <iterator>

#include "protocol/DataSetTables.h"

namespace fm::protocol {

using tables::Integer;
using tables::TableReader;
using tables::TableWriter;
using tables::Text;
using tables::TextCell;

namespace {

constexpr const char* kParts[] = {"book", "counted", "found", "missing", "unexpected"};

std::string Joined(const std::vector<std::string>& types) {
  std::string out;
  for (const std::string& t : types) out += (out.empty() ? "" : ",") + t;
  return out;
}

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    if (comma > start) out.push_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  return out;
}

std::vector<Column> HeadColumns() {
  return {Integer("CNT_NBR"),   Text("TRP_ID"),      Text("TRP_DIST_ID"),
          Text("FORM_TYP_CDS"), Text("OPEN_BY_NME"), Text("OPEN_TS"),
          Text("CERT_BY_NME"),  Text("CERT_TS"),     Text("CERT_STMT_TXT")};
}

Row HeadRow(const CountHead& h) {
  return {Cell{h.number},          TextCell(h.troop),
          TextCell(h.district),    TextCell(Joined(h.formTypes)),
          TextCell(h.openedBy),    TextCell(h.openedAt),
          TextCell(h.certifiedBy), TextCell(h.certifiedAt),
          TextCell(h.statement)};
}

CountHead ReadHead(const TableReader& t, std::size_t i) {
  return {t.Integer(i, "CNT_NBR"),          t.Text(i, "TRP_ID"),      t.Text(i, "TRP_DIST_ID"),
          Split(t.Text(i, "FORM_TYP_CDS")), t.Text(i, "OPEN_BY_NME"), t.Text(i, "OPEN_TS"),
          t.Text(i, "CERT_BY_NME"),         t.Text(i, "CERT_TS"),     t.Text(i, "CERT_STMT_TXT")};
}

// A cell of a request's span: a number may travel as a number.
std::string CellText(const Cell& cell) {
  if (const auto* text = std::get_if<std::string>(&cell)) return *text;
  if (const auto* number = std::get_if<std::int64_t>(&cell)) return std::to_string(*number);
  if (std::holds_alternative<std::monostate>(cell)) return {};
  throw ProtocolError(
      fmt::format("data set {}: a span's cell is a text or a whole number", kCountEntryDataSet));
}

}  // namespace

DataSet CountEntriesToDataSet(const std::vector<std::vector<std::string>>& spans) {
  TableWriter set({Text("FORM_TYP_CD"), Text("FRM_FORM_NBR"), Text("TO_FORM_NBR")});
  for (const auto& span : spans) {
    Row row;
    for (std::size_t c = 0; c < 3; ++c) row.push_back(TextCell(c < span.size() ? span[c] : ""));
    set.Add(std::move(row));
  }
  return set.Take();
}

std::vector<std::vector<std::string>> CountEntriesFromDataSet(const DataSet& set) {
  std::vector<std::vector<std::string>> spans;
  const int columns[] = {set.ColumnIndex("FORM_TYP_CD"), set.ColumnIndex("FRM_FORM_NBR"),
                         set.ColumnIndex("TO_FORM_NBR")};
  for (const Row& row : set.rows) {
    auto& span = spans.emplace_back();
    for (const int c : columns) {
      span.push_back(c < 0 || static_cast<std::size_t>(c) >= row.size()
                         ? std::string()
                         : CellText(row[static_cast<std::size_t>(c)]));
    }
  }
  return spans;
}

DataSet CountTextToDataSet(const std::string& text) {
  TableWriter set({Text("TEXT")});
  set.Add({Cell{text}});
  return set.Take();
}

std::string CountTextFromDataSets(const std::map<std::string, DataSet>& dataSets) {
  if (!dataSets.count(kCountTextDataSet)) return {};
  const TableReader set(dataSets, kCountTextDataSet);
  set.RequireOneRow();
  return set.Text(0, "TEXT");
}

std::map<std::string, DataSet> CountListToDataSets(const std::vector<CountHead>& counts) {
  TableWriter list(HeadColumns());
  for (const CountHead& c : counts) list.Add(HeadRow(c));
  std::map<std::string, DataSet> sets;
  sets.emplace(kCountListDataSet, list.Take());
  return sets;
}

std::vector<CountHead> CountListFromDataSets(const std::map<std::string, DataSet>& dataSets) {
  const TableReader list(dataSets, kCountListDataSet);
  std::vector<CountHead> counts;
  for (std::size_t i = 0; i < list.Rows(); ++i) counts.push_back(ReadHead(list, i));
  return counts;
}

std::map<std::string, DataSet> CountSheetToDataSets(const CountSheet& s) {
  TableWriter head(HeadColumns());
  head.Add(HeadRow(s.head));
  TableWriter spans({Text("PART_CD"), Text("FORM_TYP_CD"), Integer("FRM_FORM_NBR"),
                     Integer("TO_FORM_NBR"), Integer("ASGND_REG_NBR"), Text("STATUS_CD"),
                     Text("REASON_CD"), Text("DETAIL_TXT")});
  const std::vector<CountLine>* lines[] = {&s.book, &s.counted, &s.found, &s.missing};
  for (std::size_t p = 0; p < std::size(lines); ++p) {
    for (const CountLine& l : *lines[p]) {
      spans.Add({Cell{std::string(kParts[p])}, TextCell(l.formType), Cell{l.from}, Cell{l.to},
                 Cell{l.registry}, TextCell(l.status), Cell{}, Cell{}});
    }
  }
  for (const UnexpectedLine& u : s.unexpected) {
    spans.Add({Cell{std::string("unexpected")}, TextCell(u.formType), Cell{u.from}, Cell{u.to},
               Cell{std::int64_t{0}}, Cell{}, TextCell(u.reason), TextCell(u.detail)});
  }
  TableWriter settlements({Text("FORM_TYP_CD"), Integer("FRM_FORM_NBR"), Integer("TO_FORM_NBR"),
                           Text("OUTCOME_CD"), Text("NOTE_TXT"), Text("BY_NME"), Text("SET_TS")});
  for (const SettlementLine& l : s.settlements) {
    settlements.Add({TextCell(l.formType), Cell{l.from}, Cell{l.to}, TextCell(l.outcome),
                     TextCell(l.note), TextCell(l.by), TextCell(l.at)});
  }
  std::map<std::string, DataSet> sets;
  sets.emplace(kCountHeadDataSet, head.Take());
  sets.emplace(kCountSpanDataSet, spans.Take());
  sets.emplace(kCountSettlementDataSet, settlements.Take());
  return sets;
}

CountSheet CountSheetFromDataSets(const std::map<std::string, DataSet>& dataSets) {
  CountSheet s;
  const TableReader head(dataSets, kCountHeadDataSet);
  s.head = ReadHead(head.RequireOneRow(), 0);
  const TableReader spans(dataSets, kCountSpanDataSet);
  std::vector<CountLine>* lines[] = {&s.book, &s.counted, &s.found, &s.missing};
  for (std::size_t i = 0; i < spans.Rows(); ++i) {
    const std::string part = spans.Text(i, "PART_CD");
    const std::string type = spans.Text(i, "FORM_TYP_CD");
    const std::int64_t from = spans.Integer(i, "FRM_FORM_NBR");
    const std::int64_t to = spans.Integer(i, "TO_FORM_NBR");
    if (part == "unexpected") {
      s.unexpected.push_back(
          {type, from, to, spans.Text(i, "REASON_CD"), spans.Text(i, "DETAIL_TXT")});
      continue;
    }
    const auto* known = std::find(std::begin(kParts), std::end(kParts), part);
    if (known == std::end(kParts)) {
      throw ProtocolError(fmt::format("data set {}, row {}: no part \"{}\" of a count",
                                      kCountSpanDataSet, i + 1, part));
    }
    lines[known - std::begin(kParts)]->push_back(
        {type, from, to, spans.Integer(i, "ASGND_REG_NBR"), spans.Text(i, "STATUS_CD")});
  }
  const TableReader settlements(dataSets, kCountSettlementDataSet);
  for (std::size_t i = 0; i < settlements.Rows(); ++i) {
    s.settlements.push_back({settlements.Text(i, "FORM_TYP_CD"),
                             settlements.Integer(i, "FRM_FORM_NBR"),
                             settlements.Integer(i, "TO_FORM_NBR"),
                             settlements.Text(i, "OUTCOME_CD"), settlements.Text(i, "NOTE_TXT"),
                             settlements.Text(i, "BY_NME"), settlements.Text(i, "SET_TS")});
  }
  return s;
}

DataSet FormCountsToDataSet(const std::vector<FormCount>& counts) {
  TableWriter set({Integer("CNT_NBR"), Text("TRP_ID"), Text("TRP_DIST_ID"), Text("CERT_TS"),
                   Text("CERT_BY_NME"), Text("OUTCOME_CD"), Text("SETTLED_CD")});
  for (const FormCount& c : counts) {
    set.Add({Cell{c.number}, Cell{c.troop}, Cell{c.district}, Cell{c.certifiedAt},
             Cell{c.certifiedBy}, Cell{c.outcome}, Cell{c.settled}});
  }
  return set.Take();
}

std::vector<FormCount> FormCountsFromDataSets(const std::map<std::string, DataSet>& dataSets) {
  std::vector<FormCount> counts;
  if (!dataSets.count(kFormCountDataSet)) return counts;
  const TableReader set(dataSets, kFormCountDataSet);
  for (std::size_t i = 0; i < set.Rows(); ++i) {
    counts.push_back({set.Integer(i, "CNT_NBR"), set.Text(i, "TRP_ID"), set.Text(i, "TRP_DIST_ID"),
                      set.Text(i, "CERT_TS"), set.Text(i, "CERT_BY_NME"), set.Text(i, "OUTCOME_CD"),
                      set.Text(i, "SETTLED_CD")});
  }
  return counts;
}

std::string UnexpectedReasonText(const std::string& reason) {
  static const std::map<std::string, const char*> kWords = {
      {"other_station", "held by another station"},
      {"other_officer", "held by an officer of another station"},
      {"delisted", "delisted or withdrawn"},
      {"used", "recorded as used"},
      {"not_in_book", "not in the book when the count was opened"},
      {"never_received", "never received"}};
  const auto it = kWords.find(reason);
  return it == kWords.end() ? reason : it->second;
}

std::string CountOutcomeText(const std::string& outcome) {
  if (outcome == "found" || outcome == "missing") return outcome;
  return "unexpected: " + UnexpectedReasonText(outcome);
}

std::string SettlementText(const std::string& outcome) {
  return outcome == "found_later" ? "found later" : outcome;
}

}  // namespace fm::protocol

#include "protocol/Usage.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>

#include "protocol/DataSetTables.h"

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
  if (parameters.Rows() != 1) {
    throw ProtocolError(fmt::format("data set {} must hold exactly one row, it holds {}",
                                    kReconcileParameterDataSet, parameters.Rows()));
  }
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

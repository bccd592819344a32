#include "protocol/Custody.h"

#include <fmt/format.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "protocol/DataSetTables.h"
#include "protocol/ProtocolError.h"

namespace fm::protocol {

namespace {

using Json = nlohmann::ordered_json;
using namespace tables;

// The count columns of ACCTLINE, by line.
constexpr std::array<const char*, kAccountLines.size()> kCountColumns = {
    "BGN_CNT", "RCV_CNT", "XIN_CNT", "RNS_CNT", "XOUT_CNT", "DLST_CNT", "WDR_CNT", "END_CNT"};

std::optional<AccountLine> LineFromKey(const std::string& key) {
  for (AccountLine line : kAccountLines) {
    if (key == AccountLineKey(line)) return line;
  }
  return std::nullopt;
}

Json TallyJson(const SerialTally& tally) {
  Json ranges = Json::array();
  for (const auto& r : tally.ranges) ranges.push_back(Json::array({r.from, r.to}));
  return Json{{"count", tally.count}, {"ranges", std::move(ranges)}};
}

}  // namespace

// --- Tallies and lines -------------------------------------------------------------------

void SerialTally::Add(SerialRange range) {
  count += range.Size();
  ranges.push_back(range);
}

void SerialTally::Normalize() {
  std::sort(ranges.begin(), ranges.end(), [](const SerialRange& a, const SerialRange& b) {
    return a.from != b.from ? a.from < b.from : a.to < b.to;
  });
  std::vector<SerialRange> joined;
  for (const auto& r : ranges) {
    if (!joined.empty() && joined.back().to + 1 == r.from) {
      joined.back().to = r.to;
    } else {
      joined.push_back(r);
    }
  }
  ranges = std::move(joined);
}

const char* AccountLineKey(AccountLine line) {
  switch (line) {
    case AccountLine::Beginning:
      return "beginning";
    case AccountLine::Received:
      return "received";
    case AccountLine::TransferredIn:
      return "transferred_in";
    case AccountLine::Reinstated:
      return "reinstated";
    case AccountLine::TransferredOut:
      return "transferred_out";
    case AccountLine::Delisted:
      return "delisted";
    case AccountLine::Withdrawn:
      return "withdrawn";
    case AccountLine::Ending:
      return "ending";
  }
  return "";
}

const char* AccountLineCaption(AccountLine line) {
  switch (line) {
    case AccountLine::Beginning:
      return "Beginning balance";
    case AccountLine::Received:
      return "Received";
    case AccountLine::TransferredIn:
      return "Transferred in";
    case AccountLine::Reinstated:
      return "Reinstated";
    case AccountLine::TransferredOut:
      return "Transferred out";
    case AccountLine::Delisted:
      return "Delisted";
    case AccountLine::Withdrawn:
      return "Withdrawn";
    case AccountLine::Ending:
      return "Ending balance";
  }
  return "";
}

int AccountLineSign(AccountLine line) {
  switch (line) {
    case AccountLine::Received:
    case AccountLine::TransferredIn:
    case AccountLine::Reinstated:
      return 1;
    case AccountLine::TransferredOut:
    case AccountLine::Delisted:
    case AccountLine::Withdrawn:
      return -1;
    case AccountLine::Beginning:
    case AccountLine::Ending:
      break;
  }
  return 0;
}

std::int64_t AccountabilityLine::Imbalance() const {
  std::int64_t sum = Tally(AccountLine::Beginning).count - Tally(AccountLine::Ending).count;
  for (AccountLine line : kAccountLines) sum += AccountLineSign(line) * Tally(line).count;
  return sum;
}

std::string SerialRangesText(const std::vector<SerialRange>& ranges) {
  std::string text;
  for (const auto& r : ranges) {
    if (!text.empty()) text += ", ";
    text += r.from == r.to ? fmt::format("{}", r.from) : fmt::format("{}-{}", r.from, r.to);
  }
  return text;
}

// --- Accountability: data sets -----------------------------------------------------------

std::map<std::string, DataSet> AccountabilityToDataSets(const AccountabilityReport& report) {
  const AccountabilityParameters& p = report.parameters;
  TableWriter parameters({Text("TRP_ID"), Text("TRP_DIST_ID"), Text("WHOLE_TROOP"),
                          Integer("ASGND_REG_NBR"), Text("FORM_TYP_CD"), Text("FROM_DT"),
                          Text("TO_DT"), Text("START_TS"), Text("END_TS"), Text("HOLDER"),
                          Text("COMPUTED_TS"), Integer("CHAIN_LINK"), Text("CHAIN_HASH")});
  parameters.Add({TextCell(p.troop), TextCell(p.district),
                  Cell{std::string(p.wholeTroop ? "Y" : "N")}, OptionalCell(p.registry),
                  TextCell(p.formType), TextCell(p.fromDate), TextCell(p.toDate), TextCell(p.start),
                  TextCell(p.end), TextCell(p.holder), TextCell(p.computedAt), Cell{p.chainLink},
                  TextCell(p.chainHash)});

  std::vector<Column> lineColumns{Text("FORM_TYP_CD"), Text("FORM_TYP_DESC")};
  for (const char* name : kCountColumns) lineColumns.push_back(Integer(name));
  lineColumns.push_back(Integer("ISS_CNT"));
  TableWriter lines(lineColumns);
  TableWriter spans({Text("FORM_TYP_CD"), Text("LINE_CD"), Text("RSN_CD"), Text("RSN_DESC"),
                     Integer("FRM_FORM_NBR"), Integer("TO_FORM_NBR")});
  for (const auto& line : report.lines) {
    Row row{Cell{line.formType}, TextCell(line.description)};
    for (AccountLine kind : kAccountLines) row.emplace_back(line.Tally(kind).count);
    row.emplace_back(line.issued);
    lines.Add(std::move(row));
    for (AccountLine kind : kAccountLines) {
      for (const auto& r : line.Tally(kind).ranges) {
        spans.Add({Cell{line.formType}, Cell{std::string(AccountLineKey(kind))}, Cell{}, Cell{},
                   Cell{r.from}, Cell{r.to}});
      }
    }
    for (const auto& [reason, tally] : line.delistedByReason) {
      auto description = report.reasonDescriptions.find(reason);
      for (const auto& r : tally.ranges) {
        spans.Add({Cell{line.formType}, Cell{std::string(AccountLineKey(AccountLine::Delisted))},
                   Cell{reason},
                   description == report.reasonDescriptions.end() ? Cell{}
                                                                  : TextCell(description->second),
                   Cell{r.from}, Cell{r.to}});
      }
    }
  }
  TableWriter used(
      {Text("FORM_TYP_CD"), Text("DISPOSITION"), Integer("FRM_FORM_NBR"), Integer("TO_FORM_NBR")});
  for (const auto& line : report.lines) {
    for (const auto& [disposition, tally] : line.usedByDisposition) {
      for (const auto& r : tally.ranges) {
        used.Add({Cell{line.formType}, Cell{disposition}, Cell{r.from}, Cell{r.to}});
      }
    }
  }
  std::map<std::string, DataSet> sets;
  sets.emplace(kAccountParameterDataSet, parameters.Take());
  sets.emplace(kAccountLineDataSet, lines.Take());
  sets.emplace(kAccountSpanDataSet, spans.Take());
  sets.emplace(kAccountUsedDataSet, used.Take());
  return sets;
}

AccountabilityReport AccountabilityFromDataSets(const std::map<std::string, DataSet>& dataSets) {
  AccountabilityReport report;
  const TableReader parameters(dataSets, kAccountParameterDataSet);
  parameters.RequireOneRow();
  AccountabilityParameters& p = report.parameters;
  p.troop = parameters.Text(0, "TRP_ID");
  p.district = parameters.Text(0, "TRP_DIST_ID");
  p.wholeTroop = parameters.Text(0, "WHOLE_TROOP") == "Y";
  p.registry = parameters.OptInteger(0, "ASGND_REG_NBR");
  p.formType = parameters.Text(0, "FORM_TYP_CD");
  p.fromDate = parameters.Text(0, "FROM_DT");
  p.toDate = parameters.Text(0, "TO_DT");
  p.start = parameters.Text(0, "START_TS");
  p.end = parameters.Text(0, "END_TS");
  p.holder = parameters.Text(0, "HOLDER");
  p.computedAt = parameters.Text(0, "COMPUTED_TS");
  // A server from before the record chain sends neither column.
  if (parameters.Has("CHAIN_LINK"))
    p.chainLink = parameters.OptInteger(0, "CHAIN_LINK").value_or(0);
  if (parameters.Has("CHAIN_HASH")) p.chainHash = parameters.Text(0, "CHAIN_HASH");

  const TableReader lines(dataSets, kAccountLineDataSet);
  std::map<std::string, std::size_t> byType;
  for (std::size_t i = 0; i < lines.Rows(); ++i) {
    AccountabilityLine line;
    line.formType = lines.Text(i, "FORM_TYP_CD");
    line.description = lines.Text(i, "FORM_TYP_DESC");
    for (std::size_t k = 0; k < kAccountLines.size(); ++k) {
      line.tallies[k].count = lines.Integer(i, kCountColumns[k]);
    }
    line.issued = lines.Integer(i, "ISS_CNT");
    byType[line.formType] = report.lines.size();
    report.lines.push_back(std::move(line));
  }
  const TableReader spans(dataSets, kAccountSpanDataSet);
  for (std::size_t i = 0; i < spans.Rows(); ++i) {
    const std::string type = spans.Text(i, "FORM_TYP_CD");
    const std::string key = spans.Text(i, "LINE_CD");
    const auto line = LineFromKey(key);
    const auto owner = byType.find(type);
    if (!line || owner == byType.end()) {
      throw ProtocolError(fmt::format("data set {}, row {}: no line \"{}\" of form type \"{}\"",
                                      kAccountSpanDataSet, i + 1, key, type));
    }
    const SerialRange range{spans.Integer(i, "FRM_FORM_NBR"), spans.Integer(i, "TO_FORM_NBR")};
    AccountabilityLine& target = report.lines[owner->second];
    const std::string reason = spans.Text(i, "RSN_CD");
    if (reason.empty()) {
      target.Tally(*line).ranges.push_back(range);
    } else {
      // The delisted forms once more, by reason.
      target.delistedByReason[reason].Add(range);
      const std::string description = spans.Text(i, "RSN_DESC");
      if (!description.empty()) report.reasonDescriptions[reason] = description;
    }
  }
  if (!dataSets.contains(kAccountUsedDataSet)) return report;
  const TableReader used(dataSets, kAccountUsedDataSet);
  for (std::size_t i = 0; i < used.Rows(); ++i) {
    const auto owner = byType.find(used.Text(i, "FORM_TYP_CD"));
    if (owner == byType.end()) {
      throw ProtocolError(fmt::format("data set {}, row {}: no line of form type \"{}\"",
                                      kAccountUsedDataSet, i + 1, used.Text(i, "FORM_TYP_CD")));
    }
    report.lines[owner->second].usedByDisposition[used.Text(i, "DISPOSITION")].Add(
        {used.Integer(i, "FRM_FORM_NBR"), used.Integer(i, "TO_FORM_NBR")});
  }
  return report;
}

// --- Accountability: JSON and CSV --------------------------------------------------------

std::string AccountabilityToJson(const AccountabilityReport& report) {
  const AccountabilityParameters& p = report.parameters;
  Json station = p.troop.empty() ? Json(nullptr) : Json(p.troop + (p.wholeTroop ? "" : p.district));
  Json lines = Json::array();
  for (const auto& line : report.lines) {
    Json entry{{"form_type", line.formType}, {"description", line.description}};
    for (AccountLine kind : kAccountLines) {
      Json tally = TallyJson(line.Tally(kind));
      if (kind == AccountLine::Delisted) {
        Json reasons = Json::array();
        for (const auto& [code, byReason] : line.delistedByReason) {
          auto description = report.reasonDescriptions.find(code);
          Json item = TallyJson(byReason);
          item["status"] = code;
          item["description"] =
              description == report.reasonDescriptions.end() ? "" : description->second;
          reasons.push_back(std::move(item));
        }
        tally["by_reason"] = std::move(reasons);
      }
      entry[AccountLineKey(kind)] = std::move(tally);
    }
    Json byDisposition = Json::object();
    for (const auto& [disposition, tally] : line.usedByDisposition) {
      byDisposition[disposition] = TallyJson(tally);
    }
    entry["issued"] = Json{{"count", line.issued}, {"by_disposition", std::move(byDisposition)}};
    entry["balanced"] = line.Imbalance() == 0;
    lines.push_back(std::move(entry));
  }
  Json body{{"station", station},
            {"whole_troop", p.wholeTroop},
            {"officer", p.registry ? Json(*p.registry) : Json(nullptr)},
            {"form_type", p.formType.empty() ? Json(nullptr) : Json(p.formType)},
            {"from", p.fromDate},
            {"to", p.toDate},
            {"period_start", p.start},
            {"period_end", p.end},
            {"holder", p.holder},
            {"computed_at", p.computedAt},
            {"chain", Json{{"link", p.chainLink}, {"hash", p.chainHash}}},
            {"lines", std::move(lines)}};
  return body.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::vector<std::vector<std::string>> AccountabilityCsvRecords(const AccountabilityReport& report) {
  const AccountabilityParameters& p = report.parameters;
  std::vector<std::vector<std::string>> records;
  records.push_back({"Holder", "From", "To", "Form type", "Description", "Line", "Reason", "Count",
                     "Ranges", "Balanced"});
  for (const auto& line : report.lines) {
    const std::string balanced = line.Imbalance() == 0 ? "yes" : "no";
    auto add = [&](const std::string& caption, const std::string& reason,
                   const SerialTally& tally) {
      records.push_back({p.holder, p.fromDate, p.toDate, line.formType, line.description, caption,
                         reason, std::to_string(tally.count), SerialRangesText(tally.ranges),
                         balanced});
    };
    for (AccountLine kind : kAccountLines) {
      add(AccountLineCaption(kind), "", line.Tally(kind));
      if (kind != AccountLine::Delisted) continue;
      for (const auto& [code, tally] : line.delistedByReason) {
        auto description = report.reasonDescriptions.find(code);
        add(AccountLineCaption(kind),
            description == report.reasonDescriptions.end() || description->second.empty()
                ? code
                : description->second,
            tally);
      }
    }
    records.push_back({p.holder, p.fromDate, p.toDate, line.formType, line.description, "Issued",
                       "", std::to_string(line.issued), "", balanced});
    for (const auto& [disposition, tally] : line.usedByDisposition) add("Used", disposition, tally);
  }
  return records;
}

// --- Form history --------------------------------------------------------------------------

std::string HolderText(const CustodyState& state) {
  std::string text = state.troop + state.district;
  if (state.registry != 0) {
    text += state.holderName.empty() ? fmt::format(" officer {}", state.registry)
                                     : fmt::format(" {} ({})", state.holderName, state.registry);
  }
  return text;
}

namespace {

const std::vector<Column>& HistoryColumns() {
  static const std::vector<Column> columns{
      Text("CHG_TS"),         Integer("USR_ID"),   Text("USR_NME"),
      Text("EVENT"),          Text("CHG_DESC"),    Integer("FRM_FORM_NBR"),
      Integer("TO_FORM_NBR"), Text("BFR_TRP_ID"),  Text("BFR_TRP_DIST_ID"),
      Integer("BFR_REG_NBR"), Text("BFR_HOLDER"),  Text("BFR_ACTN_CD"),
      Text("BFR_ACTN_DESC"),  Text("AFT_TRP_ID"),  Text("AFT_TRP_DIST_ID"),
      Integer("AFT_REG_NBR"), Text("AFT_HOLDER"),  Text("AFT_ACTN_CD"),
      Text("AFT_ACTN_DESC"),  Text("CMMT_TXT"),    Text("RSN_TXT"),
      Text("REQ_ID"),         Integer("RCPT_NBR"), Text("OVRD_RSN_TXT")};
  return columns;
}

void AddState(Row& row, const std::optional<CustodyState>& state) {
  if (!state) {
    row.insert(row.end(), 6, Cell{});
    return;
  }
  row.insert(row.end(), {Cell{state->troop}, Cell{state->district}, Cell{state->registry},
                         TextCell(state->holderName), Cell{state->status},
                         TextCell(state->statusDescription)});
}

std::optional<CustodyState> ReadState(const TableReader& t, std::size_t row, const char* troop,
                                      const char* district, const char* registry,
                                      const char* holder, const char* status,
                                      const char* description) {
  const auto number = t.OptInteger(row, registry);
  if (!number) return std::nullopt;
  return CustodyState{t.Text(row, troop),  t.Text(row, district), *number,
                      t.Text(row, holder), t.Text(row, status),   t.Text(row, description)};
}

}  // namespace

std::map<std::string, DataSet> FormHistoryToDataSets(const FormHistory& history) {
  TableWriter entries(HistoryColumns());
  for (const auto& e : history.entries) {
    Row row{Cell{e.at},       Cell{e.userId},     TextCell(e.userName), Cell{e.event},
            TextCell(e.what), Cell{e.range.from}, Cell{e.range.to}};
    AddState(row, e.before);
    AddState(row, e.after);
    row.insert(row.end(), {TextCell(e.comment), TextCell(e.reason), TextCell(e.requestId),
                           e.receipt ? Cell{*e.receipt} : Cell{}, TextCell(e.overrideReason)});
    entries.Add(std::move(row));
  }
  TableWriter holder({Text("FORM_TYP_CD"), Integer("FORM_NBR"), Text("SUMMARY"),
                      Integer("FRM_FORM_NBR"), Integer("TO_FORM_NBR"), Text("TRP_ID"),
                      Text("TRP_DIST_ID"), Integer("ASGND_REG_NBR"), Text("HOLDER"),
                      Text("TRP_ACTN_CD"), Text("ACTN_DESC")});
  Row row{Cell{history.formType}, Cell{history.number}, TextCell(history.summary)};
  if (history.currentRange) {
    row.insert(row.end(), {Cell{history.currentRange->from}, Cell{history.currentRange->to}});
  } else {
    row.insert(row.end(), 2, Cell{});
  }
  AddState(row, history.current);
  holder.Add(std::move(row));
  std::map<std::string, DataSet> sets;
  sets.emplace(kHistoryDataSet, entries.Take());
  sets.emplace(kHolderDataSet, holder.Take());
  return sets;
}

FormHistory FormHistoryFromDataSets(const std::map<std::string, DataSet>& dataSets) {
  FormHistory history;
  const TableReader holder(dataSets, kHolderDataSet);
  holder.RequireOneRow();
  history.formType = holder.Text(0, "FORM_TYP_CD");
  history.number = holder.Integer(0, "FORM_NBR");
  history.summary = holder.Text(0, "SUMMARY");
  if (auto from = holder.OptInteger(0, "FRM_FORM_NBR")) {
    history.currentRange = SerialRange{*from, holder.Integer(0, "TO_FORM_NBR")};
  }
  history.current = ReadState(holder, 0, "TRP_ID", "TRP_DIST_ID", "ASGND_REG_NBR", "HOLDER",
                              "TRP_ACTN_CD", "ACTN_DESC");
  const TableReader entries(dataSets, kHistoryDataSet);
  for (std::size_t i = 0; i < entries.Rows(); ++i) {
    HistoryEntry e;
    e.at = entries.Text(i, "CHG_TS");
    e.userId = entries.Integer(i, "USR_ID");
    e.userName = entries.Text(i, "USR_NME");
    e.event = entries.Text(i, "EVENT");
    e.what = entries.Text(i, "CHG_DESC");
    e.range = {entries.Integer(i, "FRM_FORM_NBR"), entries.Integer(i, "TO_FORM_NBR")};
    e.before = ReadState(entries, i, "BFR_TRP_ID", "BFR_TRP_DIST_ID", "BFR_REG_NBR", "BFR_HOLDER",
                         "BFR_ACTN_CD", "BFR_ACTN_DESC");
    auto after = ReadState(entries, i, "AFT_TRP_ID", "AFT_TRP_DIST_ID", "AFT_REG_NBR", "AFT_HOLDER",
                           "AFT_ACTN_CD", "AFT_ACTN_DESC");
    if (!after) {
      throw ProtocolError(fmt::format("data set {}, row {}: the entry has no holder after it",
                                      kHistoryDataSet, i + 1));
    }
    e.after = *after;
    e.comment = entries.Text(i, "CMMT_TXT");
    e.reason = entries.Text(i, "RSN_TXT");
    e.requestId = entries.Text(i, "REQ_ID");
    e.receipt = entries.OptInteger(i, "RCPT_NBR");
    // A server from before overrides sends no such column: nothing was overridden there.
    if (entries.Has("OVRD_RSN_TXT")) e.overrideReason = entries.Text(i, "OVRD_RSN_TXT");
    history.entries.push_back(std::move(e));
  }
  return history;
}

std::string StatusText(const CustodyState& state) {
  return state.statusDescription.empty() ? state.status : state.statusDescription;
}

std::vector<std::vector<std::string>> FormHistoryCsvRecords(
    const FormHistory& history, const std::function<std::string(const std::string&)>& time) {
  std::vector<std::vector<std::string>> records;
  records.push_back({"Form type", "Form number", "When", "Who", "What", "Range", "Holder before",
                     "Status before", "Holder after", "Status after", "Comment", "Override",
                     "Hand receipt"});
  const std::string number = std::to_string(history.number);
  for (const auto& e : history.entries) {
    const bool withdrawn = e.event == "WITHDRAW";
    records.push_back(
        {history.formType, number, time(e.at), e.userName, e.what, SerialRangesText({e.range}),
         e.before ? HolderText(*e.before) : "", e.before ? StatusText(*e.before) : "",
         withdrawn ? "(withdrawn)" : HolderText(e.after), withdrawn ? "" : StatusText(e.after),
         withdrawn && !e.reason.empty() ? e.reason : e.comment, e.overrideReason,
         e.receipt ? std::to_string(*e.receipt) : ""});
  }
  return records;
}

}  // namespace fm::protocol

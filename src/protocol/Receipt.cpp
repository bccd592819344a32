#include "protocol/Receipt.h"

#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include "protocol/DataSetTables.h"
#include "protocol/ProtocolError.h"

namespace fm::protocol {

namespace {

using Json = nlohmann::ordered_json;
using namespace tables;

std::string Station(const HandReceipt& r) { return r.troop + r.district; }

}  // namespace

std::int64_t HandReceipt::Total() const {
  std::int64_t total = 0;
  for (const auto& line : lines) total += line.forms;
  return total;
}

DataSet IssuedReceiptsToDataSet(const std::vector<IssuedReceipt>& receipts) {
  TableWriter set(
      {Integer("RCPT_NBR"), Integer("ASGND_REG_NBR"), Text("OFFICER_NME"), Integer("FORM_CNT")});
  for (const auto& r : receipts) {
    set.Add({Cell{r.number}, Cell{r.registry}, TextCell(r.officerName), Cell{r.forms}});
  }
  return set.Take();
}

std::vector<IssuedReceipt> IssuedReceiptsFromDataSets(
    const std::map<std::string, DataSet>& dataSets) {
  std::vector<IssuedReceipt> out;
  if (!dataSets.contains(kReceiptDataSet)) return out;
  const TableReader set(dataSets, kReceiptDataSet);
  for (std::size_t i = 0; i < set.Rows(); ++i) {
    out.push_back({set.Integer(i, "RCPT_NBR"), set.Integer(i, "ASGND_REG_NBR"),
                   set.Text(i, "OFFICER_NME"), set.Integer(i, "FORM_CNT")});
  }
  return out;
}

std::map<std::string, DataSet> HandReceiptToDataSets(const HandReceipt& r) {
  TableWriter head({Integer("RCPT_NBR"), Text("REQ_ID"), Text("ISSUED_TS"),
                    Integer("ASGND_REG_NBR"), Text("OFFICER_NME"), Text("TRP_ID"),
                    Text("TRP_DIST_ID"), Integer("CLERK_USR_ID"), Text("CLERK_USR_NME"),
                    Text("REQUESTER"), Integer("PRINT_CNT"), Integer("FORM_CNT")});
  head.Add({Cell{r.number}, TextCell(r.requestId), Cell{r.issuedAt}, Cell{r.registry},
            TextCell(r.officerName), Cell{r.troop}, TextCell(r.district), Cell{r.clerkId},
            TextCell(r.clerkName), TextCell(r.requester), Cell{r.printCount}, Cell{r.Total()}});
  TableWriter lines({Text("FORM_TYP_CD"), Text("FORM_DESC"), Integer("FRM_FORM_NBR"),
                     Integer("TO_FORM_NBR"), Integer("FORM_CNT")});
  for (const auto& l : r.lines) {
    lines.Add({Cell{l.formType}, TextCell(l.description), Cell{l.from}, Cell{l.to}, Cell{l.forms}});
  }
  std::map<std::string, DataSet> sets;
  sets.emplace(kReceiptHeadDataSet, head.Take());
  sets.emplace(kReceiptLineDataSet, lines.Take());
  return sets;
}

HandReceipt HandReceiptFromDataSets(const std::map<std::string, DataSet>& dataSets) {
  const TableReader head(dataSets, kReceiptHeadDataSet);
  head.RequireOneRow();
  HandReceipt r;
  r.number = head.Integer(0, "RCPT_NBR");
  r.requestId = head.Text(0, "REQ_ID");
  r.issuedAt = head.Text(0, "ISSUED_TS");
  r.registry = head.Integer(0, "ASGND_REG_NBR");
  r.officerName = head.Text(0, "OFFICER_NME");
  r.troop = head.Text(0, "TRP_ID");
  r.district = head.Text(0, "TRP_DIST_ID");
  r.clerkId = head.Integer(0, "CLERK_USR_ID");
  r.clerkName = head.Text(0, "CLERK_USR_NME");
  r.requester = head.Text(0, "REQUESTER");
  r.printCount = head.Integer(0, "PRINT_CNT");
  const TableReader lines(dataSets, kReceiptLineDataSet);
  for (std::size_t i = 0; i < lines.Rows(); ++i) {
    r.lines.push_back({lines.Text(i, "FORM_TYP_CD"), lines.Integer(i, "FRM_FORM_NBR"),
                       lines.Integer(i, "TO_FORM_NBR"), lines.Integer(i, "FORM_CNT"),
                       lines.Text(i, "FORM_DESC")});
  }
  // The total travels for readers of the message alone; one that disagrees with the lines
  // is a reply no one should sign.
  if (head.Integer(0, "FORM_CNT") != r.Total()) {
    throw ProtocolError(fmt::format("data set {}: FORM_CNT {} is not the sum of its lines ({})",
                                    kReceiptHeadDataSet, head.Integer(0, "FORM_CNT"), r.Total()));
  }
  return r;
}

std::string HandReceiptToJson(const HandReceipt& r) {
  Json lines = Json::array();
  for (const auto& l : r.lines) {
    lines.push_back(Json{{"form_type", l.formType},
                         {"description", l.description},
                         {"from", l.from},
                         {"to", l.to},
                         {"forms", l.forms}});
  }
  Json body{{"number", r.number},
            {"issued_at", r.issuedAt},
            {"request_id", r.requestId},
            {"officer", r.registry},
            {"officer_name", r.officerName},
            {"station", Station(r)},
            {"clerk_id", r.clerkId},
            {"clerk", r.clerkName},
            {"requester", r.requester},
            {"lines", std::move(lines)},
            {"total", r.Total()},
            {"prints", r.printCount},
            {"copy", r.IsCopy()}};
  return body.dump();
}

std::string HandReceiptText(const HandReceipt& r) {
  std::string out = fmt::format("HAND RECEIPT {}{}\n", r.number, r.IsCopy() ? " (COPY)" : "");
  out += fmt::format("Issued:  {} at Troop/District {}\n", r.issuedAt, Station(r));
  out += fmt::format("Officer: {} ({})\n", r.officerName, r.registry);
  out += fmt::format("Issuer:  {} (user {})\n\n", r.clerkName, r.clerkId);
  out += fmt::format("{:<28} {:>12} {:>12} {:>8}\n", "Form type", "From", "To", "Forms");
  for (const auto& l : r.lines) {
    out += fmt::format("{:<28} {:>12} {:>12} {:>8}\n",
                       l.description.empty() ? l.formType : l.formType + " " + l.description,
                       l.from, l.to, l.forms);
  }
  out += fmt::format("{:<28} {:>12} {:>12} {:>8}\n\n", "Total", "", "", r.Total());
  out += "Received the forms above.\n\n";
  out += "Officer's signature: ______________________________  Date: __________\n\n";
  out += "Issuer's signature:  ______________________________  Date: __________\n";
  return out;
}

}  // namespace fm::protocol

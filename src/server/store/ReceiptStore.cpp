// Hand receipts (Store.h, docs/receipts.md): issued by the save that gives forms to an officer,
// in its transaction, and read or counted as printed afterwards.
#include "server/store/ReceiptStore.h"

#include <fmt/format.h>

#include <algorithm>
#include <optional>
#include <tuple>

#include "server/store/ReferenceData.h"
#include "server/store/SqlStore.h"
#include "server/store/SqlStoreRows.h"
#include "server/store/SqlStoreTransactions.h"
#include "server/store/StationScope.h"
#include "server/store/StoreError.h"

namespace fm::server {

// An inventory loaded without its registry holds registry numbers the officer table does not
// know: those print as the number.
std::string OfficerName(SqlConnection& c, std::int64_t registry) {
  const auto rows = c.Query(
      "SELECT last_name, first_name, middle_initial FROM officer WHERE insp_id = ?", {registry});
  if (rows.empty()) return fmt::format("Officer {}", registry);
  std::string name = Text(rows[0][0]);
  const std::string first = OptText(rows[0][1]).value_or("");
  const std::string middle = OptText(rows[0][2]).value_or("");
  if (!first.empty()) name += ", " + first;
  if (!middle.empty()) name += " " + middle + ".";
  return name;
}

namespace {

constexpr const char* kHeadColumns =
    "receipt_nbr, request_id, issued_at, reg_nbr, officer_nme, trp_id, trp_dist_id,"
    " clerk_usr_id, clerk_usr_nme, requester, print_cnt";

std::optional<protocol::HandReceipt> ReadReceipt(SqlConnection& c, std::int64_t number,
                                                 const ReferenceData& reference) {
  const auto head = c.Query(
      fmt::format("SELECT {} FROM hand_receipt WHERE receipt_nbr = ?", kHeadColumns), {number});
  if (head.empty()) return std::nullopt;
  const SqlRow& h = head[0];
  protocol::HandReceipt r;
  r.number = Integer(h[0]);
  r.requestId = Text(h[1]);
  r.issuedAt = Text(h[2]);
  r.registry = Integer(h[3]);
  r.officerName = Text(h[4]);
  r.troop = Text(h[5]);
  r.district = Text(h[6]);
  r.clerkId = Integer(h[7]);
  r.clerkName = Text(h[8]);
  r.requester = Text(h[9]);
  r.printCount = Integer(h[10]);
  for (const SqlRow& row : c.Query("SELECT form_typ_cd, frm_form_nbr, to_form_nbr, form_cnt"
                                   " FROM hand_receipt_line WHERE receipt_nbr = ?"
                                   " ORDER BY line_nbr",
                                   {number})) {
    const FormTypeInfo* type = reference.FindFormType(Text(row[0]));
    r.lines.push_back({Text(row[0]), Integer(row[1]), Integer(row[2]), Integer(row[3]),
                       type ? type->description : std::string()});
  }
  return r;
}

void CheckReceiptInScope(const StationScope& scope, const protocol::HandReceipt& receipt) {
  if (!scope.Covers(receipt.troop, receipt.district)) {
    throw StoreError::Forbidden(
        fmt::format("Hand receipt {} was issued at {}, which is not one of your stations.",
                    receipt.number, StationText(receipt.troop, receipt.district)));
  }
}

}  // namespace

std::vector<std::int64_t> IssueReceipts(SqlConnection& c, const SaveContext& context,
                                        const std::string& at,
                                        const std::vector<GivenRange>& given) {
  // One receipt per officer and station, in the order the save first gave to each.
  struct Receipt {
    std::int64_t registry;
    std::string troop;
    std::string district;
    std::vector<const GivenRange*> lines;
  };
  std::vector<Receipt> receipts;
  for (const GivenRange& g : given) {
    const FormRange& r = g.range;
    auto it = std::find_if(receipts.begin(), receipts.end(), [&](const Receipt& x) {
      return std::tie(x.registry, x.troop, x.district) == std::tie(r.registry, r.troop, r.district);
    });
    if (it == receipts.end())
      it = receipts.insert(receipts.end(), {r.registry, r.troop, r.district, {}});
    it->lines.push_back(&g);
  }
  std::vector<std::int64_t> numbers;
  numbers.reserve(receipts.size());
  for (const Receipt& receipt : receipts) {
    const auto rows = c.Query(
        "INSERT INTO hand_receipt (request_id, issued_at, reg_nbr, officer_nme, trp_id,"
        " trp_dist_id, clerk_usr_id, clerk_usr_nme, requester)"
        " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING receipt_nbr",
        {context.requestId, at, receipt.registry, OfficerName(c, receipt.registry), receipt.troop,
         receipt.district, context.userId, context.userName, context.requester});
    const std::int64_t number = Integer(rows.at(0)[0]);
    for (std::size_t i = 0; i < receipt.lines.size(); ++i) {
      const GivenRange& line = *receipt.lines[i];
      c.Query(
          "INSERT INTO hand_receipt_line (receipt_nbr, line_nbr, form_typ_cd, frm_form_nbr,"
          " to_form_nbr, form_cnt, audit_id) VALUES (?, ?, ?, ?, ?, ?, ?)",
          {number, static_cast<std::int64_t>(i + 1), line.range.formType, line.range.from,
           line.range.to, line.range.remaining, line.auditId});
    }
    numbers.push_back(number);
  }
  return numbers;
}

std::optional<protocol::HandReceipt> SqlStore::Receipt(const StationScope& scope,
                                                       std::int64_t number) {
  std::optional<protocol::HandReceipt> receipt =
      Read([&](SqlConnection& c) { return ReadReceipt(c, number, *mReference); });
  if (receipt) CheckReceiptInScope(scope, *receipt);
  return receipt;
}

protocol::HandReceipt SqlStore::PrintReceipt(const SaveContext& context, std::int64_t number) {
  protocol::HandReceipt printed;
  WriteWith({context.requestId, {}}, [&](SqlConnection& c) {
    std::optional<protocol::HandReceipt> receipt = ReadReceipt(c, number, *mReference);
    if (!receipt) {
      throw StoreError::Rejected(fmt::format("There is no hand receipt {}", number));
    }
    CheckReceiptInScope(context.scope, *receipt);
    c.Query("UPDATE hand_receipt SET print_cnt = print_cnt + 1 WHERE receipt_nbr = ?", {number});
    printed = std::move(*receipt);
  });
  return printed;
}

}  // namespace fm::server

// The hand receipts of RequestHandler (message type 41, and the same for the HTTP front and the
// command line): a receipt read, or counted as printed and read.

#include <fmt/format.h>

#include "base/Numbers.h"
#include "base/Text.h"
#include "protocol/Receipt.h"
#include "server/handler/RequestError.h"
#include "server/handler/RequestHandler.h"
#include "server/handler/SearchCriteria.h"
#include "server/store/Store.h"
#include "server/store/StoreError.h"

namespace fm::server {

std::optional<protocol::HandReceipt> RequestHandler::Receipt(std::int64_t number, bool print,
                                                             const Principal& principal,
                                                             const std::string& requestId,
                                                             const std::string& requester) {
  if (!principal.May(Action::Report)) {
    throw StoreError::Forbidden(
        fmt::format("Your account ({}) may not read hand receipts.", RoleName(principal.role)));
  }
  // A receipt is paper already handed over: whoever may read the reports of the inventory may
  // read it and print a copy, as they may read the history it is part of.
  if (!print) return mStore->Receipt(StationScope::Everywhere(), number);
  SaveContext context;
  context.requestId = requestId;
  context.requester = requester;
  context.userId = principal.userId;
  context.userName = principal.displayName;
  try {
    return mStore->PrintReceipt(context, number);
  } catch (const StoreError& e) {
    if (e.GetKind() == StoreError::Kind::Rejected) return std::nullopt;  // no such receipt
    throw;
  }
}

protocol::Reply RequestHandler::AnswerReceipt(const protocol::Request& request,
                                              const Principal& principal) {
  std::optional<std::int64_t> number;
  bool print = false;
  for (const auto& c : request.criteria) {
    const std::string key = text::ToUpper(text::Trim(c.key));
    if (text::Trim(c.op) != "=") {
      throw RequestError(fmt::format("The criterion {} takes only the operator \"=\"", c.key));
    }
    if (key == text::ToUpper(protocol::kReceiptNumberKey)) {
      std::int64_t value = 0;
      if (number) throw RequestError(fmt::format("The criterion {} is given twice", c.key));
      if (text::ReadWholeNumber(text::Trim(c.value), value) != text::WholeNumberStatus::kOk) {
        RefuseNumber("Receipt Number", c.value, "a receipt number");
      }
      number = value;
    } else if (key == text::ToUpper(protocol::kReceiptPrintKey)) {
      print = text::Trim(c.value) == "1";
    } else {
      throw RequestError(
          fmt::format("A hand receipt (message type 41) takes the criteria {} and "
                      "{}; not {}",
                      protocol::kReceiptNumberKey, protocol::kReceiptPrintKey, c.key));
    }
  }
  if (!number) {
    throw RequestError(fmt::format("A hand receipt (message type 41) needs the criterion {}",
                                   protocol::kReceiptNumberKey));
  }
  if (print && request.requestId.empty()) {
    throw RequestError("Printing a hand receipt needs a request id");
  }
  protocol::Reply reply;
  reply.requestId = request.requestId;
  reply.identity = request.identity;
  const auto receipt = Receipt(*number, print, principal, request.requestId, request.requester);
  if (!receipt) throw RequestError(fmt::format("There is no hand receipt {}", *number));
  reply.dataSets = protocol::HandReceiptToDataSets(*receipt);
  reply.ok = true;
  return reply;
}

}  // namespace fm::server

#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "protocol/Messages.h"

// Hand receipts (docs/receipts.md): the paper an officer signs for the forms a save gave him.
// A save's reply names the receipts it issued (kReceiptDataSet); kHandReceiptMessage (41)
// answers one receipt, and counts a print of it when asked.
namespace fm::protocol {

// In the reply of a save (34): one row per receipt the save issued.
inline constexpr const char* kReceiptDataSet = "RECEIPT";
// The reply of message 41: the receipt (one row) and its lines.
inline constexpr const char* kReceiptHeadDataSet = "RCPTHEAD";
inline constexpr const char* kReceiptLineDataSet = "RCPTLINE";
// Criteria of message 41: the receipt's number, and "1" to count a print of it.
inline constexpr const char* kReceiptNumberKey = "key:RCPT_NBR";
inline constexpr const char* kReceiptPrintKey = "key:PRINT";

struct ReceiptLine {
  std::string formType;
  std::int64_t from = 0;
  std::int64_t to = 0;
  // The forms handed over: the range's remaining count when given, fewer than its numbers
  // when some of them were used already (a book passed on from another officer).
  std::int64_t forms = 0;
  std::string description;  // the form type's, filled in by the server's replies
  friend bool operator==(const ReceiptLine&, const ReceiptLine&) = default;
};

struct HandReceipt {
  std::int64_t number = 0;
  std::string requestId;
  std::string issuedAt;  // UTC, the save's stamp
  std::int64_t registry = 0;
  std::string officerName;  // as the registry named him that day
  std::string troop;
  std::string district;
  std::int64_t clerkId = 0;  // who saved, as authenticated
  std::string clerkName;
  std::string requester;
  std::vector<ReceiptLine> lines;  // in the order the save wrote them
  // The prints counted before this answer: a receipt printed before prints as a copy.
  std::int64_t printCount = 0;

  std::int64_t Total() const;
  bool IsCopy() const { return printCount > 0; }
  friend bool operator==(const HandReceipt&, const HandReceipt&) = default;
};

// What a save's reply says of a receipt it issued.
struct IssuedReceipt {
  std::int64_t number = 0;
  std::int64_t registry = 0;
  std::string officerName;
  std::int64_t forms = 0;  // the receipt's total
  friend bool operator==(const IssuedReceipt&, const IssuedReceipt&) = default;
};

DataSet IssuedReceiptsToDataSet(const std::vector<IssuedReceipt>& receipts);
// None when the reply carries no kReceiptDataSet (a save that gave nothing).
std::vector<IssuedReceipt> IssuedReceiptsFromDataSets(
    const std::map<std::string, DataSet>& dataSets);

std::map<std::string, DataSet> HandReceiptToDataSets(const HandReceipt& receipt);
// Throws ProtocolError naming what is missing or wrong.
HandReceipt HandReceiptFromDataSets(const std::map<std::string, DataSet>& dataSets);
std::string HandReceiptToJson(const HandReceipt& receipt);
// The receipt as plain text, for the command line and a printer without a desktop.
std::string HandReceiptText(const HandReceipt& receipt);

}  // namespace fm::protocol

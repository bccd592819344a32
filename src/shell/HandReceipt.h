#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/Receipt.h"
#include "shell/ReportLayout.h"
#include "shell/WindowModel.h"

namespace fm::shell {

class ShellExchange;

// The printed hand receipt: title (with "COPY" on a print after the first), who and when, the
// ranges with their forms, the total, and lines for the officer's and the issuer's signatures.
std::vector<ReportBlock> HandReceiptBlocks(const protocol::HandReceipt& receipt,
                                           const TimeText& timeText);
// "Hand Receipt 12, Troop/District A1, Smith, John (1002)": the footer of its pages.
std::string HandReceiptFooter(const protocol::HandReceipt& receipt);
// "1 range, 100 forms given to Smith, John (1002)": the line the desktop offers a receipt with.
std::string IssuedReceiptText(const protocol::IssuedReceipt& issued);

// The Hand Receipt window without its window: one receipt read from the forms server
// (message type 41), shown, and printed or written to PDF. Every print is counted by the
// server first, and what it answers is what is printed: a receipt printed before says "COPY".
//
// `changed` runs after every change the window shows (Change::Receipt: a new answer).
class HandReceiptView {
 public:
  enum class Change { Status, Receipt };
  using Changed = std::function<void(Change)>;
  // What to do with the receipt once its print is counted (paint it, write the PDF).
  using Printing =
      std::function<void(const std::vector<ReportBlock>& blocks, const std::string& footer)>;

  static constexpr const char* kTitle = "Hand Receipt";
  static const std::vector<std::string> kLineHeadings;

  HandReceiptView(TimeText timeText, Changed changed);
  ~HandReceiptView();

  // Reads receipt `number`, unless an answer is awaited already.
  void Load(std::int64_t number);
  // Counts a print of the receipt shown and hands the receipt as the server answered it to
  // `print`; nothing while an answer is awaited or before a receipt is shown.
  void Print(Printing print);
  bool Waiting() const;

  bool HasReceipt() const { return mReceipt.has_value(); }
  const protocol::HandReceipt& Receipt() const;
  // "Issued 12/7/2026 3:04 PM at Troop/District A1 by Margaret Hartley to Smith, John (1002)".
  std::string Heading() const;
  // Per line: form type, from, to, its numbers, and those unused by the books (the forms
  // handed over).
  std::vector<std::vector<std::string>> LineRows() const;
  std::string TotalText() const;  // "Total: 650 numbers, 640 unused"
  // "hand-receipt-12.pdf".
  std::string SuggestedFileName() const;

  const StatusLine& Status() const { return mStatus; }

 private:
  void Ask(std::int64_t number, bool print, Printing then);
  void Say(std::string text, bool problem);

  TimeText mTimeText;
  Changed mChanged;
  std::unique_ptr<ShellExchange> mExchange;
  std::optional<protocol::HandReceipt> mReceipt;
  StatusLine mStatus;
};

}  // namespace fm::shell

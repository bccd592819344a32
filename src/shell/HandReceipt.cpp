#include "shell/HandReceipt.h"

#include <fmt/format.h>

#include "shell/SearchSummary.h"
#include "shell/ShellExchange.h"

namespace fm::shell {

namespace {

std::string Officer(const protocol::HandReceipt& r) {
  return fmt::format("{} ({})", r.officerName, r.registry);
}

std::string FormType(const protocol::ReceiptLine& l) {
  return l.description.empty() ? l.formType : l.description;
}

std::int64_t Numbers(const protocol::ReceiptLine& l) { return l.to - l.from + 1; }

std::int64_t TotalNumbers(const protocol::HandReceipt& r) {
  std::int64_t total = 0;
  for (const auto& l : r.lines) total += Numbers(l);
  return total;
}

std::string NumbersText(std::int64_t count) {
  return count == 1 ? std::string("1 number") : fmt::format("{} numbers", GroupedNumber(count));
}

std::string Forms(std::int64_t count) {
  return count == 1 ? std::string("1 form") : fmt::format("{} forms", GroupedNumber(count));
}

}  // namespace

std::vector<ReportBlock> HandReceiptBlocks(const protocol::HandReceipt& r,
                                           const TimeText& timeText) {
  std::vector<ReportBlock> blocks;
  blocks.push_back(ReportBlock::Paragraph(
      fmt::format("Hand Receipt {}{}", r.number, r.IsCopy() ? " - COPY" : ""), TextStyle::Title,
      false, 1));
  blocks.push_back(ReportBlock::Paragraph(
      fmt::format("Troop/District {}\nIssued {} by {} (user {})\nTo {}", r.troop + r.district,
                  timeText(r.issuedAt), r.clerkName, r.clerkId, Officer(r)),
      TextStyle::Body, false, 1));
  ReportTable table;
  for (const auto& h : HandReceiptView::kLineHeadings)
    table.columns.push_back({h, h != "Form type"});
  for (const auto& l : r.lines) {
    table.rows.push_back({{FormType(l), std::to_string(l.from), std::to_string(l.to),
                           GroupedNumber(Numbers(l)), GroupedNumber(l.forms)},
                          false});
  }
  table.rows.push_back(
      {{"Total", "", "", GroupedNumber(TotalNumbers(r)), GroupedNumber(r.Total())}, false});
  blocks.push_back(ReportBlock::Table(std::move(table)));
  // The numbers are what he signs for; the books may count some of them used already (a book
  // passed on, a count recorded before uses were), and the receipt says so rather than hide it.
  blocks.push_back(ReportBlock::Paragraph(
      fmt::format("I received the forms numbered above ({}, {} of them unused by the books) "
                  "and am accountable for each of them.",
                  NumbersText(TotalNumbers(r)), GroupedNumber(r.Total())),
      TextStyle::Body, false, 2));
  blocks.push_back(ReportBlock::Paragraph(
      fmt::format("Officer: {}\n\nSignature: ______________________________   Date: ____________",
                  Officer(r)),
      TextStyle::Body, false, 2));
  blocks.push_back(ReportBlock::Paragraph(
      fmt::format("Issued by: {}\n\nSignature: ______________________________   Date: ____________",
                  r.clerkName)));
  return blocks;
}

std::string HandReceiptFooter(const protocol::HandReceipt& r) {
  return fmt::format("Hand Receipt {}, Troop/District {}, {}", r.number, r.troop + r.district,
                     Officer(r));
}

std::string IssuedReceiptText(const protocol::IssuedReceipt& issued) {
  return fmt::format("Hand receipt {}: {} given to {} ({})", issued.number, Forms(issued.forms),
                     issued.officerName, issued.registry);
}

const std::vector<std::string> HandReceiptView::kLineHeadings = {"Form type", "From", "To",
                                                                 "Numbers", "Unused"};

HandReceiptView::HandReceiptView(TimeText timeText, Changed changed)
    : mTimeText(std::move(timeText)),
      mChanged(std::move(changed)),
      mExchange(std::make_unique<ShellExchange>("HandReceipt")) {}

HandReceiptView::~HandReceiptView() = default;

bool HandReceiptView::Waiting() const { return mExchange->Waiting(); }

void HandReceiptView::Say(std::string text, bool problem) {
  mStatus = {std::move(text), problem};
  if (mChanged) mChanged(Change::Status);
}

void HandReceiptView::Load(std::int64_t number) {
  if (!Waiting()) Ask(number, false, nullptr);
}

void HandReceiptView::Print(Printing print) {
  if (!Waiting() && mReceipt) Ask(mReceipt->number, true, std::move(print));
}

void HandReceiptView::Ask(std::int64_t number, bool print, Printing then) {
  std::vector<std::pair<std::string, std::string>> criteria{{"RCPT_NBR", std::to_string(number)}};
  if (print) criteria.emplace_back("PRINT", "1");
  mExchange->Send(
      protocol::kHandReceiptMessage, criteria,
      {protocol::kReceiptHeadDataSet, protocol::kReceiptLineDataSet},
      [this, print, then = std::move(then)](const std::string& error,
                                            const ShellExchange::DataSets& sets) {
        if (!error.empty()) {
          Say(error, true);
          return;
        }
        try {
          mReceipt.reset();
          mReceipt.emplace(protocol::HandReceiptFromDataSets(sets));
        } catch (const std::exception& e) {
          Say(fmt::format("The hand receipt could not be read: {}", e.what()), true);
          return;
        }
        if (mChanged) mChanged(Change::Receipt);
        if (print && then) {
          then(HandReceiptBlocks(*mReceipt, mTimeText), HandReceiptFooter(*mReceipt));
          Say(mReceipt->IsCopy() ? "Printed as a copy: the receipt was printed before."
                                 : "Printed: hand it to the officer to sign.",
              false);
        } else {
          Say(mReceipt->printCount == 0
                  ? "Not printed yet."
                  : fmt::format("Printed {} time{} before; a print now is a copy.",
                                mReceipt->printCount, mReceipt->printCount == 1 ? "" : "s"),
              false);
        }
      });
  if (Waiting()) Say(print ? "Counting the print..." : "Reading the hand receipt...", false);
}

const protocol::HandReceipt& HandReceiptView::Receipt() const {
  static const protocol::HandReceipt kNone;
  return mReceipt ? *mReceipt : kNone;
}

std::string HandReceiptView::Heading() const {
  if (!mReceipt) return {};
  const auto& r = *mReceipt;
  return fmt::format("Issued {} at Troop/District {} by {} to {}", mTimeText(r.issuedAt),
                     r.troop + r.district, r.clerkName, Officer(r));
}

std::vector<std::vector<std::string>> HandReceiptView::LineRows() const {
  std::vector<std::vector<std::string>> rows;
  if (!mReceipt) return rows;
  for (const auto& l : mReceipt->lines) {
    rows.push_back({FormType(l), std::to_string(l.from), std::to_string(l.to),
                    GroupedNumber(Numbers(l)), GroupedNumber(l.forms)});
  }
  return rows;
}

std::string HandReceiptView::TotalText() const {
  if (!mReceipt) return {};
  return fmt::format("Total: {}, {} unused", NumbersText(TotalNumbers(*mReceipt)),
                     GroupedNumber(mReceipt->Total()));
}

std::string HandReceiptView::SuggestedFileName() const {
  return fmt::format("hand-receipt-{}.pdf", mReceipt ? mReceipt->number : 0);
}

}  // namespace fm::shell

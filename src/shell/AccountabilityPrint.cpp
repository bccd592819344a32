#include "shell/AccountabilityPrint.h"

#include <fmt/format.h>

#include "base/Text.h"
#include "shell/SearchSummary.h"

namespace fm::shell {

namespace {

using protocol::AccountLine;

constexpr const char* kTitle = "Accountable Forms Report";
constexpr const char* kBlank = "______________________________";

}  // namespace

std::string FormTypeText(const protocol::AccountabilityLine& line) {
  const std::string description = text::Trim(line.description);
  return description.empty() ? line.formType : description;
}

std::string ReasonText(const protocol::AccountabilityReport& report, const std::string& code) {
  const auto found = report.reasonDescriptions.find(code);
  const std::string description =
      found == report.reasonDescriptions.end() ? std::string() : text::Trim(found->second);
  return description.empty() ? code : description;
}

std::string BalancedText(const protocol::AccountabilityLine& line) {
  const std::int64_t off = line.Imbalance();
  return off == 0 ? "yes" : "NO: off by " + GroupedNumber(off);
}

std::vector<RangeRow> RangeRows(const protocol::AccountabilityReport& report,
                                const protocol::AccountabilityLine& line) {
  std::vector<RangeRow> rows;
  for (AccountLine kind : protocol::kAccountLines) {
    const auto& tally = line.Tally(kind);
    rows.push_back({protocol::AccountLineCaption(kind), "", tally.count,
                    protocol::SerialRangesText(tally.ranges)});
    if (kind != AccountLine::Delisted) continue;
    for (const auto& [code, byReason] : line.delistedByReason) {
      rows.push_back({"", ReasonText(report, code), byReason.count,
                      protocol::SerialRangesText(byReason.ranges)});
    }
  }
  return rows;
}

std::vector<std::string> LineHeadings() {
  std::vector<std::string> headings{"Form type"};
  for (AccountLine kind : protocol::kAccountLines)
    headings.emplace_back(protocol::AccountLineCaption(kind));
  headings.emplace_back("Issued");
  headings.emplace_back("Balanced");
  return headings;
}

std::vector<std::string> LineCells(const protocol::AccountabilityLine& line) {
  std::vector<std::string> cells{FormTypeText(line)};
  for (AccountLine kind : protocol::kAccountLines)
    cells.push_back(GroupedNumber(line.Tally(kind).count));
  cells.push_back(GroupedNumber(line.issued));
  cells.push_back(BalancedText(line));
  return cells;
}

namespace {

// The link a checkpoint would name, in full: the auditor compares it with one, character by
// character, to know the history the report was computed from is the one the checkpoint proves.
std::string ChainText(const protocol::AccountabilityReport& report) {
  const auto& p = report.parameters;
  if (p.chainLink == 0) return {};
  return fmt::format("\nRecord chain: link {}, hash {}", p.chainLink, p.chainHash);
}

}  // namespace

std::vector<ReportBlock> AccountabilityBlocks(const protocol::AccountabilityReport& report,
                                              const AccountabilityTexts& texts) {
  std::vector<ReportBlock> blocks;
  blocks.push_back(ReportBlock::Paragraph(kTitle, TextStyle::Title, true));
  blocks.push_back(ReportBlock::Paragraph(report.parameters.holder, TextStyle::Bold, true));
  blocks.push_back(
      ReportBlock::Paragraph(fmt::format("Period: {}\nForm types: {}\nComputed: {}{}", texts.period,
                                         texts.formTypes, texts.computed, ChainText(report)),
                             TextStyle::Body, true, 1));

  ReportTable lines;
  const auto headings = LineHeadings();
  for (std::size_t c = 0; c < headings.size(); ++c) {
    // Every column but the form type and the last holds figures.
    lines.columns.push_back({headings[c], c > 0 && c + 1 < headings.size()});
  }
  for (const auto& line : report.lines)
    lines.rows.push_back({LineCells(line), line.Imbalance() != 0});
  if (report.lines.empty()) {
    blocks.push_back(ReportBlock::Paragraph("Nothing to account for in this period.",
                                            TextStyle::Body, false, 1));
  } else {
    blocks.push_back(ReportBlock::Table(std::move(lines)));
  }

  for (const auto& line : report.lines) {
    blocks.push_back(ReportBlock::Paragraph(fmt::format("{}: serial numbers", FormTypeText(line)),
                                            TextStyle::Heading, true));
    ReportTable ranges;
    ranges.columns = {{"Line"}, {"Reason"}, {"Count", true}, {"Ranges"}};
    for (const auto& row : RangeRows(report, line)) {
      ranges.rows.push_back({{row.line, row.reason, GroupedNumber(row.count), row.ranges}});
    }
    blocks.push_back(ReportBlock::Table(std::move(ranges)));
  }

  blocks.push_back(ReportBlock::Paragraph(
      fmt::format("{}\n\nAccountable officer: {}    Signature: {}    Date: ______________",
                  kCertificationText, texts.certifier.empty() ? kBlank : texts.certifier, kBlank)));
  return blocks;
}

std::string AccountabilityFooter(const protocol::AccountabilityReport& report,
                                 const AccountabilityTexts& texts) {
  return fmt::format("{}, {}, {}", kTitle, report.parameters.holder, texts.period);
}

std::vector<std::vector<std::string>> CertificationCsvRecords(const std::string& certifier) {
  return {{},
          {kCertificationText},
          {"Accountable officer", certifier},
          {"Signature", ""},
          {"Date", ""}};
}

}  // namespace fm::shell

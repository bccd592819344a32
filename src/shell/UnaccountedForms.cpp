#include "shell/UnaccountedForms.h"

#include <fmt/format.h>

#include "base/Numbers.h"
#include "base/Text.h"
#include "protocol/Clearance.h"
#include "shell/SearchSummary.h"
#include "shell/ShellExchange.h"

namespace fm::shell {

using protocol::Disposition;

namespace {

std::vector<std::string> Headings() {
  std::vector<std::string> headings{"Holder", "Form type", "Held"};
  for (Disposition d : protocol::kDispositions)
    headings.emplace_back(protocol::DispositionCaption(d));
  for (const char* h : {"In stock", "Unaccounted", "Unaccounted numbers"}) headings.emplace_back(h);
  return headings;
}

std::string Described(const protocol::ReconciliationLine& line) {
  const std::string description = text::Trim(line.description);
  return description.empty() ? line.formType : description;
}

}  // namespace

const std::vector<std::string> UnaccountedForms::kLineHeadings = Headings();
const std::vector<std::string> UnaccountedForms::kExceptionHeadings = {
    "Exception", "Form type", "Number", "Disposition", "Used on", "Officer", "Reference", "Facts"};

UnaccountedForms::UnaccountedForms(TimeText timeText, DayText dayText, Changed changed)
    : mTimeText(std::move(timeText)),
      mDayText(std::move(dayText)),
      mChanged(std::move(changed)),
      mFormTypes(LocalCodeEntries("FORMTYPE")),
      mExchange(std::make_unique<ShellExchange>("UnaccountedForms")) {}

UnaccountedForms::~UnaccountedForms() = default;

bool UnaccountedForms::Waiting() const { return mExchange->Waiting(); }

void UnaccountedForms::Say(std::string text, bool problem) {
  mStatus = {std::move(text), problem};
  if (mChanged) mChanged(Change::Status);
}

void UnaccountedForms::Run(const UnaccountedEntries& entries) {
  if (Waiting()) return;
  const std::string station = text::ToUpper(text::Trim(entries.station));
  const std::string officer = text::Trim(entries.officer);
  if (station.empty() == officer.empty()) {
    Say("Type a Troop/District or an officer's Registry #.", true);
    return;
  }
  if (entries.asOf.empty()) {
    Say("Type the day to reconcile as of.", true);
    return;
  }
  const std::string gap = text::Trim(entries.gapDays);
  if (!text::WholeNumber(gap)) {
    Say(fmt::format("Type the gap as a whole number of days (by default {}).", kDefaultGapDays),
        true);
    return;
  }
  std::vector<std::pair<std::string, std::string>> criteria;
  if (!station.empty()) {
    criteria.emplace_back("TRP_ID", station.substr(0, 1));
    if (station.size() > 1) criteria.emplace_back("TRP_DIST_ID", station.substr(1));
  }
  if (!officer.empty()) criteria.emplace_back("ASGND_REG_NBR", officer);
  if (!entries.formType.empty()) criteria.emplace_back("REF_TYP_CD", entries.formType);
  criteria.emplace_back("AS_OF_DT", entries.asOf);
  criteria.emplace_back("GAP_DAYS", gap);
  mExchange->Send(protocol::kReconcileMessage, criteria,
                  {protocol::kReconcileParameterDataSet, protocol::kReconcileLineDataSet,
                   protocol::kReconcileSpanDataSet, protocol::kReconcileExceptionDataSet},
                  [this](const std::string& error, const ShellExchange::DataSets& sets) {
                    if (!error.empty()) {
                      Say(error, true);
                      return;
                    }
                    try {
                      Show(protocol::ReconciliationFromDataSets(sets));
                    } catch (const std::exception& e) {
                      Say(fmt::format("The reconciliation could not be read: {}", e.what()), true);
                    }
                  });
  if (Waiting()) Say("Reconciling...", false);
}

const protocol::Reconciliation& UnaccountedForms::Report() const {
  static const protocol::Reconciliation kNone;
  return mReport ? *mReport : kNone;
}

void UnaccountedForms::Show(protocol::Reconciliation answered) {
  mReport.reset();
  const protocol::Reconciliation& report = mReport.emplace(std::move(answered));
  if (mChanged) mChanged(Change::Report);
  if (mClearance) {
    Say(Verdict(), !Clear());
    return;
  }
  std::int64_t unaccounted = 0;
  for (const auto& line : report.lines) unaccounted += line.unaccounted.count;
  const auto exceptions = static_cast<std::int64_t>(report.exceptions.size());
  if (!protocol::HasFindings(report)) {
    Say(report.lines.empty() ? "No forms held." : "Every form is accounted for; no exceptions.",
        false);
    return;
  }
  Say(fmt::format("{} unaccounted; {} to follow up.",
                  unaccounted == 1 ? std::string("1 form")
                                   : fmt::format("{} forms", GroupedNumber(unaccounted)),
                  exceptions == 1 ? std::string("1 exception")
                                  : fmt::format("{} exceptions", GroupedNumber(exceptions))),
      true);
}

std::string UnaccountedForms::Verdict() const {
  return mClearance && mReport ? protocol::ClearanceVerdictText(*mReport) : std::string();
}

bool UnaccountedForms::Clear() const { return mReport && protocol::ClearanceOf(*mReport).Clear(); }

std::string UnaccountedForms::Heading() const {
  const std::string day = mDayText ? mDayText(Report().asOf) : Report().asOf;
  return fmt::format("{}, as of {} (numbers skipped for more than {} days count as unaccounted)",
                     Report().holder, day, Report().gapDays);
}

std::vector<std::vector<std::string>> UnaccountedForms::LineRows() const {
  std::vector<std::vector<std::string>> rows;
  for (const auto& line : Report().lines) {
    std::vector<std::string> row{line.holder, Described(line), GroupedNumber(line.held.count)};
    for (Disposition d : protocol::kDispositions) row.push_back(GroupedNumber(line.Used(d).count));
    row.push_back(GroupedNumber(line.inStock.count));
    row.push_back(GroupedNumber(line.unaccounted.count));
    row.push_back(protocol::SerialRangesText(line.unaccounted.ranges));
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<std::vector<std::string>> UnaccountedForms::ExceptionRows() const {
  std::vector<std::vector<std::string>> rows;
  for (const auto& e : Report().exceptions) {
    rows.push_back({protocol::UseExceptionCaption(e.kind), e.use.formType,
                    std::to_string(e.use.number), protocol::DispositionCaption(e.use.disposition),
                    mDayText ? mDayText(e.use.usedOn) : e.use.usedOn,
                    e.use.registry ? std::to_string(e.use.registry) : std::string(),
                    e.use.reference, e.facts});
  }
  return rows;
}

std::string UnaccountedForms::SuggestedFileName(const char* extension) const {
  std::string holder = Report().troop + (Report().wholeTroop ? "" : Report().district);
  if (Report().registry) holder += (holder.empty() ? "" : "-") + std::to_string(*Report().registry);
  return fmt::format("{}-{}-{}.{}", mClearance ? "clearance" : "unaccounted", holder, Report().asOf,
                     extension);
}

void UnaccountedForms::ExportToCsv(const std::string& path) {
  if (auto said = ExportCsv(path, protocol::ReconciliationCsvRecords(Report()), kTitle)) {
    Say(*said, false);
  }
}

std::vector<ReportBlock> UnaccountedForms::Blocks() const {
  std::vector<ReportBlock> blocks;
  blocks.push_back(ReportBlock::Paragraph(mClearance ? kClearanceTitle : "Unaccounted Forms Report",
                                          TextStyle::Title, true));
  blocks.push_back(ReportBlock::Paragraph(Heading(), TextStyle::Bold, true));
  blocks.push_back(ReportBlock::Paragraph(
      fmt::format("Computed: {}", mTimeText ? mTimeText(Report().computedAt) : Report().computedAt),
      TextStyle::Body, true, 1));
  if (mClearance) blocks.push_back(ReportBlock::Paragraph(Verdict(), TextStyle::Heading, false, 1));
  if (Report().lines.empty()) {
    blocks.push_back(ReportBlock::Paragraph("No forms held.", TextStyle::Body, false, 1));
  } else {
    ReportTable lines;
    for (std::size_t c = 0; c < kLineHeadings.size(); ++c) {
      // The counts are figures; the holder, the form type and the numbers are not.
      lines.columns.push_back({kLineHeadings[c], c >= 2 && c + 1 < kLineHeadings.size()});
    }
    const auto rows = LineRows();
    for (std::size_t r = 0; r < rows.size(); ++r) {
      lines.rows.push_back({rows[r], Report().lines[r].unaccounted.count > 0});
    }
    blocks.push_back(ReportBlock::Table(std::move(lines)));
  }
  blocks.push_back(ReportBlock::Paragraph(
      fmt::format("Exceptions ({})", Report().exceptions.size()), TextStyle::Heading, true));
  if (Report().exceptions.empty()) {
    blocks.push_back(ReportBlock::Paragraph("No use is an exception."));
  } else {
    ReportTable exceptions;
    for (const auto& heading : kExceptionHeadings) exceptions.columns.push_back({heading, false});
    for (auto& row : ExceptionRows()) exceptions.rows.push_back({std::move(row), true});
    blocks.push_back(ReportBlock::Table(std::move(exceptions)));
  }
  if (mClearance) {
    for (const char* who : {"Officer", "Supervisor"}) {
      blocks.push_back(
          ReportBlock::Paragraph(fmt::format("{}: ______________________________   Signature: "
                                             "______________________________   Date: ____________",
                                             who),
                                 TextStyle::Body, false, 1));
    }
  }
  return blocks;
}

std::string UnaccountedForms::Footer() const {
  return fmt::format("{}, {}, as of {}", mClearance ? kClearanceTitle : "Unaccounted Forms Report",
                     Report().holder, mDayText ? mDayText(Report().asOf) : Report().asOf);
}

}  // namespace fm::shell

#include "shell/StockOnHand.h"

#include <fmt/format.h>

#include "base/Numbers.h"
#include "base/Text.h"
#include "shell/SearchSummary.h"
#include "shell/ShellExchange.h"

namespace fm::shell {

namespace {

const std::vector<std::string> kStockDataSets = {
    protocol::kStockParameterDataSet, protocol::kStockLineDataSet, protocol::kStockWeekDataSet,
    protocol::kStockAlertDataSet, protocol::kStockCountDataSet};

std::vector<std::pair<std::string, std::string>> StationCriteria(const std::string& station) {
  std::vector<std::pair<std::string, std::string>> criteria;
  if (!station.empty()) {
    criteria.emplace_back("TRP_ID", station.substr(0, 1));
    if (station.size() > 1) criteria.emplace_back("TRP_DIST_ID", station.substr(1));
  }
  return criteria;
}

std::string Described(const std::string& code, const CodeEntries& types) {
  const int index = CodeIndex(types, code);
  return index < 0 ? code : types[static_cast<std::size_t>(index)].second;
}

}  // namespace

const std::vector<std::string> StockOnHand::kLineHeadings = {
    "Troop/District", "Form type", "Unassigned",      "With officers",
    "Minimum",        "Per week",  "Weeks of supply", "Status"};
const std::vector<std::string> StockOnHand::kAlertHeadings = {"Troop/District", "Form type",
                                                              "Forms left", "Minimum", "Raised"};

const std::vector<std::string> StockOnHand::kCountHeadings = {"Troop/District", "Last count",
                                                              "Certified", "Count due"};

StockOnHand::StockOnHand(TimeText timeText, Changed changed, DayText dayText)
    : mTimeText(std::move(timeText)),
      mChanged(std::move(changed)),
      mDayText(std::move(dayText)),
      mFormTypes(LocalCodeEntries("FORMTYPE")),
      mExchange(std::make_unique<ShellExchange>("StockOnHand")) {}

StockOnHand::~StockOnHand() = default;

bool StockOnHand::Waiting() const { return mExchange->Waiting(); }

void StockOnHand::Say(std::string text, bool problem) {
  mStatus = {std::move(text), problem};
  if (mChanged) mChanged(Change::Status);
}

void StockOnHand::Run(const std::string& station, const std::string& formType) {
  if (Waiting()) return;
  mStation = text::ToUpper(text::Trim(station));
  mFormType = formType;
  auto criteria = StationCriteria(mStation);
  if (!formType.empty()) criteria.emplace_back("REF_TYP_CD", formType);
  mExchange->Send(protocol::kStockMessage, criteria, kStockDataSets,
                  [this](const std::string& error, const ShellExchange::DataSets& sets) {
                    if (!error.empty()) {
                      Say(error, true);
                      return;
                    }
                    try {
                      Show(protocol::StockReportFromDataSets(sets));
                    } catch (const std::exception& e) {
                      Say(fmt::format("The stock on hand could not be read: {}", e.what()), true);
                    }
                  });
  if (Waiting()) Say("Counting the stock...", false);
}

void StockOnHand::SetMinimum(const std::string& stationText, const std::string& formType,
                             const std::string& minimumText) {
  if (Waiting()) return;
  const std::string station = text::ToUpper(text::Trim(stationText));
  const std::string minimum = text::Trim(minimumText);
  if (station.empty() || formType.empty()) {
    Say("Type the Troop/District and choose the form type of the minimum.", true);
    return;
  }
  if (const auto count = text::WholeNumber(minimum); !count || *count < 0) {
    Say("Type the minimum as a whole number of forms (0 removes it).", true);
    return;
  }
  auto criteria = StationCriteria(station);
  criteria.emplace_back("REF_TYP_CD", formType);
  criteria.emplace_back("MINIMUM_QTY", minimum);
  mExchange->Send(protocol::kSetStockMinimumMessage, criteria, {protocol::kStockMinimumDataSet},
                  [this, station](const std::string& error, const ShellExchange::DataSets& sets) {
                    if (!error.empty()) {
                      Say(error, true);
                      return;
                    }
                    try {
                      const auto kept = protocol::StockMinimumFromDataSets(sets);
                      // The report shown, or the station's, shows the minimum and what it
                      // makes of the stock.
                      Run(mReport ? mStation : station, mFormType);
                      Say(kept.minimum == 0
                              ? fmt::format("{}{} keeps no minimum of {} any more.", kept.troop,
                                            kept.district, Described(kept.formType, mFormTypes))
                              : fmt::format("The minimum of {} at {}{} is now {}.",
                                            Described(kept.formType, mFormTypes), kept.troop,
                                            kept.district, GroupedNumber(kept.minimum)),
                          false);
                    } catch (const std::exception& e) {
                      Say(fmt::format("The minimum set could not be read: {}", e.what()), true);
                    }
                  });
  if (Waiting()) Say("Setting the minimum...", false);
}

const protocol::StockReport& StockOnHand::Report() const {
  static const protocol::StockReport kNone;
  return mReport ? *mReport : kNone;
}

void StockOnHand::Show(protocol::StockReport answered) {
  mReport.reset();
  const protocol::StockReport& report = mReport.emplace(std::move(answered));
  if (mChanged) mChanged(Change::Report);
  std::size_t below = 0;
  for (const auto& line : report.lines) below += protocol::BelowMinimum(line) ? 1 : 0;
  if (report.lines.empty()) {
    Say("No forms in stock and no minimum kept.", false);
  } else if (below == 0) {
    Say("Every station holds its minimum.", false);
  } else {
    Say(below == 1 ? std::string("1 line is below its minimum.")
                   : fmt::format("{} lines are below their minimum.", below),
        true);
  }
}

std::string StockOnHand::Heading() const {
  const auto& r = Report();
  const std::string station = r.troop.empty() ? std::string("Every station")
                              : r.wholeTroop  ? "Troop " + r.troop + " and its districts"
                                              : r.troop + r.district;
  return fmt::format("{}, as of {} (use per week over the last {} weeks)", station,
                     mDayText ? mDayText(r.asOf) : r.asOf, r.weeks);
}

std::vector<std::vector<std::string>> StockOnHand::LineRows() const {
  std::vector<std::vector<std::string>> rows;
  for (const auto& line : Report().lines) {
    const std::string description = text::Trim(line.description);
    rows.push_back({line.troop + line.district, description.empty() ? line.formType : description,
                    GroupedNumber(line.unassigned), GroupedNumber(line.withOfficers),
                    line.minimum ? GroupedNumber(line.minimum) : std::string(),
                    fmt::format("{:.1f}", protocol::WeeklyUse(line)),
                    protocol::SupplyText(protocol::WeeksOfSupply(line)),
                    protocol::BelowMinimum(line) ? "Below minimum" : ""});
  }
  return rows;
}

std::vector<std::vector<std::string>> StockOnHand::AlertRows() const {
  std::vector<std::vector<std::string>> rows;
  for (const auto& a : Report().alerts) {
    rows.push_back({a.troop + a.district, Described(a.formType, mFormTypes),
                    GroupedNumber(a.onHand), GroupedNumber(a.minimum),
                    mTimeText ? mTimeText(a.raisedAt) : a.raisedAt});
  }
  return rows;
}

std::vector<std::vector<std::string>> StockOnHand::CountRows() const {
  std::vector<std::vector<std::string>> rows;
  for (const auto& c : Report().counts) {
    rows.push_back({c.troop + c.district,
                    c.lastCount ? std::to_string(c.lastCount) : std::string("never counted"),
                    c.lastCount && mTimeText ? mTimeText(c.lastCountAt) : c.lastCountAt,
                    c.overdue ? "COUNT OVERDUE" : ""});
  }
  return rows;
}

std::string StockOnHand::CountHeading() const {
  return fmt::format("Physical counts (one due every {} days)", Report().countDueDays);
}

std::string StockOnHand::SuggestedFileName(const char* extension) const {
  const auto& r = Report();
  const std::string station = r.troop.empty() ? std::string("all") : r.troop + r.district;
  return fmt::format("stock-{}-{}.{}", station, r.asOf, extension);
}

void StockOnHand::ExportToCsv(const std::string& path) {
  if (auto said = ExportCsv(path, protocol::StockCsvRecords(Report()), kTitle)) Say(*said, false);
}

std::vector<ReportBlock> StockOnHand::Blocks() const {
  std::vector<ReportBlock> blocks;
  blocks.push_back(ReportBlock::Paragraph("Stock on Hand Report", TextStyle::Title, true));
  blocks.push_back(ReportBlock::Paragraph(Heading(), TextStyle::Bold, true));
  blocks.push_back(ReportBlock::Paragraph(
      fmt::format("Computed: {}", mTimeText ? mTimeText(Report().computedAt) : Report().computedAt),
      TextStyle::Body, true, 1));
  if (Report().lines.empty()) {
    blocks.push_back(ReportBlock::Paragraph("No forms in stock and no minimum kept.",
                                            TextStyle::Body, false, 1));
  } else {
    ReportTable lines;
    for (std::size_t c = 0; c < kLineHeadings.size(); ++c) {
      lines.columns.push_back({kLineHeadings[c], c >= 2 && c + 1 < kLineHeadings.size()});
    }
    const auto rows = LineRows();
    for (std::size_t r = 0; r < rows.size(); ++r) {
      lines.rows.push_back({rows[r], protocol::BelowMinimum(Report().lines[r])});
    }
    blocks.push_back(ReportBlock::Table(std::move(lines)));
  }
  blocks.push_back(ReportBlock::Paragraph(
      fmt::format("Open stock alerts ({})", Report().alerts.size()), TextStyle::Heading, true));
  if (Report().alerts.empty()) {
    blocks.push_back(ReportBlock::Paragraph("No station is below its minimum."));
  } else {
    ReportTable alerts;
    for (std::size_t c = 0; c < kAlertHeadings.size(); ++c) {
      alerts.columns.push_back({kAlertHeadings[c], c == 2 || c == 3});
    }
    for (auto& row : AlertRows()) alerts.rows.push_back({std::move(row), true});
    blocks.push_back(ReportBlock::Table(std::move(alerts)));
  }
  if (!Report().counts.empty()) {
    blocks.push_back(ReportBlock::Paragraph(CountHeading(), TextStyle::Heading, true));
    ReportTable counts;
    for (const auto& heading : kCountHeadings) counts.columns.push_back({heading, false});
    const auto rows = CountRows();
    for (std::size_t r = 0; r < rows.size(); ++r) {
      counts.rows.push_back({rows[r], Report().counts[r].overdue});
    }
    blocks.push_back(ReportBlock::Table(std::move(counts)));
  }
  blocks.push_back(ReportBlock::Paragraph(
      "Weeks of supply: the unassigned forms and those with officers, divided by the forms "
      "used per week (the uses recorded in a week, or the forms handed to officers in a week "
      "without any).",
      TextStyle::Body));
  return blocks;
}

std::string StockOnHand::Footer() const {
  return fmt::format("Stock on Hand Report, {}", Heading());
}

std::string StockAlertSummary(const std::vector<protocol::StockAlertLine>& alerts,
                              const CodeEntries& formTypes) {
  std::string text;
  for (const auto& a : alerts) {
    text += fmt::format("{}{}{} {} ({} of {})", text.empty() ? "Stock below minimum: " : "; ",
                        a.troop, a.district, Described(a.formType, formTypes),
                        GroupedNumber(a.onHand), GroupedNumber(a.minimum));
  }
  return text;
}

StockAlertWatch::StockAlertWatch(Shown shown)
    : mShown(std::move(shown)),
      mFormTypes(LocalCodeEntries("FORMTYPE")),
      mExchange(std::make_unique<ShellExchange>("StockAlerts")) {}

StockAlertWatch::~StockAlertWatch() = default;

void StockAlertWatch::Ask(const std::string& stationText) {
  mStation = text::ToUpper(text::Trim(stationText));
  if (mStation.empty()) {
    if (mShown) mShown({}, {});
    return;
  }
  // A request sent while another waits replaces it: only the station asked last answers.
  mExchange->Send(protocol::kStockMessage, StationCriteria(mStation), kStockDataSets,
                  [this](const std::string& error, const ShellExchange::DataSets& sets) {
                    std::string summary;
                    if (error.empty()) {
                      try {
                        summary = StockAlertSummary(protocol::StockReportFromDataSets(sets).alerts,
                                                    mFormTypes);
                      } catch (const std::exception&) {
                        summary.clear();
                      }
                    }
                    if (mShown) mShown(summary, mStation);
                  });
}

}  // namespace fm::shell

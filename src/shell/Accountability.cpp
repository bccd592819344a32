#include "shell/Accountability.h"

#include <fmt/format.h>

#include "base/Text.h"
#include "shell/ShellExchange.h"

namespace fm::shell {

std::pair<std::chrono::year_month_day, std::chrono::year_month_day> LastCalendarMonth(
    std::chrono::year_month_day today) {
  const std::chrono::year_month month =
      std::chrono::year_month(today.year(), today.month()) - std::chrono::months(1);
  return {month / std::chrono::day(1), std::chrono::year_month_day(month / std::chrono::last)};
}

Accountability::Accountability(TimeText timeText, DayText dayText, Changed changed)
    : mTimeText(std::move(timeText)),
      mDayText(std::move(dayText)),
      mChanged(std::move(changed)),
      mFormTypes(LocalCodeEntries("FORMTYPE")),
      mExchange(std::make_unique<ShellExchange>("Accountability")) {}

Accountability::~Accountability() = default;

bool Accountability::Waiting() const { return mExchange->Waiting(); }

void Accountability::Say(std::string text, bool problem) {
  mStatus = {std::move(text), problem};
  if (mChanged) mChanged(Change::Status);
}

Accountability::Problem Accountability::Run(const AccountabilityEntries& entries) {
  if (Waiting()) return Problem::None;
  std::string station = entries.station;
  if (station.empty() && entries.officer.empty()) {
    Say("Type a Troop/District, an officer's Registry #, or both.", true);
    return Problem::None;
  }
  if (entries.wholeTroop) station = station.substr(0, 1);
  std::vector<std::pair<std::string, std::string>> criteria;
  if (!station.empty()) {
    criteria.emplace_back("TRP_ID", station.substr(0, 1));
    if (station.size() > 1) criteria.emplace_back("TRP_DIST_ID", station.substr(1));
  }
  if (!entries.officer.empty()) criteria.emplace_back("ASGND_REG_NBR", entries.officer);
  if (!entries.formType.empty()) criteria.emplace_back("REF_TYP_CD", entries.formType);
  if (entries.firstDay.empty()) return Problem::FirstDay;
  if (entries.lastDay.empty()) return Problem::LastDay;
  criteria.emplace_back("FROM_DT", entries.firstDay);
  criteria.emplace_back("TO_DT", entries.lastDay);
  mExchange->Send(protocol::kAccountabilityMessage, criteria,
                  {protocol::kAccountParameterDataSet, protocol::kAccountLineDataSet,
                   protocol::kAccountSpanDataSet},
                  [this](const std::string& error, const ShellExchange::DataSets& sets) {
                    if (!error.empty()) {
                      Say(error, true);
                      return;
                    }
                    try {
                      Show(protocol::AccountabilityFromDataSets(sets));
                    } catch (const std::exception& e) {
                      Say(fmt::format("The report could not be read: {}", e.what()), true);
                    }
                  });
  // Said once the request is on its way: a refusal to send it has been said by then.
  if (Waiting()) Say("Computing the report...", false);
  return Problem::None;
}

void Accountability::Show(const protocol::AccountabilityReport& report) {
  mReport = report;
  if (mChanged) mChanged(Change::Report);
  int defects = 0;
  for (const auto& line : report.lines) defects += line.Imbalance() != 0 ? 1 : 0;
  if (defects > 0) {
    Say(defects == 1
            ? std::string("1 form type does not balance: a defect of the history.")
            : fmt::format("{} form types do not balance: a defect of the history.", defects),
        true);
  } else {
    Say(report.lines.empty() ? "Nothing to account for in this period." : "Every line balances.",
        false);
  }
}

std::string Accountability::Heading() const {
  return fmt::format("{} \u2014 {}", mReport.parameters.holder, Texts("").period);
}

AccountabilityTexts Accountability::Texts(const std::string& certifier) const {
  const auto& p = mReport.parameters;
  const auto day = [this](const std::string& iso) { return mDayText ? mDayText(iso) : iso; };
  AccountabilityTexts texts;
  texts.period = fmt::format("{} to {}", day(p.fromDate), day(p.toDate));
  texts.computed = mTimeText ? mTimeText(p.computedAt) : p.computedAt;
  texts.formTypes = kAllFormTypes;
  if (!p.formType.empty()) {
    const int index = CodeIndex(mFormTypes, p.formType);
    texts.formTypes = index >= 0 ? mFormTypes[static_cast<std::size_t>(index)].second : p.formType;
  }
  texts.certifier = text::Trim(certifier);
  return texts;
}

std::string Accountability::SuggestedFileName(const char* extension) const {
  const auto& p = mReport.parameters;
  std::string holder = p.troop + (p.wholeTroop ? "" : p.district);
  if (p.registry) holder += (holder.empty() ? "" : "-") + std::to_string(*p.registry);
  return fmt::format("accountability-{}-{}-{}.{}", holder, p.fromDate, p.toDate, extension);
}

void Accountability::ExportToCsv(const std::string& path, const std::string& certifier) {
  auto records = protocol::AccountabilityCsvRecords(mReport);
  for (auto& record : CertificationCsvRecords(Texts(certifier).certifier)) {
    records.push_back(std::move(record));
  }
  if (auto said = ExportCsv(path, records, kTitle)) Say(*said, false);
}

}  // namespace fm::shell

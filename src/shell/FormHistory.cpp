#include "shell/FormHistory.h"

#include <fmt/format.h>

#include "base/Numbers.h"
#include "base/Text.h"
#include "shell/ShellExchange.h"

namespace fm::shell {

const std::array<const char*, FormHistory::kColumnCount> FormHistory::kColumns = {
    "When",         "Who",          "What",    "Range",    "Holder before", "Status before",
    "Holder after", "Status after", "Comment", "Override", "Hand receipt"};

const std::array<const char*, FormHistory::kUseColumnCount> FormHistory::kUseColumns = {
    "Used on", "Disposition", "Officer", "Reference", "Note", "From", "Recorded", "Standing"};

const std::array<const char*, FormHistory::kCountColumnCount> FormHistory::kCountColumns = {
    "Count", "Troop/District", "Certified", "Certified by", "Found", "Settled"};

FormHistory::FormHistory(TimeText timeText, Changed changed)
    : mTimeText(std::move(timeText)),
      mChanged(std::move(changed)),
      mFormTypes(LocalCodeEntries("FORMTYPE")),
      mExchange(std::make_unique<ShellExchange>("FormHistory")) {}

FormHistory::~FormHistory() = default;

bool FormHistory::Waiting() const { return mExchange->Waiting(); }

void FormHistory::Say(std::string text, bool problem) {
  mStatus = {std::move(text), problem};
  if (mChanged) mChanged(Change::Status);
}

void FormHistory::Request(int formType, const std::string& numberText) {
  const bool listed = formType >= 0 && formType < static_cast<int>(mFormTypes.size());
  const auto& [type, description] = listed ? mFormTypes[static_cast<std::size_t>(formType)]
                                           : std::pair<std::string, std::string>{};
  const std::string typed = text::Trim(numberText);
  std::int64_t number = 0;
  if (type.empty() || text::ReadWholeNumber(typed, number) != text::WholeNumberStatus::kOk) {
    Say("Choose a form type and type the form number.", true);
    return;
  }
  mExchange->Send(protocol::kFormHistoryMessage, {{"REF_TYP_CD", type}, {"FORM_SEARCH_NBR", typed}},
                  {protocol::kHistoryDataSet, protocol::kHolderDataSet, protocol::kFormUseDataSet,
                   protocol::kFormCountDataSet},
                  [this](const std::string& error, const ShellExchange::DataSets& sets) {
                    if (!error.empty()) {
                      Say(error, true);
                      return;
                    }
                    try {
                      Show(protocol::FormHistoryFromDataSets(sets),
                           protocol::UsesFromDataSets(sets),
                           protocol::FormCountsFromDataSets(sets));
                    } catch (const std::exception& e) {
                      Say(fmt::format("The history could not be read: {}", e.what()), true);
                    }
                  });
  // Said once the request is on its way: a refusal to send it has been said by then.
  if (Waiting()) {
    Say(fmt::format("Requesting the history of form {} of {}...", number, description), false);
  }
}

void FormHistory::Show(const protocol::FormHistory& history, std::vector<protocol::FormUse> uses,
                       std::vector<protocol::FormCount> counts) {
  mHistory = history;
  mUses = std::move(uses);
  mCounts = std::move(counts);
  mHasHistory = true;
  if (mChanged) mChanged(Change::History);
  const int index = CodeIndex(mFormTypes, history.formType);
  const std::string formType =
      index >= 0 ? mFormTypes[static_cast<std::size_t>(index)].second : history.formType;
  const std::size_t changes = history.entries.size();
  Say(fmt::format("{} of form {} of {}.",
                  changes == 1 ? std::string("1 change") : fmt::format("{} changes", changes),
                  history.number, formType),
      false);
}

std::vector<FormHistory::Row> FormHistory::Rows() const {
  std::vector<Row> rows;
  for (const auto& e : mHistory.entries) {
    const bool withdrawn = e.event == "WITHDRAW";
    rows.push_back({mTimeText ? mTimeText(e.at) : e.at, e.userName, e.what,
                    protocol::SerialRangesText({e.range}),
                    e.before ? protocol::HolderText(*e.before) : std::string(),
                    e.before ? protocol::StatusText(*e.before) : std::string(),
                    withdrawn ? "(withdrawn)" : protocol::HolderText(e.after),
                    withdrawn ? std::string() : protocol::StatusText(e.after),
                    withdrawn && !e.reason.empty() ? e.reason : e.comment, e.overrideReason,
                    e.receipt ? std::to_string(*e.receipt) : std::string()});
  }
  return rows;
}

std::vector<FormHistory::UseRow> FormHistory::UseRows() const {
  std::vector<UseRow> rows;
  for (const auto& u : mUses) {
    const std::string from = u.source.fileName.empty()
                                 ? u.sourceText
                                 : fmt::format("{} ({})", u.source.fileName, u.sourceText);
    std::string standing = u.standing ? "yes" : "superseded";
    if (u.supersedes)
      standing += fmt::format(", corrects #{}: {}", *u.supersedes, u.correctionReason);
    rows.push_back(
        {u.usedOn, protocol::DispositionCaption(u.disposition),
         u.registry ? std::to_string(u.registry) : std::string(), u.reference, u.note, from,
         fmt::format("{} by {}", mTimeText ? mTimeText(u.recordedAt) : u.recordedAt, u.recordedBy),
         standing});
  }
  return rows;
}

std::vector<FormHistory::CountRow> FormHistory::CountRows() const {
  std::vector<CountRow> rows;
  for (const auto& c : mCounts) {
    rows.push_back({std::to_string(c.number), c.troop + c.district,
                    mTimeText ? mTimeText(c.certifiedAt) : c.certifiedAt, c.certifiedBy,
                    protocol::CountOutcomeText(c.outcome), protocol::SettlementText(c.settled)});
  }
  return rows;
}

std::string FormHistory::SuggestedFileName() const {
  return fmt::format("form-history-{}-{}.csv", text::Trim(mHistory.formType), mHistory.number);
}

void FormHistory::ExportToCsv(const std::string& path) {
  const auto time = [this](const std::string& at) { return mTimeText ? mTimeText(at) : at; };
  if (auto said = ExportCsv(path, protocol::FormHistoryCsvRecords(mHistory, time), kTitle)) {
    Say(*said, false);
  }
}

}  // namespace fm::shell

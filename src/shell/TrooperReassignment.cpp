#include "shell/TrooperReassignment.h"

#include <fmt/format.h>

#include <chrono>

#include "base/Numbers.h"
#include "common/CommentStamp.h"
#include "platform/DataSet.h"
#include "platform/Recordset.h"
#include "platform/Services.h"
#include "platform/UiServices.h"
#include "shell/SearchSummary.h"
#include "shell/ShellExchange.h"

namespace fm::shell {

namespace {

TrooperReassignment::Chooser& ChooserHook() {
  static TrooperReassignment::Chooser chooser;
  return chooser;
}

std::string Cell(const protocol::DataSet& set, const protocol::Row& row, const char* column) {
  const int index = set.ColumnIndex(column);
  if (index < 0) return {};
  const protocol::Cell& cell = row[static_cast<std::size_t>(index)];
  if (const auto* s = std::get_if<std::string>(&cell)) return *s;
  if (const auto* i = std::get_if<std::int64_t>(&cell)) return std::to_string(*i);
  return {};
}

// A whole-number cell of the search's answer: an integer, or a text in the base grammar.
std::optional<std::int64_t> Number(const protocol::DataSet& set, const protocol::Row& row,
                                   const char* column) {
  const int index = set.ColumnIndex(column);
  if (index < 0) return std::nullopt;
  const protocol::Cell& cell = row[static_cast<std::size_t>(index)];
  if (const auto* i = std::get_if<std::int64_t>(&cell)) return *i;
  if (const auto* s = std::get_if<std::string>(&cell)) return text::WholeNumber(*s);
  return std::nullopt;
}

}  // namespace

void TrooperReassignment::SetChooser(Chooser chooser) { ChooserHook() = std::move(chooser); }

TrooperReassignment::TrooperReassignment(Chooser ask, std::function<void()> refresh)
    : mAsk(std::move(ask)),
      mRefresh(std::move(refresh)),
      mExchange(std::make_unique<ShellExchange>("TrooperReassignment")) {}

TrooperReassignment::~TrooperReassignment() = default;

bool TrooperReassignment::Waiting() const { return mExchange->Waiting(); }

std::vector<TrooperReassignment::Trooper> TrooperReassignment::Colleagues(
    const std::vector<Trooper>& listed, const Trooper& from) {
  std::vector<Trooper> colleagues;
  for (const Trooper& t : listed) {
    if (t.registry != from.registry && t.troop == from.troop && t.district == from.district) {
      colleagues.push_back(t);
    }
  }
  return colleagues;
}

void TrooperReassignment::Start(const Trooper& from, const std::vector<Trooper>& candidates) {
  auto& ui = Services::Ui();
  if (candidates.empty()) {
    ui.MessageBox(fmt::format("No other trooper of {} is listed to take the ranges of {}.",
                              from.troop + from.district, from.name),
                  MsgBoxButtons::Ok, MsgBoxIcon::Exclamation, kTitle);
    return;
  }
  const Chooser& ask = ChooserHook() ? ChooserHook() : mAsk;
  const auto registry = ask ? ask(from, candidates) : std::nullopt;
  if (!registry) return;
  Trooper to;
  for (const auto& c : candidates) {
    if (c.registry == *registry) to = c;
  }
  if (to.registry == 0) return;

  Criteria criteria{{"TRP_ID", from.troop}};
  if (!from.district.empty()) criteria.emplace_back("TRP_DIST_ID", from.district);
  criteria.insert(criteria.end(), {{"ASGND_REG_NBR", std::to_string(from.registry)},
                                   {"TRP_ACTN_CD", "A"},
                                   {"INACTIVE", "N"},
                                   {"THIN", "YES"}});
  // A fresh search: the versions the save will carry are the ranges as they are now.
  mExchange->Send(
      protocol::kSearchMessage, criteria, {protocol::kTroopFormDataSet},
      [this, from, to, criteria](const std::string& error, const ShellExchange::DataSets& sets) {
        if (!error.empty()) {
          Services::Ui().MessageBox(
              fmt::format("The ranges of {} could not be searched:\r\n{}", from.name, error),
              MsgBoxButtons::Ok, MsgBoxIcon::Critical, kTitle);
          return;
        }
        auto found = sets.find(protocol::kTroopFormDataSet);
        Confirm(from, to, criteria, found == sets.end() ? protocol::DataSet{} : found->second);
      });
}

void TrooperReassignment::Confirm(const Trooper& from, const Trooper& to, const Criteria& criteria,
                                  const protocol::DataSet& found) {
  auto& ui = Services::Ui();
  const std::string station = from.troop + from.district;
  if (found.rows.empty()) {
    ui.MessageBox(fmt::format("{} holds no ranges in use at {}; there is nothing to reassign.",
                              from.name, station),
                  MsgBoxButtons::Ok, MsgBoxIcon::Information, kTitle);
    return;
  }
  std::int64_t forms = 0;
  for (const auto& row : found.rows) {
    const auto first = Number(found, row, "FRM_FORM_NBR");
    const auto last = Number(found, row, "TO_FORM_NBR");
    if (!first || !last) {
      ui.MessageBox(fmt::format("The ranges of {} could not be searched:\r\nthe answer has a "
                                "range without its form numbers.",
                                from.name),
                    MsgBoxButtons::Ok, MsgBoxIcon::Critical, kTitle);
      return;
    }
    forms += *last - *first + 1;
  }
  const std::size_t count = found.rows.size();
  const MsgBoxResult answer = ui.MessageBox(
      fmt::format("Reassign the {} range{} in use at {} ({} forms) of {} to {}?\r\n\r\nAll of "
                  "them are reassigned in one save, or none if any of them changed since.",
                  count, count == 1 ? "" : "s", station, GroupedNumber(forms), from.name, to.name),
      MsgBoxButtons::YesNo, MsgBoxIcon::Question, kTitle);
  if (answer != MsgBoxResult::Yes) return;

  // The change rows as the screen writes them: texts, the holder and status each keeps, the
  // version the search answered, and a stamped comment saying what happened.
  std::vector<FieldDef> fields;
  for (const char* name : {"ACTION", "FORM_TYP_CD", "FRM_FORM_NBR", "TO_FORM_NBR", "TRP_ID",
                           "TRP_DIST_ID", "ASGND_REG_NBR", "TRP_ACTN_CD", "FORM_QTR_DT",
                           "FORM_YR_DT", "TRP_FORM_CMMT_TXT", "ROW_VERSION"}) {
    fields.push_back({name, FieldType::Text, 0});
  }
  auto rows = std::make_shared<Recordset>(fields);
  const std::string comment = fmt::format("Reassigned from {} to {}", from.name, to.name) +
                              CommentStamp(std::chrono::system_clock::now());
  for (const auto& row : found.rows) {
    rows->AddNew();
    rows->SetValue("ACTION", std::string("UPD"));
    for (const char* column :
         {"FORM_TYP_CD", "FRM_FORM_NBR", "TO_FORM_NBR", "TRP_ID", "TRP_DIST_ID", "TRP_ACTN_CD",
          "FORM_QTR_DT", "FORM_YR_DT", "ROW_VERSION"}) {
      const std::string value = Cell(found, row, column);
      if (!value.empty()) rows->SetValue(column, value);
    }
    rows->SetValue("ASGND_REG_NBR", std::to_string(to.registry));
    rows->SetValue("TRP_FORM_CMMT_TXT", comment);
    rows->Update();
  }
  mExchange->Send(
      protocol::kSaveRequeryMessage, criteria, {protocol::kTroopFormDataSet},
      [this, from, to, count, forms](const std::string& error, const ShellExchange::DataSets&) {
        if (!error.empty()) {
          Services::Ui().MessageBox(
              fmt::format("The ranges of {} were not reassigned; nothing was changed.\r\n\r\n{}",
                          from.name, error),
              MsgBoxButtons::Ok, MsgBoxIcon::Critical, kTitle);
          return;
        }
        Services::Ui().MessageBox(
            fmt::format("Reassigned {} range{} ({} forms) from {} to {}.", count,
                        count == 1 ? "" : "s", GroupedNumber(forms), from.name, to.name),
            MsgBoxButtons::Ok, MsgBoxIcon::Information, kTitle);
        if (mRefresh) mRefresh();
      },
      DataSet::Wrap(rows));
}

}  // namespace fm::shell

#include "controls/OfficerSelect.h"

#include <fmt/format.h>

#include "base/Text.h"
#include "platform/LocalDatabase.h"
#include "platform/PlatformError.h"
#include "platform/Recordset.h"
#include "platform/Services.h"
#include "platform/SiteSettings.h"

namespace fm {
namespace {

constexpr const char* kOfficersSql =
    "SELECT INSP_ID, INSP_NME_LST, INSP_NME_FRST, INSP_NME_MDL_INT, DIST_ID, SUB_DIST_ID "
    "FROM MVE061TB WHERE REGION = ? "
    "AND (INSP_DUTY_END_DT IS NULL OR INSP_DUTY_END_DT >= date()) "
    "ORDER BY INSP_NME_LST COLLATE NOCASE, INSP_NME_FRST COLLATE NOCASE, INSP_ID";

std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  std::string current;
  for (char c : text) {
    if (c == ' ' || c == ',' || c == '\t') {
      if (!current.empty()) words.push_back(std::move(current));
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) words.push_back(std::move(current));
  return words;
}

}  // namespace

std::string OfficerSelect::Officer::DisplayText() const {
  std::string name = text::ToUpper(lastName);
  if (!firstName.empty()) name += ", " + text::ToUpper(firstName);
  if (!middleInitial.empty())
    name += (firstName.empty() ? ", " : " ") + text::ToUpper(middleInitial);
  std::string display = fmt::format("{}  {}", registryNumber, name);
  if (!dutyStation.empty()) display += fmt::format("  ({})", dutyStation);
  return display;
}

void OfficerSelect::SetDatabase(std::shared_ptr<LocalDatabase> database) {
  mDatabase = std::move(database);
}

void OfficerSelect::Start() {
  std::shared_ptr<LocalDatabase> database = mDatabase ? mDatabase : Services::Database();
  if (!database) {
    throw PlatformError(
        PlatformError::kGeneric,
        fmt::format("{} cannot list the officers: there is no local database", Name()));
  }
  const std::string region = text::ToUpper(text::Trim(Services::Settings().Region()));
  const auto rows = database->Query(kOfficersSql, {Value(region)});
  std::vector<Officer> officers;
  const long count = rows->RecordCount();
  officers.reserve(static_cast<std::size_t>(count));
  for (long i = 0; i < count; ++i) {
    Officer officer;
    officer.registryNumber = text::Trim(rows->ValueAt(i, 0).ToText());
    officer.lastName = text::Trim(rows->ValueAt(i, 1).ToText());
    officer.firstName = text::Trim(rows->ValueAt(i, 2).ToText());
    officer.middleInitial = text::Trim(rows->ValueAt(i, 3).ToText());
    officer.dutyStation =
        text::Trim(rows->ValueAt(i, 4).ToText()) + text::Trim(rows->ValueAt(i, 5).ToText());
    officers.push_back(std::move(officer));
  }
  mOfficers = std::move(officers);
  mFilter.clear();
  mChosen.reset();
  ApplyFilter();
}

void OfficerSelect::SetFilterText(std::string filter) {
  if (filter == mFilter) return;
  mFilter = std::move(filter);
  ApplyFilter();
}

bool OfficerSelect::Matches(const Officer& officer, const std::vector<std::string>& words) const {
  std::vector<std::string> parts = Words(officer.lastName);
  for (auto& part : Words(officer.firstName)) parts.push_back(std::move(part));
  for (auto& part : Words(officer.middleInitial)) parts.push_back(std::move(part));
  for (const auto& word : words) {
    bool found = text::StartsWithNoCase(officer.registryNumber, word);
    for (std::size_t i = 0; i < parts.size() && !found; ++i) {
      found = text::StartsWithNoCase(parts[i], word);
    }
    if (!found) return false;
  }
  return true;
}

void OfficerSelect::ApplyFilter() {
  const std::vector<std::string> words = Words(mFilter);
  mListed.clear();
  for (std::size_t i = 0; i < mOfficers.size(); ++i) {
    if (Matches(mOfficers[i], words)) mListed.push_back(static_cast<int>(i));
  }
  NotifyChanged();
}

const OfficerSelect::Officer& OfficerSelect::OfficerAt(int index) const {
  if (index < 0 || index >= OfficerCount()) {
    throw PlatformError(
        PlatformError::kGeneric,
        fmt::format("{} lists no officer at {} (it lists {})", Name(), index, OfficerCount()));
  }
  return mOfficers[static_cast<std::size_t>(mListed[static_cast<std::size_t>(index)])];
}

bool OfficerSelect::Choose(int index) {
  const Officer& officer = OfficerAt(index);
  if (!IsUsable()) return false;
  mChosen = officer;
  NotifyChanged();
  OfficerSelected.Emit(mChosen->DisplayText());
  return true;
}

std::string OfficerSelect::RegistryNumber() const {
  return mChosen ? mChosen->registryNumber : std::string();
}
std::string OfficerSelect::LastName() const { return mChosen ? mChosen->lastName : std::string(); }
std::string OfficerSelect::FirstName() const {
  return mChosen ? mChosen->firstName : std::string();
}
std::string OfficerSelect::MiddleInitial() const {
  return mChosen ? mChosen->middleInitial : std::string();
}

}  // namespace fm

#include "controls/CodesCombo.h"

#include <fmt/format.h>

#include "base/Text.h"
#include "platform/LocalDatabase.h"
#include "platform/PlatformError.h"
#include "platform/Recordset.h"
#include "platform/Services.h"
#include "platform/SiteSettings.h"

namespace fm {
namespace {
constexpr const char* kEntriesSql =
    "SELECT CD_TBL_CD, CD_TBL_DES FROM RVO_CODE WHERE REGION = ? AND CD_TBL_ID = ? "
    "AND EFCTV_DT <= date() AND (END_DT IS NULL OR END_DT >= date()) ORDER BY CD_TBL_DES";
}  // namespace

void CodesCombo::SetCodeType(std::string codeType) {
  if (codeType == mCodeType) return;
  mCodeType = std::move(codeType);
  mLoaded = false;
}

void CodesCombo::SetSourceSql(std::string sql) {
  if (sql == mSourceSql) return;
  mSourceSql = std::move(sql);
  mLoaded = false;
}

void CodesCombo::SetDatabase(std::shared_ptr<LocalDatabase> database) {
  mDatabase = std::move(database);
  mLoaded = false;
}

const std::vector<CodesCombo::Entry>& CodesCombo::Entries() {
  EnsureLoaded();
  return mEntries;
}

void CodesCombo::EnsureLoaded() {
  if (!mLoaded) Load();
}

void CodesCombo::Load() {
  if (mSourceSql.empty() && text::Trim(mCodeType).empty()) {
    throw PlatformError(PlatformError::kGeneric,
                        fmt::format("{} has neither a code type nor a source SQL to read its "
                                    "entries from",
                                    Name()));
  }
  std::shared_ptr<LocalDatabase> database = mDatabase ? mDatabase : Services::Database();
  if (!database) {
    throw PlatformError(
        PlatformError::kGeneric,
        fmt::format("{} cannot read its entries: there is no local database", Name()));
  }
  std::shared_ptr<Recordset> rows;
  if (mSourceSql.empty()) {
    const std::string region = text::ToUpper(text::Trim(Services::Settings().Region()));
    rows = database->Query(kEntriesSql, {Value(region), Value(mCodeType)});
  } else {
    rows = database->Query(mSourceSql);
    if (rows->FieldCount() < 2) {
      throw PlatformError(PlatformError::kGeneric,
                          fmt::format("The source SQL of {} must select a code and a "
                                      "description; it selects {} column(s)",
                                      Name(), rows->FieldCount()));
    }
  }
  std::vector<Entry> entries;
  const long count = rows->RecordCount();
  entries.reserve(static_cast<std::size_t>(count));
  for (long i = 0; i < count; ++i) {
    entries.push_back({rows->ValueAt(i, 0).ToText(), rows->ValueAt(i, 1).ToText()});
  }
  mEntries = std::move(entries);
  mLoaded = true;
  NotifyChanged();
}

void CodesCombo::Reload() {
  const std::string previousCode = SelectedCode();
  mLoaded = false;
  Load();
  int index = -1;
  for (std::size_t i = 0; i < mEntries.size() && !previousCode.empty(); ++i) {
    if (mEntries[i].code == previousCode) {
      index = static_cast<int>(i);
      break;
    }
  }
  if (index >= 0 && mEntries[static_cast<std::size_t>(index)].description == mText) {
    // The same entry at another place in the list: not a change the screen must hear of.
    mSelected = index;
    return;
  }
  Select(index, index >= 0 ? mEntries[static_cast<std::size_t>(index)].description
                           : (mValidateDesc ? std::string() : mText));
}

std::string CodesCombo::SelectedCode() const {
  return mSelected >= 0 ? mEntries[static_cast<std::size_t>(mSelected)].code : std::string();
}

std::string CodesCombo::SelectedDescription() const {
  return mSelected >= 0 ? mEntries[static_cast<std::size_t>(mSelected)].description : std::string();
}

void CodesCombo::CheckIndex(int index) const {
  if (index < -1 || index >= static_cast<int>(mEntries.size())) {
    throw PlatformError(PlatformError::kGeneric,
                        fmt::format("Invalid entry index {} for {}, which offers {} entries", index,
                                    Name(), mEntries.size()));
  }
}

void CodesCombo::Select(int index, std::string shown) {
  if (index == mSelected && shown == mText) return;
  mSelected = index;
  mText = std::move(shown);
  NotifyChanged();
  Change.Emit();
}

void CodesCombo::SetSelectionFromText(std::string_view wanted) {
  const std::string trimmed = text::Trim(wanted);
  if (trimmed.empty()) {
    Select(-1, {});
    return;
  }
  EnsureLoaded();
  for (std::size_t i = 0; i < mEntries.size(); ++i) {
    if (text::EqualsNoCase(text::Trim(mEntries[i].description), trimmed)) {
      Select(static_cast<int>(i), mEntries[i].description);
      return;
    }
  }
  Select(-1, mValidateDesc ? std::string() : std::string(wanted));
}

void CodesCombo::SetSelectedIndex(int index) {
  EnsureLoaded();
  CheckIndex(index);
  Select(index, index >= 0 ? mEntries[static_cast<std::size_t>(index)].description : std::string());
}

bool CodesCombo::ChooseEntry(int index) {
  EnsureLoaded();
  CheckIndex(index);
  if (index < 0 || !IsUsable() || index == mSelected) return false;
  SetSelectedIndex(index);
  return true;
}

}  // namespace fm

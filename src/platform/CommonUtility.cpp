#include "platform/CommonUtility.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <string_view>
#include <vector>

#include "base/Text.h"
#include "platform/LocalDatabase.h"
#include "platform/PlatformError.h"
#include "platform/ReplyStore.h"
#include "platform/SiteSettings.h"
#include "platform/UiElement.h"

namespace fm {

namespace {

constexpr int kBackspace = 8;

// Fixed texts with bound values: the database prepares each text once and reuses it for
// every key stroke's check. Trimming and upper-casing the stored side keeps the checks
// indifferent to how the tables were filled.
constexpr std::string_view kTroopSql =
    "SELECT TRP_ID FROM TROOP WHERE UPPER(TRIM(REGION)) = ? AND UPPER(TRIM(TRP_ID)) = ? "
    "LIMIT 1";
constexpr std::string_view kTroopDistrictSql =
    "SELECT TRP_DIST_ID FROM TRP_DIST WHERE UPPER(TRIM(REGION)) = ? "
    "AND UPPER(TRIM(TRP_ID)) = ? AND UPPER(TRIM(TRP_DIST_ID)) = ? LIMIT 1";
// The casts make the comparison numeric whatever the column's declared type and however
// the value is bound.
constexpr std::string_view kRegistrySql =
    "SELECT INSP_ID FROM MVE061TB WHERE UPPER(TRIM(REGION)) = ? "
    "AND CAST(INSP_ID AS INTEGER) = CAST(? AS INTEGER) LIMIT 1";
constexpr std::string_view kUserNameSql =
    "SELECT INSP_NME_FRST, INSP_NME_LST FROM MVE061TB WHERE UPPER(TRIM(REGION)) = ? "
    "AND CAST(INSP_ID AS INTEGER) = CAST(? AS INTEGER) LIMIT 1";

std::string TrimUpper(std::string_view text) { return text::ToUpper(text::Trim(text)); }

bool IsAsciiDigit(int c) { return c >= '0' && c <= '9'; }
bool IsAsciiLetter(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

LocalDatabase& Database(const std::shared_ptr<LocalDatabase>& database) {
  if (!database) {
    throw PlatformError(PlatformError::kGeneric,
                        "The Troop/District and registry checks have no local database");
  }
  return *database;
}

const SiteSettings& Settings(const std::shared_ptr<SiteSettings>& settings) {
  if (!settings) {
    throw PlatformError(PlatformError::kGeneric, "The common utility has no site settings");
  }
  return *settings;
}

// The stored regions are compared trimmed and upper-cased, so the setting is too.
std::string Region(const std::shared_ptr<SiteSettings>& settings) {
  return TrimUpper(Settings(settings).Region());
}

}  // namespace

CommonUtility::CommonUtility(std::shared_ptr<LocalDatabase> database,
                             std::shared_ptr<SiteSettings> settings,
                             std::shared_ptr<ReplyStore> replies)
    : mDatabase(std::move(database)),
      mSettings(std::move(settings)),
      mReplies(std::move(replies)) {}

std::string CommonUtility::ReplyCheck(const std::string& identity, const std::string& /*source*/,
                                      const std::string& requestId) const {
  if (!mReplies) {
    throw PlatformError(PlatformError::kGeneric, "The reply check has no reply store");
  }
  if (!mReplies->HasReply(identity, requestId)) {
    return fmt::format("No reply was received for request {}.", requestId);
  }
  return mReplies->Error(identity, requestId);
}

void CommonUtility::MarkInError(UiElement& control) const { control.SetErrorMark(true); }

void CommonUtility::ClearMark(UiElement& control) const { control.SetErrorMark(false); }

bool CommonUtility::DigitKeyTest(int keyAscii) const {
  return IsAsciiDigit(keyAscii) || keyAscii == kBackspace;
}

bool CommonUtility::TroopDistrictKeyTest(int keyAscii) const {
  return IsAsciiLetter(keyAscii) || IsAsciiDigit(keyAscii) || keyAscii == kBackspace;
}

bool CommonUtility::TroopTest(const std::string& troop) const {
  const std::string key = TrimUpper(troop);
  if (key.empty()) return false;
  return Database(mDatabase)
             .Query(kTroopSql, {Value(Region(mSettings)), Value(key)})
             ->RecordCount() > 0;
}

bool CommonUtility::TroopAndDistrictTest(const std::string& troop,
                                         const std::string& district) const {
  const std::string troopKey = TrimUpper(troop);
  const std::string districtKey = TrimUpper(district);
  if (troopKey.empty() || districtKey.empty()) return false;
  return Database(mDatabase)
             .Query(kTroopDistrictSql,
                    {Value(Region(mSettings)), Value(troopKey), Value(districtKey)})
             ->RecordCount() > 0;
}

bool CommonUtility::RegistryCheck(long registry) const {
  return Database(mDatabase)
             .Query(kRegistrySql,
                    {Value(Region(mSettings)), Value(static_cast<std::int64_t>(registry))})
             ->RecordCount() > 0;
}

bool CommonUtility::Switch(const std::string& name) const {
  return Settings(mSettings).Switch(name);
}

std::string CommonUtility::UserName(long userId, bool /*reserved*/) const {
  auto rows = Database(mDatabase).Query(
      kUserNameSql, {Value(Region(mSettings)), Value(static_cast<std::int64_t>(userId))});
  if (rows->RecordCount() > 0) {
    rows->MoveFirst();
    const std::string first = text::Trim(rows->GetText("INSP_NME_FRST"));
    const std::string last = text::Trim(rows->GetText("INSP_NME_LST"));
    if (!first.empty() && !last.empty()) return first + " " + last;
    if (!first.empty() || !last.empty()) return first + last;
  }
  return fmt::format("User {}", userId);
}

void CommonUtility::DialogSetUp(UiElement& form) const {
  if (mDialogLook) mDialogLook(form);
}

void CommonUtility::GridNormalAppearance(UiElement& grid) const {
  if (mGridLook) mGridLook(grid);
}

}  // namespace fm

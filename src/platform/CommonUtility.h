#pragma once

#include <functional>
#include <memory>
#include <string>

namespace fm {

class LocalDatabase;
class ReplyStore;
class SiteSettings;
class UiElement;

// The common library's utility object: reply check, error marks, key tests, the
// Troop/District and registry checks against the local database, named switches, the
// user's display name and the look of dialogs and grids.
class CommonUtility {
 public:
  CommonUtility(std::shared_ptr<LocalDatabase> database, std::shared_ptr<SiteSettings> settings,
                std::shared_ptr<ReplyStore> replies);

  // Any of the three may be nullptr; a call that needs the missing one throws PlatformError.
  // The database checks throw PlatformError when the database refuses the query.

  // The empty text when the reply to `requestId` for `identity` succeeded; otherwise the
  // reply's error text (a reply that never came answers a text that says so).
  std::string ReplyCheck(const std::string& identity, const std::string& source,
                         const std::string& requestId) const;

  void MarkInError(UiElement& control) const;
  void ClearMark(UiElement& control) const;

  // Digits and backspace.
  bool DigitKeyTest(int keyAscii) const;
  // Letters, digits and backspace.
  bool TroopDistrictKeyTest(int keyAscii) const;
  // The troop (one character) is a troop of the region. Letter case ignored.
  bool TroopTest(const std::string& troop) const;
  // The district is a district of that troop in the region. Letter case ignored.
  bool TroopAndDistrictTest(const std::string& troop, const std::string& district) const;
  // An officer of the region has this registry number.
  bool RegistryCheck(long registry) const;
  // A named switch of the site settings ("VoidManualForms").
  bool Switch(const std::string& name) const;
  // The display name of a user (first name, blank, last name, from the officer table), or
  // "User <id>" when the table does not know the id. `reserved` is not read.
  std::string UserName(long userId, bool reserved = false) const;

  // The look of dialogs and grids: no-ops until a renderer installs its look.
  void DialogSetUp(UiElement& form) const;
  void GridNormalAppearance(UiElement& grid) const;

  // Installed by the renderer (the screen model has no look of its own); an empty hook
  // makes the matching call above a no-op again.
  using LookHook = std::function<void(UiElement&)>;
  void SetDialogLook(LookHook look) { mDialogLook = std::move(look); }
  void SetGridLook(LookHook look) { mGridLook = std::move(look); }

 private:
  std::shared_ptr<LocalDatabase> mDatabase;
  std::shared_ptr<SiteSettings> mSettings;
  std::shared_ptr<ReplyStore> mReplies;
  LookHook mDialogLook;
  LookHook mGridLook;
};

}  // namespace fm

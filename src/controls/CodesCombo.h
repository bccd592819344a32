#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "controls/Control.h"
#include "controls/Signal.h"

namespace fm {

class LocalDatabase;

// The toolbox's code combo: offers the entries in force of one code table of the
// installation's region (design setting `codetype`, e.g. "FORMTYPE") and tells the screen
// which entry is selected.
//
// Entries are read on first use (anything that needs them: the entry list, a selection by
// text or index) from the local database (SetDatabase, else Services::Database()), with
// the region from Services::Settings(), trimmed and upper-cased:
//   SELECT CD_TBL_CD, CD_TBL_DES FROM RVO_CODE WHERE REGION = ? AND CD_TBL_ID = ?
//     AND EFCTV_DT <= date() AND (END_DT IS NULL OR END_DT >= date()) ORDER BY CD_TBL_DES
// A non-empty `sourcesql` replaces that statement; its first two columns are the code and
// the description. Changing either setting reads the entries again on next use.
//
// Selection: by code (SetSelectedIndex, SetSelectionFromText) or by the user
// (ChooseEntry). Change is raised whenever the selected entry or the shown text changes,
// whoever changed it. SetSelectionFromText matches the descriptions trimmed, letter case
// ignored; the empty text, or one that matches nothing, leaves no entry selected. With
// `validatedesc` off, an unmatched text still shows as the combo's text (free text); with
// it on (the default), the combo never shows a text that is not an entry.
//
// Errors: a database failure while reading the entries throws PlatformError with the
// database's words (the entries are read again on next use); an index out of range throws
// PlatformError naming the combo.
class CodesCombo final : public Control {
 public:
  struct Entry {
    std::string code;
    std::string description;
  };

  explicit CodesCombo(const Site& site) : Control(site) {}

  ControlKind Kind() const override { return ControlKind::CodesCombo; }
  bool CanFocus() const override { return true; }

  // --- Design settings
  const std::string& CodeType() const { return mCodeType; }
  void SetCodeType(std::string codeType);
  const std::string& SourceSql() const { return mSourceSql; }
  void SetSourceSql(std::string sql);
  bool ValidateDesc() const { return mValidateDesc; }
  void SetValidateDesc(bool validate) { mValidateDesc = validate; }
  // The database to read; nullptr (the default) means Services::Database() at load time.
  void SetDatabase(std::shared_ptr<LocalDatabase> database);

  // --- Entries (read on first use)
  const std::vector<Entry>& Entries();
  int EntryCount() { return static_cast<int>(Entries().size()); }
  bool IsLoaded() const { return mLoaded; }
  // Reads the entries again; the selection stays on the same code if it still exists.
  void Reload();

  // --- Selection
  int SelectedIndex() const { return mSelected; }
  // The empty text when no entry is selected.
  std::string SelectedCode() const;
  std::string SelectedDescription() const;
  // What the combo shows.
  const std::string& Text() const { return mText; }
  void SetSelectionFromText(std::string_view text);
  // -1 selects nothing.
  void SetSelectedIndex(int index);
  // The user picks an entry; ignored when the combo cannot be used. Answers whether the
  // selection changed.
  bool ChooseEntry(int index);

  Signal<> Change;

 private:
  void EnsureLoaded();
  void Load();
  void CheckIndex(int index) const;
  // Sets selection and text; raises Change when either differs.
  void Select(int index, std::string text);

  std::string mCodeType;
  std::string mSourceSql;
  bool mValidateDesc = true;
  std::shared_ptr<LocalDatabase> mDatabase;
  bool mLoaded = false;
  std::vector<Entry> mEntries;
  int mSelected = -1;
  std::string mText;
};

}  // namespace fm

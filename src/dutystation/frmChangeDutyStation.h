#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "controls/Form.h"

namespace fm {

class CommandButton;
class DataSet;
class Frame;
class Label;
class TextBox;

// The Change Troop/District dialog: shows one range read-only, takes the new Troop/District
// and a comment, checks them and builds the change row that moves the range.
//
// Use (the document does this for each change): LoadForm, PassParameters with the range's
// parameter text (ParameterText.h: nine fields, escaped), ShowModal, read Recordset, then
// UnloadForm. Save with a valid entry stamps the comment, builds the change row and hides
// the dialog; a refused entry shows its message and keeps the dialog open with what the
// user typed; Close (or Escape) hides it with no change row.
//
// Ownership: the dialog owns its controls and the change data set; Recordset hands out a
// shared reference that stays valid after the dialog is unloaded or destroyed.
//
// Errors: every procedure runs under the error trap ("TARVO_ChangeDutyStation.<name>";
// TroopDistrictCheck and txtTroopDistrict_Change under "frmChangeDutyStation.<name>"). A
// parameter text without exactly nine fields is reported there and fills nothing.
class frmChangeDutyStation final : public Form {
 private:
  // Created before the entry boxes, which sit inside it.
  Frame& mRowSelected;

 public:
  using NowFunction = std::function<std::chrono::system_clock::time_point()>;

  frmChangeDutyStation();
  ~frmChangeDutyStation() override;

  // --- Interface used by the document
  // The range to change, as the document packs it (fields in this order: from, to,
  // assigned-to text, troop, district, form-type code, comment, quarter, year).
  void PassParameters(std::string& parameters);
  // The change row after a successful Save; nullptr before it and after Close.
  std::shared_ptr<DataSet> Recordset() const { return mChangeRecordset; }
  // The date and time the comment stamp carries (a seam for tests; the system clock by
  // default).
  void SetNow(NowFunction now) { mNow = std::move(now); }

  // --- Controls
  // The frame "Row Selected", the only element of its array.
  Frame& fraForm(int index) const;
  Label& lblForm(int index) const { return *mLblForm.at(static_cast<std::size_t>(index)); }
  CommandButton& cmdButton(int index) const {
    return *mCmdButton.at(static_cast<std::size_t>(index));
  }
  TextBox& txtTroopDistrict;
  TextBox& txtComments;

  // --- Event handlers (connected to the controls; tests may call them directly)
  void Form_Load();
  void cmdButton_Click(int index);
  void txtTroopDistrict_Change();
  void txtTroopDistrict_KeyPress(int& keyAscii);

  // --- Steps of Save
  void CheckEdit();
  bool TroopDistrictCheck();
  void TroopDistrictSplit();
  void SaveChanges();

  // --- State tests read
  const std::string& ErrorText() const { return mErrorText; }
  const std::string& OldTroop() const { return mOldTroop; }
  const std::string& OldDistrict() const { return mOldDistrict; }
  const std::string& NewTroop() const { return mNewTroop; }
  const std::string& NewDistrict() const { return mNewDistrict; }
  const std::string& FormTypeCode() const { return mFormTypeCode; }

 private:
  void CreateControls();
  void ConnectEvents();
  std::chrono::system_clock::time_point Now() const;

  std::array<Label*, 12> mLblForm{};
  std::array<CommandButton*, 2> mCmdButton{};

  std::shared_ptr<DataSet> mChangeRecordset;  // empty until Save, emptied by Close
  std::string mErrorText;
  bool mCheckCompleted = false;  // the last CheckEdit ran to its end
  std::string mOldTroop;
  std::string mOldDistrict;
  std::string mNewTroop;
  std::string mNewDistrict;
  std::string mFormTypeCode;
  NowFunction mNow;
};

}  // namespace fm

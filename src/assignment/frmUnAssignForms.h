#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "controls/ControlArray.h"
#include "controls/Form.h"

namespace fm {

class ComboBox;
class CommandButton;
class DataSet;
class Frame;
class Label;
class TextBox;

// The Assign / Change Status dialog: shows one selected form range, lets the clerk narrow
// it to a sub-range, choose a new status (a delisting reason) or confirm the officer it is
// assigned to, and write a comment; "Save" checks the entry and splits the selected range
// into change rows ("UPD" for the piece that starts where the range starts, "ADD" for the
// others) in a "TROOPFORM" data set.
//
// Use (the document does this for each operation): LoadForm (the status list is filled
// now, for the view mode in force), SetState with "ASSIGN" or "UNASSIGN" and the parameter
// text, ShowModal, read Recordset once the dialog is hidden, then UnloadForm.
//
// Parameter text: 14 fields joined by "~": officer name, officer registry, selected From,
// selected To, Assigned To text, grid row number, troop, district, form type, comment,
// status, row registry, quarter, year. The comment is the only field a clerk types freely;
// a text with more than 14 fields is read as a comment holding "~" (the fields before it
// counted from the front, those after it from the back).
//
// Save: a refused entry shows its message (exclamation box) and keeps the dialog open with
// what the clerk typed. A valid entry gets the comment stamp, its change rows, and the
// dialog hides. A failure while building the rows (a selected range that is not a whole
// number, a status that is no delisting reason in force) is reported, the comment loses
// the stamp again, no rows are kept and the dialog stays open. Range values are whole
// numbers of up to 19 digits; the splitting works on 64-bit integers and writes plain
// decimal text.
//
// Splitting: which case applies is decided by comparing the bounds' values, so "0150"
// and "150" are the same bound. The pieces outside the entered sub-range keep the
// selected row's registry (no officer, "0", when it had none), its comment (none when it
// had none) and status "A"; only the entered piece takes the new registry, status and the
// stamped comment.
//
// Ownership: the dialog owns its controls and the change data set; Recordset hands out a
// shared reference that stays valid after the dialog is unloaded or destroyed. Close,
// closing the window and unloading drop the dialog's own reference, so read Recordset
// after the dialog is hidden and before it is unloaded.
//
// Errors: every procedure runs under the error trap with the source text
// "frmUnAssignForms.<procedure>" (DelistingCode under "TARVO_FormsMaint.DelistingDescription").
// A parameter text with fewer than 14 fields is reported by SetState, which keeps what it
// applied before the missing field and answers false.
class frmUnAssignForms final : public Form {
 public:
  using NowFunction = std::function<std::chrono::system_clock::time_point()>;

  frmUnAssignForms();
  ~frmUnAssignForms() override;

  // --- Interface used by the document
  // Upper-cases and trims `Flag` (the caller's variable too), then lays the dialog out for
  // it and fills it from the parameter text. Answers whether the whole set-up was applied.
  bool SetState(std::string& Flag, std::string& Parameters);
  // The change rows after a successful Save; nullptr before it and after Close.
  std::shared_ptr<DataSet> Recordset() const { return mChangeRows; }
  // The date and time the comment stamp carries (a seam for tests; the system clock by
  // default).
  void SetNow(NowFunction now) { mNow = std::move(now); }

  // --- Dialog state, as SetState took it from the parameter text
  const std::string& Flag() const { return mFlag; }
  const std::string& Troop() const { return mTroop; }
  const std::string& District() const { return mDistrict; }
  const std::string& FormType() const { return mFormType; }
  const std::string& PreviousRegistry() const { return mPreviousRegistry; }
  const std::string& PreviousComment() const { return mPreviousComment; }

  // --- Controls (owned by the form; reached as the screen's code names them)
  // fraForm(0) "Row Selected" holds lblForm 0-2, 11, 12 and txtBox 0-2, 6, 7 (the selected
  // row, read-only); fraForm(1) holds the entry: lblForm 3-10, txtBox 3-5 and cboStatus.
  ControlArray<Frame> fraForm{"fraForm"};
  ControlArray<Label> lblForm{"lblForm"};
  ControlArray<TextBox> txtBox{"txtBox"};
  ComboBox& cboStatus;
  CommandButton& cmdOk;
  CommandButton& cmdCancel;

  // --- Event handlers (connected to the controls; tests may call them directly)
  void Form_Load();
  void Form_Activate();
  void Form_Unload(int& cancel);
  void cmdOk_Click();
  void cmdCancel_Click();
  void txtBox_KeyPress(int index, int& keyAscii);
  void txtBox_LostFocus(int index);

 private:
  // One change row to be: positions 0 action, 1 From, 2 To, 3 registry, 4 status code,
  // 5 comment; 6-10 unused. A position without a value takes the dialog's value; a
  // position given the empty text keeps it empty (an untouched piece whose row had no
  // comment stays without one).
  using ArgumentList = std::array<std::optional<std::string>, 11>;

  ComboBox& CreateControls();
  void ConnectEvents();
  std::chrono::system_clock::time_point Now() const;

  bool IsDataValid(bool& showMessages);
  void FillDelistingBox();
  std::string DelistingCode(const std::string& description);

  // --- Range splitting (RangeSplitting.cpp)
  void SplitEnteredRange();
  void BlankArray(ArgumentList& arguments);
  void MakeRecordset(ArgumentList& arguments);
  void RangesAreSame(ArgumentList& arguments);
  void RangesFromAreSame(ArgumentList& arguments);
  void RangesToAreSame(ArgumentList& arguments);
  void RangesForAllElse(ArgumentList& arguments);
  void SpecialSealDecalSendDTD(ArgumentList& arguments);
  void ApplyUnassignRule(ArgumentList& arguments);
  void SetUntouchedPiece(ArgumentList& arguments, std::int64_t from, std::int64_t to);

  // Dialog state. Strings start empty.
  std::string mFlag;                     // "ASSIGN", "UNASSIGN" or what the caller passed
  std::string mTroop;                    // the selected row's TRP_ID
  std::string mDistrict;                 // TRP_DIST_ID
  std::string mFormType;                 // FORM_TYP_CD
  std::string mPreviousRegistry;         // ASGND_REG_NBR
  std::string mPreviousComment;          // TRP_FORM_CMMT_TXT
  std::shared_ptr<DataSet> mChangeRows;  // created by Save, dropped by Close and Unload
  NowFunction mNow;
};

}  // namespace fm

// The Change Troop/District dialog: layout, entry checks and the change row.

#include "dutystation/frmChangeDutyStation.h"

#include <fmt/format.h>

#include <vector>

#include "base/Text.h"
#include "common/CommentStamp.h"
#include "common/MessageTitle.h"
#include "common/ParameterText.h"
#include "controls/CommandButton.h"
#include "controls/Frame.h"
#include "controls/Label.h"
#include "controls/TextBox.h"
#include "platform/CommonUtility.h"
#include "platform/DataSet.h"
#include "platform/ErrorTrap.h"
#include "platform/PlatformError.h"
#include "platform/Recordset.h"
#include "platform/Services.h"
#include "platform/UiServices.h"

namespace fm {

namespace {

constexpr std::size_t kParameterFieldCount = 9;
// The quarterly form type: only its ranges carry a quarter and a year.
constexpr const char* kQuarterlyFormType = "Y";

// Layout in twips. Labels sit a little lower than the boxes beside them, so that their
// text lines up with the boxes' text.
constexpr int kRowLabelHeight = 255;
constexpr int kRowBoxHeight = 288;
constexpr int kRowButtonHeight = 375;
constexpr int kLabelDrop = 30;
constexpr int kRow1Top = 360;
constexpr int kRow2Top = 780;
constexpr int kRow3Top = 1200;
constexpr int kCommentsTop = 1620;
constexpr int kCommentsHeight = 1200;
constexpr int kFrameWidth = 8400;
constexpr int kFrameHeight = kCommentsTop + kCommentsHeight + 180;

}  // namespace

frmChangeDutyStation::frmChangeDutyStation()
    : Form("frmChangeDutyStation", "Change Troop/District"),
      mRowSelected(Add<Frame>("fraForm", 0)),
      txtTroopDistrict(Add<TextBox>("txtTroopDistrict", -1, &mRowSelected)),
      txtComments(Add<TextBox>("txtComments", -1, &mRowSelected)) {
  CreateControls();
  ConnectEvents();
}

frmChangeDutyStation::~frmChangeDutyStation() = default;

Frame& frmChangeDutyStation::fraForm(int index) const {
  if (index != 0) {
    throw PlatformError(PlatformError::kGeneric,
                        fmt::format("frmChangeDutyStation has no fraForm({}); its only frame is "
                                    "fraForm(0)",
                                    index));
  }
  return mRowSelected;
}

void frmChangeDutyStation::CreateControls() {
  SetClientSize(kFrameWidth + 240, 120 + kFrameHeight + 120 + kRowButtonHeight + 120);

  mRowSelected.SetCaption("Row Selected");
  mRowSelected.SetFontBold(true);
  mRowSelected.Move(120, 120, kFrameWidth, kFrameHeight);

  for (int i = 0; i < static_cast<int>(mLblForm.size()); ++i) {
    mLblForm[static_cast<std::size_t>(i)] = &Add<Label>("lblForm", i, &mRowSelected);
  }
  struct Place {
    int index;
    const char* caption;
    int left;
    int top;
    int width;
  };
  // Captions on the left of each pair, values after them; the value labels start empty.
  const Place places[] = {
      {0, "From Range:", 120, kRow1Top, 1000},     {4, "", 1140, kRow1Top, 1100},
      {1, "To Range:", 2340, kRow1Top, 850},       {5, "", 3210, kRow1Top, 1100},
      {2, "Assigned To:", 4410, kRow1Top, 1000},   {6, "", 5430, kRow1Top, 2850},
      {10, "Qtr Year:", 120, kRow2Top, 1000},      {9, "", 1140, kRow2Top, 1100},
      {11, "Year:", 2340, kRow2Top, 850},          {8, "", 3210, kRow2Top, 1100},
      {3, "Troop/District:", 120, kRow3Top, 1200}, {7, "Comments:", 120, kCommentsTop, 1200},
  };
  for (const Place& place : places) {
    Label& label = lblForm(place.index);
    label.SetCaption(place.caption);
    label.Move(place.left, place.top + kLabelDrop, place.width, kRowLabelHeight);
  }

  txtTroopDistrict.Move(1380, kRow3Top, 600, kRowBoxHeight);
  txtTroopDistrict.SetMaxLength(3);
  txtComments.Move(1380, kCommentsTop, kFrameWidth - 1380 - 180, kCommentsHeight);
  txtComments.SetMultiLine(true);
  txtComments.SetMaxLength(254);

  const int buttonsTop = 120 + kFrameHeight + 120;
  for (int i = 0; i < static_cast<int>(mCmdButton.size()); ++i) {
    mCmdButton[static_cast<std::size_t>(i)] = &Add<CommandButton>("cmdButton", i);
  }
  cmdButton(0).SetCaption("Save");
  cmdButton(0).Move(120 + kFrameWidth - 2520, buttonsTop, 1200, kRowButtonHeight);
  cmdButton(1).SetCaption("Close");
  cmdButton(1).Move(120 + kFrameWidth - 1200, buttonsTop, 1200, kRowButtonHeight);
  cmdButton(1).SetCancel(true);

  // The clerk types the new station first, then the reason for the move.
  txtTroopDistrict.SetTabIndex(0);
  txtComments.SetTabIndex(1);
  cmdButton(0).SetTabIndex(2);
  cmdButton(1).SetTabIndex(3);
}

void frmChangeDutyStation::ConnectEvents() {
  Load.Connect([this] { Form_Load(); });
  for (int i = 0; i < static_cast<int>(mCmdButton.size()); ++i) {
    cmdButton(i).Click.Connect([this, i] { cmdButton_Click(i); });
  }
  txtTroopDistrict.Change.Connect([this] { txtTroopDistrict_Change(); });
  txtTroopDistrict.KeyPress.Connect([this](int& keyAscii) { txtTroopDistrict_KeyPress(keyAscii); });
}

std::chrono::system_clock::time_point frmChangeDutyStation::Now() const {
  return mNow ? mNow() : std::chrono::system_clock::now();
}

void frmChangeDutyStation::Form_Load() {
  Trap("TARVO_ChangeDutyStation.Form_Load", [&] {
    Services::Utility().DialogSetUp(*this);
    for (int index : {4, 5, 6}) lblForm(index).SetCaption("");
  });
}

void frmChangeDutyStation::PassParameters(std::string& parameters) {
  Trap("TARVO_ChangeDutyStation.PassParameters", [&] {
    const std::vector<std::string> fields = SplitParameterFields(parameters);
    if (fields.size() != kParameterFieldCount) {
      throw PlatformError(
          PlatformError::kGeneric,
          fmt::format("The range handed to the Change Troop/District dialog has {} fields; it "
                      "needs {} (from, to, assigned to, troop, district, form type, comment, "
                      "quarter, year) separated by \"~\"",
                      fields.size(), kParameterFieldCount));
    }
    lblForm(4).SetCaption(fields[0]);
    lblForm(5).SetCaption(fields[1]);
    lblForm(6).SetCaption(fields[2]);
    mOldTroop = fields[3];
    mOldDistrict = fields[4];
    mFormTypeCode = fields[5];
    // As if typed: the change handler checks and marks the entry at once.
    txtTroopDistrict.SetText(fields[3] + fields[4]);
    txtComments.SetText(fields[6]);

    const bool hasQuarter = !fields[7].empty();
    const bool hasYear = !fields[8].empty();
    lblForm(10).SetVisible(hasQuarter);
    lblForm(9).SetVisible(hasQuarter);
    lblForm(11).SetVisible(hasYear);
    lblForm(8).SetVisible(hasYear);
    lblForm(9).SetCaption(fields[7]);
    lblForm(8).SetCaption(fields[8]);
  });
}

void frmChangeDutyStation::TroopDistrictSplit() {
  Trap("TARVO_ChangeDutyStation.TroopDistrictSplit", [&] {
    // Positional: the troop is the first character, the district whatever follows it.
    const std::string troopDistrict = text::Trim(txtTroopDistrict.Text());
    const std::size_t afterFirst = text::ByteOffset(troopDistrict, 1);
    mNewTroop = troopDistrict.substr(0, afterFirst);
    mNewDistrict = troopDistrict.substr(afterFirst);
  });
}

bool frmChangeDutyStation::TroopDistrictCheck() {
  bool valid = false;
  Trap("frmChangeDutyStation.TroopDistrictCheck", [&] {
    TroopDistrictSplit();
    const CommonUtility& utility = Services::Utility();
    if (!text::Trim(mNewDistrict).empty()) {
      valid = utility.TroopAndDistrictTest(mNewTroop, mNewDistrict);
    } else if (!text::Trim(mNewTroop).empty()) {
      valid = utility.TroopTest(mNewTroop);
    } else {
      valid = false;  // a range cannot move to no station
    }
    if (valid) {
      utility.ClearMark(txtTroopDistrict);
    } else {
      utility.MarkInError(txtTroopDistrict);
    }
  });
  return valid;
}

void frmChangeDutyStation::txtTroopDistrict_Change() {
  Trap("frmChangeDutyStation.txtTroopDistrict_Change", [&] { TroopDistrictCheck(); });
}

void frmChangeDutyStation::txtTroopDistrict_KeyPress(int& keyAscii) {
  Trap("TARVO_ChangeDutyStation.txtTroopDistrict_KeyPress", [&] {
    if (!Services::Utility().TroopDistrictKeyTest(keyAscii)) {
      keyAscii = 0;
      Services::Ui().Beep();
    } else if (keyAscii >= 'a' && keyAscii <= 'z') {
      keyAscii -= 'a' - 'A';  // stations are stored in capitals
    }
  });
}

void frmChangeDutyStation::CheckEdit() {
  mErrorText.clear();
  mCheckCompleted = Trap("TARVO_ChangeDutyStation.CheckEdit", [&] {
    const CommonUtility& utility = Services::Utility();
    utility.ClearMark(txtTroopDistrict);
    const bool valid = TroopDistrictCheck();
    // One message at most: the first that applies says what to correct.
    if (mNewTroop.empty()) {
      mErrorText += "Troop and District is required.\r\n";
      utility.MarkInError(txtTroopDistrict);
    } else if (text::Trim(mOldTroop) + text::Trim(mOldDistrict) ==
               text::Trim(mNewTroop) + text::Trim(mNewDistrict)) {
      mErrorText += "Troop/District has not changed.\r\n";
    } else if (!valid) {
      mErrorText += "Please enter a valid Troop and District.\r\n";
    }
  });
}

void frmChangeDutyStation::cmdButton_Click(int index) {
  Trap("TARVO_ChangeDutyStation.cmdButton_Click", [&] {
    switch (index) {
      case 0:
        CheckEdit();
        // An entry whose check could not run is not saved unchecked.
        if (!mCheckCompleted) return;
        if (!mErrorText.empty()) {
          Services::Ui().MessageBox(mErrorText, MsgBoxButtons::Ok, MsgBoxIcon::Exclamation,
                                    MessageTitle());
          return;
        }
        txtComments.SetText(txtComments.Text() + CommentStamp(Now()));
        SaveChanges();
        break;
      case 1:
        mChangeRecordset.reset();
        Hide();
        break;
      default:
        break;
    }
  });
}

void frmChangeDutyStation::SaveChanges() {
  Trap("TARVO_ChangeDutyStation.SaveChanges", [&] {
    mChangeRecordset.reset();
    auto change = std::make_shared<DataSet>();
    change->SetSource("TROOPFORM");
    change->Open();
    fm::Recordset& row = change->GetRecordset();
    row.AddNew();
    row.SetValue("ACTION", "UPD");
    row.SetValue("FRM_FORM_NBR", lblForm(4).Caption());
    row.SetValue("TO_FORM_NBR", lblForm(5).Caption());
    row.SetValue("FORM_TYP_CD", mFormTypeCode);
    row.SetValue("TRP_ID", mNewTroop);
    row.SetValue("TRP_DIST_ID", mNewDistrict);
    row.SetValue("ASGND_REG_NBR", "0");  // a moved range is held by its new station
    row.SetValue("TRP_FORM_CMMT_TXT", txtComments.Text());
    if (mFormTypeCode == kQuarterlyFormType) {
      row.SetValue("FORM_QTR_DT", lblForm(9).Caption());
      row.SetValue("FORM_YR_DT", lblForm(8).Caption());
    }
    row.Update();
    // Handed out only once complete: a row that failed half-way must never be sent.
    mChangeRecordset = change;
    Hide();
  });
}

}  // namespace fm

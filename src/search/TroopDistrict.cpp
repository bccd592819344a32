// The Troop/District entry and the key, change and focus handlers of the entry boxes.

#include <string>
#include <string_view>

#include "base/Text.h"
#include "controls/TextBox.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/CommonUtility.h"
#include "platform/ErrorTrap.h"
#include "platform/Services.h"
#include "platform/UiServices.h"

namespace fm {

namespace {

constexpr int kBackspace = 8;

// Refuses a key: nothing is inserted and the user hears why.
void DiscardKey(int& keyAscii) {
  keyAscii = 0;
  Services::Ui().Beep();
}

bool IsLowerCaseLetter(int keyAscii) { return keyAscii >= 97 && keyAscii <= 122; }

// The quarter box takes only the quarters. A key already refused (code 0) is no quarter
// either, so it is refused a second time, beep included.
bool IsQuarterKey(int keyAscii) {
  if (keyAscii <= 0 || keyAscii > 127) return false;
  const char upper = text::ToUpper(std::string(1, static_cast<char>(keyAscii)))[0];
  return std::string_view("1234").find(upper) != std::string_view::npos;
}

}  // namespace

void TARVO_FormsMaint::TroopDistrictSplit() {
  Trap("TARVO_FormsMaint.TroopDistrictSplit", [&] {
    // Positional: the troop is one character, the district whatever follows it.
    const std::string troopDistrict = text::Trim(txtBox(0).Text());
    mSearch.mCurrent.troop = troopDistrict.substr(0, 1);
    mSearch.mCurrent.district = troopDistrict.size() > 1 ? troopDistrict.substr(1) : std::string();
  });
}

bool TARVO_FormsMaint::TroopDistrictCheck() {
  bool valid = false;
  Trap("TARVO_FormsMaint.TroopDistrictCheck", [&] {
    TroopDistrictSplit();
    CommonUtility& utility = Services::Utility();
    if (!text::Trim(mSearch.mCurrent.district).empty()) {
      valid = utility.TroopAndDistrictTest(mSearch.mCurrent.troop, mSearch.mCurrent.district);
    } else if (!text::Trim(mSearch.mCurrent.troop).empty()) {
      valid = utility.TroopTest(mSearch.mCurrent.troop);
    } else {
      valid = true;  // nothing typed is no error
    }
    if (valid) {
      utility.ClearMark(txtBox(0));
    } else {
      utility.MarkInError(txtBox(0));
    }
  });
  return valid;
}

void TARVO_FormsMaint::txtBox_KeyPress(int index, int& keyAscii) {
  Trap("TARVO_FormsMaint.txtBox_KeyPress", [&] {
    const CommonUtility& utility = Services::Utility();
    switch (index) {
      case 0:
        if (!utility.TroopDistrictKeyTest(keyAscii)) {
          DiscardKey(keyAscii);
        } else if (IsLowerCaseLetter(keyAscii)) {
          keyAscii -= 32;  // troops and districts are stored in capitals
        }
        break;
      case 1:
      case 2:
      case 3:
      case 6:
        if (!utility.DigitKeyTest(keyAscii)) DiscardKey(keyAscii);
        break;
      case 5:
        if (!utility.DigitKeyTest(keyAscii)) DiscardKey(keyAscii);
        if (keyAscii != kBackspace && !IsQuarterKey(keyAscii)) DiscardKey(keyAscii);
        break;
      default:  // the comment and the form number take any key
        break;
    }
  });
}

void TARVO_FormsMaint::txtBox_Change(int index) {
  Trap("TARVO_FormsMaint.txtBox_Change", [&] {
    if (index == 0) {
      // The New Forms entry fills the box itself and checks it afterwards.
      if (!mSearch.mSuppressTroopCheck) TroopDistrictCheck();
      EnableSearchButtons();
    } else if (index == 1 || index == 7) {
      EnableSearchButtons();
    }
  });
}

void TARVO_FormsMaint::txtBox_LostFocus(int /*index*/) {
  // Leaving any box refreshes every error mark, so a correction elsewhere shows at once.
  Trap("TARVO_FormsMaint.txtBox_LostFocus", [&] { CheckEdit(); });
}

}  // namespace fm

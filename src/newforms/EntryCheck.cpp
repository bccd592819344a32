// The entry check of the criteria and new-range area, and the bounds of the form types.

#include <fmt/format.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/Text.h"
#include "common/ScreenNumbers.h"
#include "controls/CodesCombo.h"
#include "controls/OptionButton.h"
#include "controls/TextBox.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/CommonUtility.h"
#include "platform/ErrorTrap.h"
#include "platform/Services.h"

namespace fm {

namespace {

// The numbers each form type is printed with. The highest number is kept as written, since
// the message quotes it; ten-digit types are the decals and seals.
struct FormTypeBounds {
  std::string_view key;
  std::string_view name;  // empty: the range message names no form type
  std::int64_t lowest;
  std::string_view highest;
};

constexpr std::array<FormTypeBounds, 10> kFormTypeBounds{{
    {"C", "ENF001", 1100001, "1999999"},
    {"M", "ENF003", 1000001, "1999999"},
    {"V", "ENF004", 1000, "1999999"},
    {"O", "ENF507", 1000001, "1999999"},
    {"T", "TEMPORARY PERMITS", 1000001, "1999999"},
    {"R", "RECEIPTS", 1200001, "1999999"},
    {"B", "OOS DECALS", 1, "9999999999"},
    {"Y", "CVSA DECALS", 1, "9999999999"},
    {"Z", "SEALS", 1, "9999999999"},
    {"K", "WRECKER DECALS", 1, "9999999"},
}};

// Any other code, none included.
constexpr FormTypeBounds kOtherFormType{"", "", 1000000, "1999999"};

const FormTypeBounds& BoundsOf(std::string_view key) {
  for (const auto& bounds : kFormTypeBounds) {
    if (bounds.key == key) return bounds;
  }
  return kOtherFormType;
}

void Append(std::string& messages, std::string_view message) {
  messages += message;
  messages += "\r\n";
}

}  // namespace

void TARVO_FormsMaint::CheckEdit() {
  Trap("TARVO_FormsMaint.CheckEdit", [&] {
    mEntry.mErrorMessages.clear();
    mEntry.mRangeMessage.clear();

    const CommonUtility& utility = Services::Utility();
    utility.ClearMark(qmCboFormTypes);
    for (int index : {0, 1, 2, 3, 7, 5, 6}) utility.ClearMark(txtBox(index));

    const std::string troopDistrict = text::ToUpper(text::Trim(txtBox(0).Text()));
    const std::string formType = text::ToUpper(text::Trim(qmCboFormTypes.SelectedCode()));
    const std::string registry = text::Trim(txtBox(1).Text());
    const std::string formNumber = text::Trim(txtBox(7).Text());
    const bool formsAssignment = optButton(0).Value();
    const bool newForms = optButton(1).Value();

    // Also splits the text into the troop and district that new rows take.
    const bool troopDistrictValid = TroopDistrictCheck();
    if (!troopDistrictValid && !troopDistrict.empty()) {
      Append(mEntry.mErrorMessages, "Please Enter a valid Troop/District");
      utility.MarkInError(txtBox(0));
    }

    if (!newForms && !registry.empty()) {
      if (!utility.RegistryCheck(TextToInt32(registry, "registry number"))) {
        Append(mEntry.mErrorMessages, "Please enter a valid Registry Number");
        utility.MarkInError(txtBox(1));
      }
    }

    if (formsAssignment) {
      // A registry number alone is a search; otherwise the form type and a place to look.
      if (formType.empty() && registry.empty()) {
        Append(mEntry.mErrorMessages, "Please Enter an Account Type to complete search criteria");
        utility.MarkInError(qmCboFormTypes);
      } else if (troopDistrict.empty() && registry.empty() && formNumber.empty()) {
        Append(mEntry.mErrorMessages,
               "Please Enter a Troop/District and/or a Registry Number and/or a Form Number to "
               "complete search criteria");
        utility.MarkInError(txtBox(0));
        utility.MarkInError(txtBox(1));
        utility.MarkInError(txtBox(7));
      }
    }

    if (!newForms) return;

    // An untouched entry area is no error: the user has not started a range yet.
    if (text::Trim(troopDistrict + formType + txtBox(2).Text() + txtBox(3).Text()).empty()) {
      return;
    }
    if (troopDistrict.empty()) {
      Append(mEntry.mErrorMessages, "Please Enter a valid Troop/District");
      utility.MarkInError(txtBox(0));
    }
    if (formType.empty()) {
      Append(mEntry.mErrorMessages, "Please enter a valid Account Type");
      utility.MarkInError(qmCboFormTypes);
    }
    // mRangeMessage keeps the message of the last range value that failed: a To value that
    // passes must not wipe out what was wrong with the From value.
    for (int index : {2, 3}) {
      std::string value = text::Trim(txtBox(index).Text());
      std::string message;
      if (!CheckEditRange(value, message)) {
        mEntry.mRangeMessage = message;
        Append(mEntry.mErrorMessages, mEntry.mRangeMessage);
        utility.MarkInError(txtBox(index));
      }
    }
    // Compared even when a bound failed: both mistakes are reported at once.
    if (LeadingNumber(txtBox(3).Text()) < LeadingNumber(txtBox(2).Text())) {
      Append(mEntry.mErrorMessages,
             "The 'From' Range must be less than or equal to the 'To' Range");
      utility.MarkInError(txtBox(2));
      utility.MarkInError(txtBox(3));
    }

    // CVSA decals are issued by quarter.
    if (formType == "Y") {
      const std::string quarter = text::Trim(txtBox(5).Text());
      if (quarter.empty()) {
        Append(mEntry.mErrorMessages, "Quarter Year is required");
        utility.MarkInError(txtBox(5));
      } else {
        const double value = TextToDouble(quarter, "quarter");
        if (value != 1 && value != 2 && value != 3 && value != 4) {
          Append(mEntry.mErrorMessages, "Quarter Year must be 1 to 4");
          utility.MarkInError(txtBox(5));
        }
      }
      const std::string year = text::Trim(txtBox(6).Text());
      if (year.empty()) {
        Append(mEntry.mErrorMessages, "Year is required");
        utility.MarkInError(txtBox(6));
      } else if (LeadingNumber(year) < 1950) {
        Append(mEntry.mErrorMessages, "Year must be at least 1950");
        utility.MarkInError(txtBox(6));
      }
    }
  });
}

bool TARVO_FormsMaint::CheckEditRange(std::string& value, std::string& message) {
  bool valid = false;
  Trap("TARVO_FormsMaint.CheckEditRange", [&] {
    message.clear();
    if (text::Trim(value).empty()) {
      message = "Please enter a valid range value";
      return;
    }
    if (!IsNumericText(value)) {
      message = "The Range value is not numeric";
      return;
    }
    const std::string key = text::ToUpper(text::Trim(qmCboFormTypes.SelectedCode()));
    const FormTypeBounds& bounds = BoundsOf(key);
    const double number = TextToDouble(value, "range value");
    const auto lowest = static_cast<double>(bounds.lowest);
    const double highest = TextToDouble(bounds.highest, "highest form number");
    if (lowest <= number && number <= highest) {
      valid = true;
      return;
    }
    message = fmt::format("The Range value {} must be equal to or between {} to {}", value,
                          bounds.lowest, bounds.highest);
    if (!bounds.name.empty()) message += fmt::format(" for form type {}", bounds.name);
  });
  return valid;
}

}  // namespace fm

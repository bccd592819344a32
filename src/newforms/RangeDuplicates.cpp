// The overlap rule of a new range: it may not share a form number with a range already
// waiting in the New Forms grid, nor with one the last search found.

#include <fmt/format.h>

#include <charconv>

#include "base/Numbers.h"
#include "base/Text.h"
#include "common/MessageTitle.h"
#include "controls/CodesCombo.h"
#include "controls/TextBox.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/DataSet.h"
#include "platform/ErrorTrap.h"
#include "platform/PlatformError.h"
#include "platform/Services.h"
#include "platform/UiServices.h"

namespace fm {

namespace {

// Form numbers reach ten digits, beyond 32 bits: they are compared as 64-bit numbers.
std::int64_t RangeNumber(const std::string& text) {
  const std::string_view trimmed = text::TrimBlanks(text);
  std::int64_t value = 0;
  if (text::ReadWholeNumber(trimmed, value) != text::WholeNumberStatus::kOk) {
    throw PlatformError(PlatformError::kTypeMismatch,
                        fmt::format("The range value '{}' is not a whole number", trimmed));
  }
  return value;
}

bool AnyRowMatches(const std::shared_ptr<DataSet>& dataSet, const std::string& filter) {
  if (!dataSet || !dataSet->IsOpen()) return false;
  const auto copy = dataSet->GetRecordset().Clone();
  copy->SetFilter(filter);
  return copy->RecordCount() > 0;
}

}  // namespace

bool TARVO_FormsMaint::CheckEditRangeDuplicates() {
  bool free = false;
  Trap("TARVO_FormsMaint.CheckEditRangeDuplicates", [&] {
    const std::int64_t from = RangeNumber(txtBox(2).Text());
    const std::int64_t to = RangeNumber(txtBox(3).Text());
    const std::string code = qmCboFormTypes.SelectedCode();

    // A stored range conflicts when it holds the new From or the new To, or when it lies
    // wholly inside the new range (it then holds neither end).
    const std::string filter = fmt::format(
        "(FORM_TYP_CD = '{0}' AND FRM_FORM_NBR <= {1} AND TO_FORM_NBR >= {1}) OR "
        "(FORM_TYP_CD = '{0}' AND FRM_FORM_NBR <= {2} AND TO_FORM_NBR >= {2}) OR "
        "(FORM_TYP_CD = '{0}' AND FRM_FORM_NBR >= {1} AND TO_FORM_NBR <= {2})",
        code, from, to);

    if (AnyRowMatches(mData.mNewForms, filter)) {
      Services::Ui().MessageBox("The New form range entered conflicts with an existing form range",
                                MsgBoxButtons::Ok, MsgBoxIcon::Exclamation, MessageTitle());
      return;
    }
    if (AnyRowMatches(mData.mFormsAssignment, filter)) {
      Services::Ui().MessageBox(
          "The Range entered conflicts with the form range available in the Forms Assignment "
          "window",
          MsgBoxButtons::Ok, MsgBoxIcon::Exclamation, MessageTitle());
      return;
    }
    free = true;
  });
  return free;
}

}  // namespace fm

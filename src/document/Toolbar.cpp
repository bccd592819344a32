// The host toolbar items the document switches, the command-button dispatcher, the
// Search/Clear enabling and the resizer's handlers.

#include <algorithm>

#include "common/MessageTitle.h"
#include "controls/CommandButton.h"
#include "controls/DataGrid.h"
#include "controls/OptionButton.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/DataSet.h"
#include "platform/ErrorTrap.h"
#include "platform/HostFrame.h"
#include "platform/PlatformError.h"
#include "platform/Services.h"
#include "platform/UiServices.h"

namespace fm {

namespace {
// The host's items the document owns while it is shown, in the order they are switched.
constexpr int kToolbarItems[] = {12, 9, 14, 7, 8};
constexpr int kSaveItem = 7;
}  // namespace

void TARVO_FormsMaint::ConfigureToolbar(bool enabled) {
  Trap("TARVO_FormsMaint.ConfigureToolbar", [&] {
    for (int item : kToolbarItems) Services::Frame().SetToolbarItem(item, enabled, HostTag());
  });
}

void TARVO_FormsMaint::EnableSaveToolbarItem() {
  Trap("TARVO_FormsMaint.EnableSaveToolbarItem", [&] {
    if (!mData.mNewForms) {
      throw PlatformError(PlatformError::kGeneric, "The new-forms data set does not exist yet");
    }
    Services::Frame().SetToolbarItem(kSaveItem, mData.mNewForms->RecordCount() >= 1, "");
  });
}

void TARVO_FormsMaint::EnableSearchButtons() {
  Trap("TARVO_FormsMaint.EnableSearchButtons", [&] {
    if (optButton(0).Value() || optButton(2).Value()) {
      cmdButton(0).SetEnabled(true);
      cmdButton(1).SetEnabled(true);
    }
  });
}

void TARVO_FormsMaint::cmdButton_Click(int index) {
  Trap("TARVO_FormsMaint.cmdButton_Click", [&] {
    switch (index) {
      case 0:
        ProcessCmdButtonSearchClick();
        break;
      case 1:
        ProcessCmdButtonClearClick();
        break;
      case 2:
      case 3: {
        std::int16_t button = static_cast<std::int16_t>(index);
        ProcessCmdButtonAssignUnAssignClick(button);
        break;
      }
      case 4:
        ProcessCmdButtonChangeTroopDistrictClick();
        break;
      case 5:
        ProcessCmdButtonAddOfficersClick();
        break;
      case 6:
        ProcessCmdButtonRemoveFormsClick();
        break;
      case 7:
        ProcessCmdButtonAddFormsClick();
        break;
      default:
        break;
    }
  });
  // Whatever the procedure did or however it ended, the clerk gets the pointer back.
  Trap("TARVO_FormsMaint.cmdButton_Click",
       [] { Services::Ui().SetMousePointer(MousePointer::Default); });
}

void TARVO_FormsMaint::rszResizer_BeforeResize(Control& control, Resizer::Settings& settings) {
  Trap("TARVO_FormsMaint.rszResizer_BeforeResize", [&] {
    // Text keeps its size whatever the window's (the captions were fitted to the font);
    // buttons also keep their width, so their captions stay whole. Where each control goes
    // is the anchors' business (SetUpResizer).
    settings.resizeFont = false;
    if (control.Kind() == ControlKind::CommandButton) settings.resizeWidth = false;
  });
}

void TARVO_FormsMaint::rszResizer_ResizeComplete() {
  Trap("TARVO_FormsMaint.rszResizer_ResizeComplete", [&] {
    const auto widthOf = [&](const char* caption) -> float {
      const DataGridColumn* column = grdFormsAssignment.FindColumnByCaption(caption);
      return column ? static_cast<float>(column->Width()) : 0.0F;
    };
    const float others =
        widthOf("Form Type") + widthOf("From Range") + widthOf("To Range") + widthOf("Assigned To");
    DataGridColumn* comment = grdFormsAssignment.FindColumnByCaption("Comment");
    if (!comment) return;
    const float width = static_cast<float>(grdFormsAssignment.Width()) - others;
    // A window made very narrow would give a negative width; the column then keeps a
    // readable minimum and the grid scrolls.
    constexpr float kMinimumCommentWidth = 1000.0F;
    comment->SetWidth(static_cast<int>(std::max(width, kMinimumCommentWidth)));
  });
}

}  // namespace fm

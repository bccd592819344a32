#include "controls/CommandButton.h"

#include "controls/Form.h"

namespace fm {

void CommandButton::SetCaption(std::string caption) {
  if (caption == mCaption) return;
  mCaption = std::move(caption);
  NotifyChanged();
}

void CommandButton::SetDefault(bool isDefault) {
  if (isDefault == mDefault) return;
  // One default button per form, as on the original platform.
  if (isDefault) {
    for (Control* c : Owner().Controls()) {
      if (c != this && c->Kind() == ControlKind::CommandButton) {
        static_cast<CommandButton*>(c)->SetDefault(false);
      }
    }
  }
  mDefault = isDefault;
  NotifyChanged();
}

void CommandButton::SetCancel(bool isCancel) {
  if (isCancel == mCancel) return;
  if (isCancel) {
    for (Control* c : Owner().Controls()) {
      if (c != this && c->Kind() == ControlKind::CommandButton) {
        static_cast<CommandButton*>(c)->SetCancel(false);
      }
    }
  }
  mCancel = isCancel;
  NotifyChanged();
}

bool CommandButton::PerformClick() {
  if (!IsUsable()) return false;
  Click.Emit();
  return true;
}

}  // namespace fm

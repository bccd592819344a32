#include "controls/OptionButton.h"

#include "controls/Form.h"

namespace fm {

void OptionButton::SetCaption(std::string caption) {
  if (caption == mCaption) return;
  mCaption = std::move(caption);
  NotifyChanged();
}

void OptionButton::SetValue(bool value) {
  if (value == mValue) return;
  if (!value) {
    mValue = false;
    NotifyChanged();
    return;
  }
  // The group is cleared first, so the Click handler sees exactly one option set.
  for (Control* sibling : Owner().ChildrenOf(Parent())) {
    if (sibling != this && sibling->Kind() == ControlKind::OptionButton) {
      static_cast<OptionButton*>(sibling)->SetValue(false);
    }
  }
  mValue = true;
  NotifyChanged();
  Click.Emit();
}

bool OptionButton::Choose() {
  if (!IsUsable() || mValue) return false;
  SetValue(true);
  return true;
}

}  // namespace fm

#pragma once

#include <string>

#include "controls/Control.h"
#include "controls/Signal.h"

namespace fm {

// A command button. The user's click (PerformClick, or Enter / Escape on the form for the
// default / cancel button) raises Click only when the button can be used; the screen's
// code may always raise Click itself (`Click.Emit()`), as it calls a handler directly.
class CommandButton final : public Control {
 public:
  explicit CommandButton(const Site& site) : Control(site) {}

  ControlKind Kind() const override { return ControlKind::CommandButton; }
  bool CanFocus() const override { return true; }

  const std::string& Caption() const { return mCaption; }
  void SetCaption(std::string caption);
  // The button Enter presses; the cancel button is the one Escape presses.
  bool IsDefault() const { return mDefault; }
  void SetDefault(bool isDefault);
  bool IsCancel() const { return mCancel; }
  void SetCancel(bool isCancel);

  // The user clicks: answers whether Click was raised.
  bool PerformClick();

  Signal<> Click;

 private:
  std::string mCaption;
  bool mDefault = false;
  bool mCancel = false;
};

}  // namespace fm

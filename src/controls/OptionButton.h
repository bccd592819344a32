#pragma once

#include <string>

#include "controls/Control.h"
#include "controls/Signal.h"

namespace fm {

// An option button. The option buttons directly inside one container (a frame or the form
// itself) form a group of which at most one is set.
//
// Setting the value to true, by code (SetValue) or by the user (Choose), clears the other
// buttons of the group and then raises Click on this one. Click is raised only when the
// value changes from false to true: choosing the option that is already set raises
// nothing, so a screen's mode switch does not run twice. Clearing the value raises nothing.
class OptionButton final : public Control {
 public:
  explicit OptionButton(const Site& site) : Control(site) {}

  ControlKind Kind() const override { return ControlKind::OptionButton; }
  bool CanFocus() const override { return true; }

  const std::string& Caption() const { return mCaption; }
  void SetCaption(std::string caption);
  bool Value() const { return mValue; }
  void SetValue(bool value);

  // The user clicks the button: ignored when it cannot be used. Answers whether the value
  // changed.
  bool Choose();

  Signal<> Click;

 private:
  std::string mCaption;
  bool mValue = false;
};

}  // namespace fm

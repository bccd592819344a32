#pragma once

#include <functional>
#include <string>

class QWidget;

namespace fm {
class Control;
class Form;
}  // namespace fm

namespace fm::qt {

// What a control's binding needs of the form view it belongs to.
class ViewHost {
 public:
  virtual ~ViewHost() = default;

  virtual Form& GetForm() const = 0;
  // Runs a model call for a user event on `control` under the error trap, then brings the
  // whole view up to date.
  virtual void Forward(const Control& control, const char* what,
                       const std::function<void()>& action) = 0;
  // The widget a control's widget is placed in: its frame's, or the view itself.
  virtual QWidget& ContainerFor(const Control& control) = 0;
  // What the tooltip of a control marked in error says.
  virtual std::string ErrorTextFor(const Control& control) const = 0;
  // `widget` takes the keyboard focus for `control`: its focus moves go to the model.
  virtual void WatchFocus(QWidget& widget, Control& control) = 0;
  // The grid look the common utility asked for this element.
  virtual bool HasGridLook(const Control& control) const = 0;
};

}  // namespace fm::qt

#include "controls/Resizer.h"

#include <cmath>

#include "controls/Form.h"

namespace fm {
namespace {
int Scale(int value, double ratio) { return static_cast<int>(std::lround(value * ratio)); }
}  // namespace

Resizer::Resizer(const Site& site) : Control(site) {
  // An invisible helper on the form, like the data control.
  SetVisible(false);
}

bool Resizer::Resize(int newWidth, int newHeight) {
  if (newWidth <= 0 || newHeight <= 0) return false;
  Form& form = Owner();
  const int oldWidth = form.ClientWidth();
  const int oldHeight = form.ClientHeight();
  if (oldWidth > 0 && oldHeight > 0 && (oldWidth != newWidth || oldHeight != newHeight)) {
    const double xRatio = static_cast<double>(newWidth) / oldWidth;
    const double yRatio = static_cast<double>(newHeight) / oldHeight;
    // A copy: a handler could add controls, which are not part of this resize.
    const auto controls = form.Controls();
    for (Control* control : controls) {
      if (control == this) continue;
      Settings settings;
      BeforeResize.Emit(*control, settings);
      control->Move(settings.moveHorizontally ? Scale(control->Left(), xRatio) : control->Left(),
                    settings.moveVertically ? Scale(control->Top(), yRatio) : control->Top(),
                    settings.resizeWidth ? Scale(control->Width(), xRatio) : control->Width(),
                    settings.resizeHeight ? Scale(control->Height(), yRatio) : control->Height());
    }
  }
  form.SetClientSize(newWidth, newHeight);
  ResizeComplete.Emit();
  return true;
}

}  // namespace fm

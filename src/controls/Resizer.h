#pragma once

#include "controls/Control.h"
#include "controls/Signal.h"

namespace fm {

// The resizer: keeps a form's controls in proportion when the form changes size.
//
// Policy: Resize(newWidth, newHeight) scales every other control of the form by the ratio
// of the new client size to the old one, horizontally and vertically apart: left and width
// by the width ratio, top and height by the height ratio, each rounded to the nearest
// twip. Positions inside a frame scale with the same ratios, so a control keeps its place
// in its frame as the frame grows. Grid columns are not touched (the screen sets the
// widths it cares about in ResizeComplete). The ratio is taken from the current layout,
// so positions the screen's code set since the last resize are kept in proportion too.
//
// Before each control is resized, BeforeResize is raised with the control and its
// settings, all on; a handler switches off what must not change for that control. After
// the last control, the form takes the new size and ResizeComplete is raised.
//
// A size of zero or less (a minimised window) changes nothing and raises nothing: scaling
// to nothing would lose the layout. A form without a size yet only takes the new size.
class Resizer final : public Control {
 public:
  struct Settings {
    bool moveHorizontally = true;  // scale Left
    bool moveVertically = true;    // scale Top
    bool resizeWidth = true;       // scale Width
    bool resizeHeight = true;      // scale Height
  };

  explicit Resizer(const Site& site);

  ControlKind Kind() const override { return ControlKind::Resizer; }

  bool Resize(int newWidth, int newHeight);

  Signal<Control&, Settings&> BeforeResize;
  Signal<> ResizeComplete;
};

}  // namespace fm

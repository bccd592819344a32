#pragma once

#include "controls/Control.h"

namespace fm {

// What a renderer measures with the fonts and the style it draws with, so that a form's
// layout can give every caption the room it needs (Form::FitLayout).
class LayoutMetrics {
 public:
  virtual ~LayoutMetrics() = default;

  // The least size, in twips, that shows the control whole with its caption, text and font
  // as they are now: a caption on one line and not cut off (label, option button, command
  // button), one line of text (text box: the height; its width is the screen's), the
  // longest entry (combo), a grid's caption bar (grid: the width). Zero where the control
  // needs nothing of the kind.
  virtual TwipSize FittingSize(const Control& control) const = 0;
};

}  // namespace fm

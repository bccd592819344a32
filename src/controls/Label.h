#pragma once

#include <string>

#include "controls/Control.h"

namespace fm {

// A label: a caption the user reads, never the focus.
class Label final : public Control {
 public:
  enum class Alignment { Left = 0, Right = 1, Center = 2 };

  explicit Label(const Site& site) : Control(site) {}

  ControlKind Kind() const override { return ControlKind::Label; }

  const std::string& Caption() const { return mCaption; }
  void SetCaption(std::string caption);
  Alignment GetAlignment() const { return mAlignment; }
  void SetAlignment(Alignment alignment);

 private:
  std::string mCaption;
  Alignment mAlignment = Alignment::Left;
};

}  // namespace fm

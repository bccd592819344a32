#pragma once

#include <string>
#include <vector>

#include "controls/Control.h"

namespace fm {

// A frame: a captioned container. Controls created with the frame as parent are placed
// relative to it and are hidden or disabled with it; option buttons inside it form one
// group.
class Frame final : public Control {
 public:
  enum class BorderStyle { None = 0, FixedSingle = 1 };

  explicit Frame(const Site& site) : Control(site) {}

  ControlKind Kind() const override { return ControlKind::Frame; }
  bool IsContainer() const override { return true; }

  const std::string& Caption() const { return mCaption; }
  void SetCaption(std::string caption);
  BorderStyle GetBorderStyle() const { return mBorderStyle; }
  void SetBorderStyle(BorderStyle style);

  // The controls directly inside the frame, in creation order.
  std::vector<Control*> Children() const;

 private:
  std::string mCaption;
  BorderStyle mBorderStyle = BorderStyle::FixedSingle;
};

}  // namespace fm

#include "controls/Frame.h"

#include "controls/Form.h"

namespace fm {

void Frame::SetCaption(std::string caption) {
  if (caption == mCaption) return;
  mCaption = std::move(caption);
  NotifyChanged();
}

void Frame::SetBorderStyle(BorderStyle style) {
  if (style == mBorderStyle) return;
  mBorderStyle = style;
  NotifyChanged();
}

std::vector<Control*> Frame::Children() const { return Owner().ChildrenOf(this); }

}  // namespace fm

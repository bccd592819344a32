#include "controls/Label.h"

namespace fm {

void Label::SetCaption(std::string caption) {
  if (caption == mCaption) return;
  mCaption = std::move(caption);
  NotifyChanged();
}

void Label::SetAlignment(Alignment alignment) {
  if (alignment == mAlignment) return;
  mAlignment = alignment;
  NotifyChanged();
}

}  // namespace fm

#include "controls/Control.h"

#include <fmt/format.h>

#include <cmath>

#include "controls/ControlArray.h"
#include "controls/Form.h"
#include "platform/PlatformError.h"

namespace fm {

const char* ControlKindName(ControlKind kind) {
  switch (kind) {
    case ControlKind::TextBox:
      return "TextBox";
    case ControlKind::Label:
      return "Label";
    case ControlKind::Frame:
      return "Frame";
    case ControlKind::OptionButton:
      return "OptionButton";
    case ControlKind::CommandButton:
      return "CommandButton";
    case ControlKind::ComboBox:
      return "ComboBox";
    case ControlKind::DataControl:
      return "DataControl";
    case ControlKind::DataGrid:
      return "DataGrid";
    case ControlKind::Resizer:
      return "Resizer";
    case ControlKind::CodesCombo:
      return "CodesCombo";
    case ControlKind::OfficerSelect:
      return "OfficerSelect";
  }
  return "Control";
}

Control::Control(const Site& site)
    : mForm(site.form),
      mBaseName(site.name),
      mIndex(site.index),
      mParent(site.parent),
      // New controls go to the end of the tab order, as on a form being designed.
      mTabIndex(static_cast<int>(site.form->Controls().size())) {}

Control::~Control() = default;

std::string Control::Name() const {
  return mIndex >= 0 ? fmt::format("{}({})", mBaseName, mIndex) : mBaseName;
}

namespace {
void CheckSize(const Control& control, const char* what, int value) {
  if (value < 0) {
    throw PlatformError(PlatformError::kGeneric,
                        fmt::format("Invalid {} {} for {}: a size cannot be negative", what, value,
                                    control.Name()));
  }
}
}  // namespace

void Control::SetLeft(int left) { Move(left, mTop, mWidth, mHeight); }
void Control::SetTop(int top) { Move(mLeft, top, mWidth, mHeight); }
void Control::SetWidth(int width) { Move(mLeft, mTop, width, mHeight); }
void Control::SetHeight(int height) { Move(mLeft, mTop, mWidth, height); }

void Control::Move(int left, int top, int width, int height) {
  CheckSize(*this, "width", width);
  CheckSize(*this, "height", height);
  if (left == mLeft && top == mTop && width == mWidth && height == mHeight) return;
  mLeft = left;
  mTop = top;
  mWidth = width;
  mHeight = height;
  NotifyChanged();
}

void Control::SetVisible(bool visible) {
  if (visible == mVisible) return;
  mVisible = visible;
  NotifyChanged();
}

void Control::SetEnabled(bool enabled) {
  if (enabled == mEnabled) return;
  mEnabled = enabled;
  NotifyChanged();
}

bool Control::IsShown() const {
  for (const Control* c = this; c != nullptr; c = c->mParent) {
    if (!c->mVisible) return false;
  }
  return true;
}

bool Control::IsUsable() const {
  for (const Control* c = this; c != nullptr; c = c->mParent) {
    if (!c->mVisible || !c->mEnabled) return false;
  }
  return true;
}

void Control::SetTag(std::string tag) {
  if (tag == mTag) return;
  mTag = std::move(tag);
  NotifyChanged();
}

void Control::SetTabIndex(int tabIndex) {
  if (tabIndex < 0) {
    throw PlatformError(PlatformError::kGeneric,
                        fmt::format("Invalid tab index {} for {}", tabIndex, Name()));
  }
  if (tabIndex == mTabIndex) return;
  mTabIndex = tabIndex;
  NotifyChanged();
}

void Control::SetFontBold(bool bold) {
  if (bold == mFontBold) return;
  mFontBold = bold;
  NotifyChanged();
}

void Control::SetFontScale(double scale) {
  if (!(scale > 0.0) || !std::isfinite(scale)) {
    throw PlatformError(PlatformError::kGeneric,
                        fmt::format("Invalid font scale {} for {}", scale, Name()));
  }
  if (scale == mFontScale) return;
  mFontScale = scale;
  NotifyChanged();
}

void Control::SetErrorMark(bool marked) {
  if (marked == ErrorMark()) return;
  UiElement::SetErrorMark(marked);
  NotifyChanged();
}

void Control::SetFocus() { mForm->SetFocusTo(*this); }

bool Control::HasFocus() const { return mForm->ActiveControl() == this; }

namespace detail {
void ThrowBadArrayIndex(const std::string& array, int index, bool missing) {
  throw PlatformError(PlatformError::kGeneric,
                      missing
                          ? fmt::format("The control array {} has no element {}", array, index)
                          : fmt::format("Invalid index {} for the control array {}", index, array));
}
}  // namespace detail

void Control::NotifyChanged() {
  ++mVersion;
  mForm->NotifyChanged(*this);
}

}  // namespace fm

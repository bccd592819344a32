#include "controls/Form.h"

#include <fmt/format.h>

#include <algorithm>

#include "base/Text.h"
#include "controls/CommandButton.h"
#include "controls/Resizer.h"
#include "platform/PlatformError.h"
#include "platform/Services.h"
#include "platform/UiServices.h"

namespace fm {

Form::Form(std::string name, std::string caption)
    : mName(std::move(name)), mCaption(std::move(caption)) {}

Form::~Form() {
  // Controls may reach their form while they go (a grid leaving its data control); the
  // registry they would read must not outlive them, and no observer hears of a form that
  // is going away.
  mDestroying = true;
  mActiveControl = nullptr;
  mControlList.clear();
  while (!mControls.empty()) mControls.pop_back();
}

void Form::SetCaption(std::string caption) {
  if (caption == mCaption) return;
  mCaption = std::move(caption);
  NotifyChanged(*this);
}

void Form::SetClientSize(int width, int height) {
  if (width < 0 || height < 0) {
    throw PlatformError(PlatformError::kGeneric,
                        fmt::format("Invalid client size {} x {} for {}: a size cannot be negative",
                                    width, height, mName));
  }
  if (width == mClientWidth && height == mClientHeight) return;
  mClientWidth = width;
  mClientHeight = height;
  NotifyChanged(*this);
}

void Form::CheckNewControl(const std::string& name, int index, const Control* parent) const {
  if (name.empty()) {
    throw PlatformError(PlatformError::kGeneric,
                        fmt::format("A control of {} needs a name", mName));
  }
  if (index < -1) {
    throw PlatformError(
        PlatformError::kGeneric,
        fmt::format("Invalid control array index {} for {} on {}", index, name, mName));
  }
  const std::string fullName = index >= 0 ? fmt::format("{}({})", name, index) : name;
  if (FindControl(fullName) != nullptr) {
    throw PlatformError(PlatformError::kGeneric,
                        fmt::format("{} already has a control named {}", mName, fullName));
  }
  // A lone control and a control array cannot share a name.
  for (const Control* c : mControlList) {
    if (text::EqualsNoCase(c->BaseName(), name) && ((c->Index() < 0) != (index < 0))) {
      throw PlatformError(PlatformError::kGeneric,
                          fmt::format("{} already has a {} named {}", mName,
                                      c->Index() < 0 ? "control" : "control array", name));
    }
  }
  if (parent != nullptr) {
    const bool ours =
        std::find(mControlList.begin(), mControlList.end(), parent) != mControlList.end();
    if (!ours || !parent->IsContainer()) {
      throw PlatformError(PlatformError::kGeneric,
                          fmt::format("{} cannot hold {}: only a frame of {} can contain controls",
                                      parent->Name(), fullName, mName));
    }
  }
}

void Form::Register(std::unique_ptr<Control> control) {
  mControlList.push_back(control.get());
  mControls.push_back(std::move(control));
  NotifyChanged(*this);
}

Control* Form::FindControl(std::string_view name) const {
  for (Control* c : mControlList) {
    if (text::EqualsNoCase(c->Name(), name)) return c;
  }
  return nullptr;
}

std::vector<Control*> Form::ChildrenOf(const Control* container) const {
  std::vector<Control*> children;
  for (Control* c : mControlList) {
    if (c->Parent() == container) children.push_back(c);
  }
  return children;
}

std::vector<Control*> Form::TabOrder() const {
  std::vector<Control*> order;
  if (mTabOrderFollowsLayout) {
    AppendInReadingOrder(nullptr, order);
    return order;
  }
  for (Control* c : mControlList) {
    if (c->CanFocus()) order.push_back(c);
  }
  std::stable_sort(order.begin(), order.end(), [](const Control* a, const Control* b) {
    return a->TabIndex() < b->TabIndex();
  });
  return order;
}

void Form::SetTabOrderFollowsLayout(bool follows) {
  if (follows == mTabOrderFollowsLayout) return;
  mTabOrderFollowsLayout = follows;
  NotifyChanged(*this);
}

void Form::AppendInReadingOrder(const Control* container, std::vector<Control*>& order) const {
  std::vector<Control*> shown = ChildrenOf(container);
  std::erase_if(shown, [](const Control* c) { return !c->Visible(); });
  std::stable_sort(shown.begin(), shown.end(),
                   [](const Control* a, const Control* b) { return a->Top() < b->Top(); });
  // A control belongs to the row of the first control above it while its top lies above
  // the middle of the lower of the two: a label set a little lower than its box, or a tall
  // frame beside a row of boxes, share the row.
  std::size_t rowStart = 0;
  while (rowStart < shown.size()) {
    const Control* leader = shown[rowStart];
    std::size_t rowEnd = rowStart + 1;
    while (rowEnd < shown.size()) {
      const Control* c = shown[rowEnd];
      if (c->Top() >= leader->Top() + std::min(leader->Height(), c->Height()) / 2) break;
      ++rowEnd;
    }
    std::stable_sort(shown.begin() + static_cast<std::ptrdiff_t>(rowStart),
                     shown.begin() + static_cast<std::ptrdiff_t>(rowEnd),
                     [](const Control* a, const Control* b) { return a->Left() < b->Left(); });
    rowStart = rowEnd;
  }
  for (Control* c : shown) {
    if (c->IsContainer()) {
      AppendInReadingOrder(c, order);
    } else if (c->CanFocus()) {
      order.push_back(c);
    }
  }
}

void Form::LoadForm() {
  if (mLoaded) return;
  mLoaded = true;
  NotifyChanged(*this);
  Load.Emit();
}

void Form::BecomeActive() {
  if (mActive) return;
  mActive = true;
  Activate.Emit();
}

void Form::Show() {
  LoadForm();
  // A Load handler may have unloaded the form again.
  if (!mLoaded) return;
  if (!mVisible) {
    mVisible = true;
    NotifyChanged(*this);
  }
  BecomeActive();
}

void Form::ShowModal() {
  if (mModal) {
    throw PlatformError(PlatformError::kGeneric, fmt::format("{} is already shown modally", mName));
  }
  LoadForm();
  if (!mLoaded) return;
  mModal = true;
  // Whatever way the modal display ends (even by an exception out of a handler), the form
  // is no longer modal afterwards.
  struct ModalGuard {
    Form& form;
    ~ModalGuard() { form.mModal = false; }
  } guard{*this};
  mVisible = true;
  NotifyChanged(*this);
  BecomeActive();
  // An Activate handler may already have hidden or unloaded the form.
  if (!mVisible || !mLoaded) return;
  Services::Ui().ShowModal(*this);
}

void Form::Hide() {
  if (!mVisible) return;
  mVisible = false;
  mActive = false;
  NotifyChanged(*this);
}

bool Form::UnloadForm() { return UnloadWithMode(UnloadMode::FormCode); }

bool Form::CloseByUser() { return UnloadWithMode(UnloadMode::FormControlMenu); }

bool Form::UnloadWithMode(UnloadMode mode) {
  if (!mLoaded) return true;
  int cancel = 0;
  QueryUnload.Emit(cancel, mode);
  if (cancel != 0) return false;
  Unload.Emit(cancel);
  if (cancel != 0) return false;
  mLoaded = false;
  mVisible = false;
  mActive = false;
  mActiveControl = nullptr;
  NotifyChanged(*this);
  return true;
}

void Form::ActivateByUser() {
  if (!mVisible) return;
  BecomeActive();
}

void Form::DeactivateByUser() {
  if (!mActive) return;
  mActive = false;
  Deactivate.Emit();
}

Resizer* Form::FindResizer() const {
  for (Control* c : mControlList) {
    if (c->Kind() == ControlKind::Resizer) return static_cast<Resizer*>(c);
  }
  return nullptr;
}

TwipSize Form::MinimumClientSize() const {
  const Resizer* resizer = FindResizer();
  return resizer != nullptr ? resizer->MinimumClientSize() : TwipSize{};
}

void Form::FitLayout(const LayoutMetrics& /*metrics*/) {}

void Form::ResizeByUser(int width, int height) {
  Resizer* resizer = FindResizer();
  if (resizer != nullptr) {
    resizer->Resize(width, height);
  } else {
    SetClientSize(width, height);
  }
  Resize.Emit();
}

bool Form::PressButton(bool defaultButton) {
  for (Control* c : mControlList) {
    if (c->Kind() != ControlKind::CommandButton) continue;
    auto* button = static_cast<CommandButton*>(c);
    const bool flagged = defaultButton ? button->IsDefault() : button->IsCancel();
    if (flagged && button->IsUsable()) {
      button->PerformClick();
      return true;
    }
  }
  return false;
}

bool Form::PressDefaultButton() { return PressButton(true); }
bool Form::PressCancelButton() { return PressButton(false); }

void Form::SetFocusTo(Control& control) {
  if (&control.Owner() != this) {
    throw PlatformError(PlatformError::kGeneric,
                        fmt::format("{} is not a control of {}", control.Name(), mName));
  }
  if (!control.CanFocus()) {
    throw PlatformError(PlatformError::kGeneric,
                        fmt::format("Cannot move the focus to {}: a {} cannot take the focus",
                                    control.Name(), ControlKindName(control.Kind())));
  }
  if (!control.IsUsable()) {
    throw PlatformError(
        PlatformError::kGeneric,
        fmt::format("Cannot move the focus to {}: it is hidden or disabled", control.Name()));
  }
  if (mActiveControl == &control) return;
  Control* previous = mActiveControl;
  mActiveControl = &control;
  if (previous != nullptr) {
    previous->LostFocus.Emit();
    NotifyChanged(*previous);
  }
  // A LostFocus handler may have sent the focus elsewhere (back to the box it checked).
  if (mActiveControl == &control) {
    NotifyChanged(control);
    control.GotFocus.Emit();
  }
}

bool Form::FocusNext(bool backward) {
  std::vector<Control*> order = TabOrder();
  std::erase_if(order, [&](Control* c) { return !c->IsUsable() && c != mActiveControl; });
  if (order.empty()) return false;
  auto it = std::find(order.begin(), order.end(), mActiveControl);
  std::size_t position = 0;
  if (it == order.end()) {
    position = backward ? order.size() - 1 : 0;
  } else {
    const auto current = static_cast<std::size_t>(it - order.begin());
    position =
        backward ? (current + order.size() - 1) % order.size() : (current + 1) % order.size();
  }
  Control* next = order[position];
  if (!next->IsUsable()) return false;
  SetFocusTo(*next);
  return true;
}

void Form::NotifyChanged(UiElement& element) {
  if (mDestroying) return;
  ++mVersion;
  Changed.Emit(element);
}

}  // namespace fm

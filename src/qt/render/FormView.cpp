#include "qt/render/FormView.h"

#include <fmt/format.h>

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QResizeEvent>
#include <QTimer>
#include <algorithm>
#include <unordered_map>
#include <vector>

#include "base/Text.h"
#include "controls/Control.h"
#include "controls/Form.h"
#include "controls/LayoutMetrics.h"
#include "platform/ErrorTrap.h"
#include "qt/render/ControlBinding.h"
#include "qt/render/DesktopLooks.h"
#include "qt/render/QtText.h"
#include "qt/render/ViewHost.h"

namespace fm::qt {

namespace {

// The form's measures, taken from the widgets that show its controls.
class WidgetMetrics final : public LayoutMetrics {
 public:
  explicit WidgetMetrics(const std::unordered_map<const Control*, ControlBinding*>& bindings)
      : mBindings(bindings) {}
  TwipSize FittingSize(const Control& control) const override {
    const auto it = mBindings.find(&control);
    return it == mBindings.end() ? TwipSize{} : it->second->FittingSize();
  }

 private:
  const std::unordered_map<const Control*, ControlBinding*>& mBindings;
};

int CeilPixels(int twips) { return (twips + kTwipsPerPixel - 1) / kTwipsPerPixel; }

// Changes a sync makes to the model itself (a combo reading its entries) call for another
// round; a few are enough, and the bound keeps a misbehaving handler from looping.
constexpr int kMaxSyncRounds = 4;
}  // namespace

struct FormView::Impl final : public ViewHost {
  FormView& view;
  Form& form;
  std::vector<std::unique_ptr<ControlBinding>> bindings;
  std::unordered_map<const Control*, ControlBinding*> byControl;
  std::unordered_map<const QObject*, Control*> focusWidgets;
  std::vector<QPointer<QWidget>> watched;
  Signal<UiElement&>::Connection changedConnection = 0;
  ErrorTextProvider errorText;
  std::function<void()> synced;
  bool syncing = false;
  bool syncAgain = false;
  bool syncScheduled = false;
  std::vector<Control*> tabOrder;
  const Control* shownActive = nullptr;
  TwipSize minimum{-1, -1};
  // Cleared when the view goes, so that a forwarded event that outlives it stops short.
  std::shared_ptr<bool> alive = std::make_shared<bool>(true);

  Impl(FormView& v, Form& f) : view(v), form(f) {}

  // --- ViewHost
  Form& GetForm() const override { return form; }

  void Forward(const Control& control, const char* what,
               const std::function<void()>& action) override {
    const auto stillThere = alive;
    Trap(fmt::format("FormView.{}.{}", control.Name(), what), action);
    if (*stillThere) view.Sync();
  }

  QWidget& ContainerFor(const Control& control) override {
    if (control.Parent() != nullptr) {
      const auto it = byControl.find(control.Parent());
      if (it != byControl.end() && it->second->ChildContainer() != nullptr) {
        return *it->second->ChildContainer();
      }
    }
    return view;
  }

  std::string ErrorTextFor(const Control& control) const override {
    std::string text;
    if (errorText) {
      Trap("FormView.ErrorText", [&] { text = errorText(control); });
    }
    text = text::Trim(text);
    return text.empty() ? "This entry needs correcting." : text;
  }

  void WatchFocus(QWidget& widget, Control& control) override {
    focusWidgets[&widget] = &control;
    watched.emplace_back(&widget);
    widget.installEventFilter(&view);
  }

  bool HasGridLook(const Control& control) const override {
    return DesktopLooks::HasGridLook(control);
  }

  // --- Model to widgets
  void OnModelChanged() {
    if (syncing) {
      syncAgain = true;
      return;
    }
    if (syncScheduled) return;
    syncScheduled = true;
    QMetaObject::invokeMethod(
        &view,
        [this] {
          syncScheduled = false;
          view.Sync();
        },
        Qt::QueuedConnection);
  }

  void SyncOnce() {
    for (auto& binding : bindings) binding->Sync();
    SyncTabOrder();
    SyncActiveControl();
    SyncMinimumSize();
  }

  // The window may not become smaller than the form's resizer can lay the controls out in.
  void SyncMinimumSize() {
    TwipSize least;
    Trap("FormView.MinimumSize", [&] { least = form.MinimumClientSize(); });
    if (least == minimum) return;
    minimum = least;
    view.setMinimumSize(CeilPixels(least.width), CeilPixels(least.height));
  }

  void SyncTabOrder() {
    std::vector<Control*> order = form.TabOrder();
    if (order == tabOrder) return;
    tabOrder = order;
    QWidget* previous = nullptr;
    for (Control* control : order) {
      const auto it = byControl.find(control);
      if (it == byControl.end()) continue;
      QWidget* focus = it->second->FocusWidget();
      if (focus == nullptr) continue;
      if (previous != nullptr) QWidget::setTabOrder(previous, focus);
      previous = focus;
    }
  }

  // The screen's code moved the focus (Control::SetFocus): the widget follows.
  void SyncActiveControl() {
    const Control* active = form.ActiveControl();
    if (active == shownActive) return;
    shownActive = active;
    if (active == nullptr) return;
    const auto it = byControl.find(active);
    if (it == byControl.end()) return;
    QWidget* focus = it->second->FocusWidget();
    if (focus == nullptr || !focus->isVisible() || !focus->isEnabled()) return;
    if (!focus->hasFocus() && view.isActiveWindow()) focus->setFocus(Qt::OtherFocusReason);
  }

  // A widget took the focus: the model's focus follows, raising LostFocus and GotFocus.
  void FocusMovedTo(Control& control) {
    if (form.ActiveControl() == &control) return;
    if (!control.CanFocus() || !control.IsUsable()) return;
    Forward(control, "GotFocus", [&] { form.SetFocusTo(control); });
  }
};

FormView::FormView(Form& form, QWidget* parent)
    : QWidget(parent), mImpl(std::make_unique<Impl>(*this, form)) {
  setObjectName(ToQString(form.Name()));
  // The form's controls in creation order: a frame always comes before what it holds.
  for (Control* control : form.Controls()) {
    auto binding = MakeBinding(*mImpl, *control);
    mImpl->byControl[control] = binding.get();
    mImpl->bindings.push_back(std::move(binding));
  }
  mImpl->changedConnection =
      form.Changed.Connect([impl = mImpl.get()](UiElement&) { impl->OnModelChanged(); });
  Sync();
  // The widgets now have their fonts and the combos their entries: the form can size its
  // captions from them before anything is laid out anew.
  Trap(fmt::format("FormView.{}.FitLayout", form.Name()),
       [&] { form.FitLayout(WidgetMetrics(mImpl->byControl)); });
  Sync();
}

FormView::~FormView() {
  mImpl->form.Changed.Disconnect(mImpl->changedConnection);
  *mImpl->alive = false;
  for (auto& widget : mImpl->watched) {
    if (widget != nullptr) widget->removeEventFilter(this);
  }
  // The form keeps its dialog look for its next modal show; the controls' looks go with
  // the view, so that a control made later at the same address starts plain.
  for (Control* control : mImpl->form.Controls()) DesktopLooks::Forget(*control);
  mImpl->bindings.clear();
}

Form& FormView::GetForm() const { return mImpl->form; }

QSize FormView::sizeHint() const {
  return {Pixels(mImpl->form.ClientWidth()), Pixels(mImpl->form.ClientHeight())};
}

void FormView::Sync() {
  Impl& impl = *mImpl;
  if (impl.syncing) {
    impl.syncAgain = true;
    return;
  }
  impl.syncing = true;
  int rounds = 0;
  do {
    impl.syncAgain = false;
    impl.SyncOnce();
  } while (impl.syncAgain && ++rounds < kMaxSyncRounds);
  impl.syncing = false;
  if (impl.synced) impl.synced();
}

void FormView::Forward(const Control& control, const char* what,
                       const std::function<void()>& action) {
  mImpl->Forward(control, what, action);
}

void FormView::ForwardToForm(const char* what, const std::function<void()>& action) {
  const auto stillThere = mImpl->alive;
  Trap(fmt::format("FormView.{}.{}", mImpl->form.Name(), what), action);
  if (*stillThere) Sync();
}

QWidget* FormView::WidgetFor(const Control& control) const {
  const auto it = mImpl->byControl.find(&control);
  return it == mImpl->byControl.end() ? nullptr : it->second->Widget();
}

QWidget* FormView::WidgetFor(std::string_view name) const {
  const Control* control = mImpl->form.FindControl(name);
  return control == nullptr ? nullptr : WidgetFor(*control);
}

QWidget* FormView::ErrorMarkFor(const Control& control) const {
  const auto it = mImpl->byControl.find(&control);
  return it == mImpl->byControl.end() ? nullptr : it->second->ErrorMark();
}

void FormView::SetErrorTextProvider(ErrorTextProvider provider) {
  mImpl->errorText = std::move(provider);
  // Marks already shown take the new text.
  for (auto& binding : mImpl->bindings) binding->Sync(true);
}

void FormView::SetSyncedHandler(std::function<void()> handler) {
  mImpl->synced = std::move(handler);
}

bool FormView::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn) {
    const auto it = mImpl->focusWidgets.find(watched);
    if (it != mImpl->focusWidgets.end()) {
      Control* control = it->second;
      if (mImpl->syncing) {
        // Qt moved the focus because the view hid or disabled the focused widget: the
        // model hears of it once the view is up to date, as a move by the user.
        QTimer::singleShot(0, this, [this, control] { mImpl->FocusMovedTo(*control); });
      } else {
        mImpl->FocusMovedTo(*control);
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

void FormView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Form& form = mImpl->form;
  const int width = Twips(event->size().width());
  const int height = Twips(event->size().height());
  // Sizes that round to the form's own need no new layout (and the first show is one).
  if (Pixels(form.ClientWidth()) == event->size().width() &&
      Pixels(form.ClientHeight()) == event->size().height()) {
    return;
  }
  if (width <= 0 || height <= 0) return;
  ForwardToForm("Resize", [&] { form.ResizeByUser(width, height); });
}

void FormView::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() != QEvent::ActivationChange) return;
  Form& form = mImpl->form;
  const bool active = isActiveWindow();
  ForwardToForm(active ? "Activate" : "Deactivate", [&] {
    if (active) {
      form.ActivateByUser();
    } else {
      form.DeactivateByUser();
    }
  });
}

}  // namespace fm::qt

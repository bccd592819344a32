#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace fm {
class Control;
class Form;
}  // namespace fm

namespace fm::qt {

// Renders any form of the screen model (the document, a dialog) as Qt widgets, one widget
// per control, placed at its twips / 15 in its frame, and keeps them up to date.
//
// Model to widgets: after every user event the view forwarded, and after any other change
// the form reports (Form::Changed, e.g. a reply that arrived from the message component),
// the view brings every control's widget up to date with the model. Changes reported while
// no event is being handled are gathered and applied once, on the next turn of the event
// loop.
//
// Widgets to model: keys, pastes and deletes go to the text boxes' model operations (a key
// the screen refuses is not inserted); clicks, option choices, combo and grid selections,
// focus moves (so that LostFocus handlers run), Enter and Escape (default and cancel
// buttons), window activation and resizing (the form's resizer) go to the matching model
// calls. Each runs under the error trap: a failure is reported to the error reporter under
// "FormView.<control>.<event>" and the view is updated anyway.
//
// The form must outlive the view. The view does not show, hide or close its window:
// whoever holds it (the host shell, the modal dialog) follows the form's own state through
// SetSyncedHandler.
class FormView final : public QWidget {
 public:
  explicit FormView(Form& form, QWidget* parent = nullptr);
  ~FormView() override;

  Form& GetForm() const;

  // Brings every widget up to date with the model now.
  void Sync();
  // Runs a model call as a user event on `control`: under the error trap, then Sync.
  void Forward(const Control& control, const char* what, const std::function<void()>& action);
  // The same for an event of the form itself (closing, resizing, activation).
  void ForwardToForm(const char* what, const std::function<void()>& action);

  // The widget that shows a control; nullptr for a control that draws nothing (a data
  // control, the resizer) or that is not on this form.
  QWidget* WidgetFor(const Control& control) const;
  // By the control's full name ("txtBox(0)"), letter case ignored.
  QWidget* WidgetFor(std::string_view name) const;
  // The red frame of a marked control (nullptr until it was first marked).
  QWidget* ErrorMarkFor(const Control& control) const;

  // What the tooltip of a control marked in error says. The default says only that the
  // entry needs correcting; the shell gives the document's collected messages.
  using ErrorTextProvider = std::function<std::string(const Control&)>;
  void SetErrorTextProvider(ErrorTextProvider provider);
  // Called at the end of every Sync (the form's caption or visibility may have changed).
  void SetSyncedHandler(std::function<void()> handler);

  QSize sizeHint() const override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> mImpl;
};

}  // namespace fm::qt

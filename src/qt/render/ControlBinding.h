#pragma once

#include <QPointer>
#include <QRect>
#include <cstdint>
#include <memory>
#include <string>

class QWidget;

namespace fm {
class Control;
struct TwipSize;
}  // namespace fm

namespace fm::qt {

class ErrorMarkFrame;
class ViewHost;

// The link between one control of the screen model and the widget that shows it. The
// binding builds the widget, forwards the widget's user events to the control (through the
// view host, which traps errors and updates the view afterwards) and brings the widget up to
// date when the control changed.
//
// What every kind shares is done here: position and size (twips / 15), visibility,
// enabling, bold and the error mark (a red frame and the error text as tooltip). The kinds
// add their content (MakeBinding picks the kind).
//
// The control must outlive the binding; the widget belongs to the view's widget tree.
class ControlBinding {
 public:
  ControlBinding(ViewHost& host, Control& control);
  virtual ~ControlBinding();
  ControlBinding(const ControlBinding&) = delete;
  ControlBinding& operator=(const ControlBinding&) = delete;

  Control& GetControl() const { return *mControl; }
  // The widget that shows the control; nullptr for controls that draw nothing (a data
  // control, the resizer).
  virtual QWidget* Widget() const = 0;
  // The widget that takes the keyboard focus for the control (tab order).
  virtual QWidget* FocusWidget() const { return Widget(); }
  // For a frame: the widget its controls are placed in.
  virtual QWidget* ChildContainer() const { return nullptr; }

  // The least size, in twips, that shows the control whole with the widget's font and style
  // (LayoutMetrics::FittingSize); zero where the kind has no such need.
  virtual TwipSize FittingSize() const;

  // Brings the widget up to date when the control changed since the last call (or always,
  // with `force`).
  void Sync(bool force = false);
  // The red frame of the error mark; nullptr until the control was first marked.
  QWidget* ErrorMark() const;

 protected:
  ViewHost& Host() const { return *mHost; }
  // Whether the content needs a look although the control's version did not move (a grid
  // whose record set grew without a notice).
  virtual bool ContentStale() const { return false; }
  // The kind's own content: captions, texts, items, values.
  virtual void SyncContent() = 0;
  // How the kind shows bold and the font's scale (the default: the widget's font).
  virtual void ApplyFont(bool bold, double scale);
  // Called by a kind that replaced its widget: everything is applied anew to the new one.
  void WidgetReplaced();

 private:
  void SyncCommon();

  ViewHost* mHost;
  Control* mControl;
  bool mSynced = false;
  std::uint64_t mVersion = 0;
  // What the widget was last given.
  QRect mGeometry;
  bool mVisible = false;
  bool mEnabled = false;
  bool mBold = false;
  double mFontScale = 1.0;
  bool mMarked = false;
  std::string mErrorText;
  QPointer<ErrorMarkFrame> mMark;
};

// The binding of a control's kind.
std::unique_ptr<ControlBinding> MakeBinding(ViewHost& host, Control& control);

}  // namespace fm::qt

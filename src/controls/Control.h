#pragma once

#include <cstdint>
#include <string>

#include "controls/Signal.h"
#include "platform/UiElement.h"

namespace fm {

class Form;

// A width and a height in twips.
struct TwipSize {
  int width = 0;
  int height = 0;
  friend bool operator==(const TwipSize&, const TwipSize&) = default;
};

// What kind of control an object is, so that a renderer can build one widget per control
// without knowing the screen.
enum class ControlKind {
  TextBox,
  Label,
  Frame,
  OptionButton,
  CommandButton,
  ComboBox,
  DataControl,
  DataGrid,
  Resizer,
  CodesCombo,
  OfficerSelect,
};

// "TextBox", "Label"... for diagnostics and renderers.
const char* ControlKindName(ControlKind kind);

// A control of the screen model: a plain object holding what the screen's code reads and
// writes, and what a renderer needs to draw it.
//
// Ownership: controls are created and owned by their form (Form::Add) and live as long as
// the form. A control sits directly on the form (Parent() == nullptr) or inside a frame;
// its position is in twips relative to that container.
//
// Change notification: every change of something a renderer shows bumps Version() and
// raises the form's Changed event with the control, synchronously.
//
// Errors: a negative width or height, or moving the focus to a control that cannot take
// it, throws PlatformError naming the control; the control is left unchanged.
class Control : public UiElement {
 public:
  // What Form::Add hands to a control's constructor.
  struct Site {
    Form* form;
    std::string name;
    int index;
    Control* parent;
  };

  explicit Control(const Site& site);
  ~Control() override;
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  virtual ControlKind Kind() const = 0;
  // Frames hold other controls.
  virtual bool IsContainer() const { return false; }
  // Whether the control can take the keyboard focus at all.
  virtual bool CanFocus() const { return false; }

  // "txtBox(3)" for an element of a control array, "fraAddForms" otherwise.
  std::string Name() const override;
  const std::string& BaseName() const { return mBaseName; }
  // Index in the control array, or -1.
  int Index() const { return mIndex; }
  Form& Owner() const { return *mForm; }
  // The containing frame, or nullptr when the control sits on the form itself.
  Control* Parent() const { return mParent; }

  int Left() const { return mLeft; }
  int Top() const { return mTop; }
  int Width() const { return mWidth; }
  int Height() const { return mHeight; }
  void SetLeft(int left);
  void SetTop(int top);
  void SetWidth(int width);
  void SetHeight(int height);
  void Move(int left, int top, int width, int height);

  bool Visible() const { return mVisible; }
  void SetVisible(bool visible);
  bool Enabled() const { return mEnabled; }
  void SetEnabled(bool enabled);
  // Visible, inside frames that are all visible.
  bool IsShown() const;
  // Shown and enabled, inside frames that are all enabled: what a user can act on.
  bool IsUsable() const;

  const std::string& Tag() const { return mTag; }
  void SetTag(std::string tag);
  // Position in the form's tab order; controls with equal values keep creation order.
  int TabIndex() const { return mTabIndex; }
  void SetTabIndex(int tabIndex);
  bool FontBold() const { return mFontBold; }
  void SetFontBold(bool bold);
  // The size of the control's font relative to the renderer's normal size (1: normal). The
  // resizer changes it for a control whose font follows the form's size. A scale that is
  // not a positive number throws PlatformError.
  double FontScale() const { return mFontScale; }
  void SetFontScale(double scale);

  void SetErrorMark(bool marked) override;

  // Moves the form's focus here (Form::SetFocusTo).
  void SetFocus();
  bool HasFocus() const;

  // Bumped by every change a renderer shows.
  std::uint64_t Version() const { return mVersion; }

  Signal<> GotFocus;
  Signal<> LostFocus;

 protected:
  // Records a change of what the renderer shows and tells the form.
  void NotifyChanged();

 private:
  Form* mForm;
  std::string mBaseName;
  int mIndex;
  Control* mParent;
  int mLeft = 0;
  int mTop = 0;
  int mWidth = 0;
  int mHeight = 0;
  bool mVisible = true;
  bool mEnabled = true;
  std::string mTag;
  int mTabIndex = 0;
  bool mFontBold = false;
  double mFontScale = 1.0;
  std::uint64_t mVersion = 0;
};

}  // namespace fm

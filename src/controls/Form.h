#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "controls/Control.h"
#include "controls/Signal.h"
#include "platform/UiElement.h"

namespace fm {

// A form of the screen model: the document or a dialog. It owns its controls and raises
// the life-cycle events the screen handles (Form_Load, Form_Activate, Form_QueryUnload,
// Form_Unload).
//
// Life cycle: LoadForm raises Load once until the form is unloaded; Show and ShowModal
// load it first if needed, make it visible and raise Activate. ShowModal hands the form to
// Services::Ui().ShowModal and returns when that returns: with the desktop, when the form
// is hidden or unloaded; with a scripted UI, when the script's callback returns (the form
// then stays as the script left it). UnloadForm raises QueryUnload and Unload, either of
// which may cancel; the controls keep their values, so a caller can read a dialog's result
// after hiding and before or after unloading it.
//
// Renderer contract: Controls() lists every control in creation order; the Changed event
// fires, synchronously, with the control (or the form itself) whenever something visible
// changes, and Version() counts those changes.
//
// Errors: a duplicate control name, a parent that is not a frame of this form, a second
// modal show of a form already shown modally, or moving the focus to a control that cannot
// take it throw PlatformError naming the form and the control.
class LayoutMetrics;
class Resizer;

class Form : public UiElement {
 public:
  enum class UnloadMode { FormControlMenu = 0, FormCode = 1 };

  explicit Form(std::string name, std::string caption = {});
  ~Form() override;
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  std::string Name() const override { return mName; }
  const std::string& Caption() const { return mCaption; }
  void SetCaption(std::string caption);
  int ClientWidth() const { return mClientWidth; }
  int ClientHeight() const { return mClientHeight; }
  // Sets the client area in twips without moving any control (the design size).
  void SetClientSize(int width, int height);

  // --- Controls
  // Creates a control of type T on the form (parent nullptr) or inside a frame of this
  // form. `index` is the element's index in its control array, -1 for a lone control.
  // Extra arguments go to T's constructor after the site.
  template <class T, class... Args>
  T& Add(std::string name, int index = -1, Control* parent = nullptr, Args&&... args) {
    CheckNewControl(name, index, parent);
    auto control = std::make_unique<T>(Control::Site{this, std::move(name), index, parent},
                                       std::forward<Args>(args)...);
    T& result = *control;
    Register(std::move(control));
    return result;
  }
  const std::vector<Control*>& Controls() const { return mControlList; }
  // By full name ("txtBox(3)"), letter case ignored; nullptr when there is none.
  Control* FindControl(std::string_view name) const;
  // The controls directly inside `container` (nullptr: directly on the form), in creation
  // order.
  std::vector<Control*> ChildrenOf(const Control* container) const;
  // The controls that can take the focus, in tab order: by TabIndex, or, once the form's
  // tab order follows its layout, the controls shown in reading order (rows from top to
  // bottom, left to right in a row; a frame's controls where the frame stands).
  std::vector<Control*> TabOrder() const;
  void SetTabOrderFollowsLayout(bool follows);
  bool TabOrderFollowsLayout() const { return mTabOrderFollowsLayout; }

  // --- Life cycle
  bool IsLoaded() const { return mLoaded; }
  bool Visible() const { return mVisible; }
  bool IsModal() const { return mModal; }
  bool IsActive() const { return mActive; }
  void LoadForm();
  void Show();
  void ShowModal();
  void Hide();
  // Unload by code. Answers false when a QueryUnload or Unload handler cancelled.
  bool UnloadForm();
  // The user closed the window (control menu); as UnloadForm with that mode.
  bool CloseByUser();
  // The renderer reports that the window became (in)active.
  void ActivateByUser();
  void DeactivateByUser();
  // The user resized the window: the form's resizer lays the controls out anew (Resizer),
  // or, without one, only the client size changes; then Resize is raised.
  void ResizeByUser(int width, int height);
  // The least client size the form's resizer can lay the controls out in (Resizer); no
  // limit without a resizer.
  TwipSize MinimumClientSize() const;
  // A renderer measured its fonts: the form sizes its captions and what follows from them.
  // Called once, before the first resize; the default keeps the design as it is.
  virtual void FitLayout(const LayoutMetrics& metrics);
  // Enter and Escape: click the visible, usable default (cancel) button. Answers whether
  // there was one.
  bool PressDefaultButton();
  bool PressCancelButton();

  // --- Focus
  Control* ActiveControl() const { return mActiveControl; }
  // Raises LostFocus on the control that had the focus, then GotFocus on `control` (unless
  // a LostFocus handler moved the focus elsewhere).
  void SetFocusTo(Control& control);
  // Moves the focus to the next (previous) usable control in tab order, wrapping around.
  // Answers false when no control can take it.
  bool FocusNext(bool backward = false);

  // --- Renderer support
  std::uint64_t Version() const { return mVersion; }
  // Called by controls; raises Changed.
  void NotifyChanged(UiElement& element);

  Signal<> Load;
  Signal<> Activate;
  Signal<> Deactivate;
  // (cancel, mode): set cancel to a non-zero value to keep the form loaded.
  Signal<int&, UnloadMode> QueryUnload;
  Signal<int&> Unload;
  Signal<> Resize;
  Signal<UiElement&> Changed;

 private:
  void CheckNewControl(const std::string& name, int index, const Control* parent) const;
  void Register(std::unique_ptr<Control> control);
  bool UnloadWithMode(UnloadMode mode);
  void BecomeActive();
  bool PressButton(bool defaultButton);
  Resizer* FindResizer() const;
  void AppendInReadingOrder(const Control* container, std::vector<Control*>& order) const;

  std::string mName;
  std::string mCaption;
  int mClientWidth = 0;
  int mClientHeight = 0;
  std::vector<std::unique_ptr<Control>> mControls;
  std::vector<Control*> mControlList;  // the same, for the renderer
  bool mLoaded = false;
  bool mVisible = false;
  bool mModal = false;
  bool mActive = false;
  Control* mActiveControl = nullptr;
  std::uint64_t mVersion = 0;
  bool mDestroying = false;
  bool mTabOrderFollowsLayout = false;
};

}  // namespace fm

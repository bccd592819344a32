#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace fm {
class ComboBox;
class Control;
class TextBox;
}  // namespace fm

namespace fm::qt {

// The editable text of a model control (a text box, or a combo box's text) as the edit
// widgets drive it: the widget never edits its own text; it hands each key, paste and
// delete to the model and then shows what the model made of it.
class EditTarget {
 public:
  virtual ~EditTarget() = default;

  virtual Control& GetControl() const = 0;
  virtual const std::string& Text() const = 0;
  virtual int SelStart() const = 0;
  virtual int SelLength() const = 0;
  virtual void SetSelection(int start, int length) = 0;
  virtual int MaxLength() const = 0;
  virtual bool ReadOnly() const = 0;

  // Each answers whether the text changed.
  virtual bool TypeKey(int code) = 0;
  virtual bool Paste(std::string_view text) = 0;
  virtual bool TypeDelete() = 0;
};

// The edit targets of the two editable kinds of control. The control must outlive the
// target.
std::unique_ptr<EditTarget> MakeEditTarget(TextBox& box);
std::unique_ptr<EditTarget> MakeEditTarget(ComboBox& combo);

// What an edit widget needs of the view it sits in.
struct EditContext {
  // Runs a model call for a user event under the error trap (`what` names the event), then
  // brings the view up to date with the model.
  std::function<void(const char* what, const std::function<void()>& action)> forward;
  // Enter and Escape on the form: answer whether a default (cancel) button took the key.
  std::function<bool()> pressDefault;
  std::function<bool()> pressCancel;
};

}  // namespace fm::qt

#pragma once

#include <string>
#include <string_view>

#include "controls/Control.h"
#include "controls/EditBuffer.h"
#include "controls/Signal.h"

namespace fm {

// A text box. Setting the text in code raises Change when the text differs (so code that
// sets `txtBox(0)` runs `txtBox_Change`); setting the same text again raises nothing.
//
// User input arrives through TypeKey / TypeText / Paste / TypeDelete, which the renderer
// (or a test) calls: KeyPress first, with the character code its handlers may replace or
// zero; a zeroed key inserts nothing; what is left is applied at the caret (EditBuffer
// gives the rules, MaxLength included) and Change follows if the text changed. A box that
// is hidden, disabled or inside a hidden or disabled frame takes no input; a locked box
// raises KeyPress but keeps its text.
//
// Errors: a negative maximum length or selection value throws PlatformError naming the
// box.
class TextBox final : public Control {
 public:
  explicit TextBox(const Site& site);

  ControlKind Kind() const override { return ControlKind::TextBox; }
  bool CanFocus() const override { return true; }

  const std::string& Text() const { return mBuffer.Text(); }
  void SetText(std::string text);

  int MaxLength() const { return mBuffer.MaxLength(); }
  void SetMaxLength(int maxLength);
  bool MultiLine() const { return mBuffer.MultiLine(); }
  void SetMultiLine(bool multiLine);
  bool Locked() const { return mLocked; }
  void SetLocked(bool locked);

  int SelStart() const { return mBuffer.SelStart(); }
  int SelLength() const { return mBuffer.SelLength(); }
  std::string SelText() const { return mBuffer.SelText(); }
  void SetSelStart(int start);    // drops the selection, as the original does
  void SetSelLength(int length);  // from SelStart
  void SetSelection(int start, int length);
  void SelectAll();

  // --- User input. Each answers whether the text changed.
  bool TypeKey(int code);
  // One TypeKey per character; a line break "\n" (or "\r\n") is the Enter key.
  bool TypeText(std::string_view text);
  // Pasting raises no KeyPress, only Change.
  bool Paste(std::string_view text);
  // The Delete key (no KeyPress on the original platform either).
  bool TypeDelete();

  Signal<int&> KeyPress;
  Signal<> Change;

 private:
  // Raises Change when the text differs from `before`.
  bool FinishEdit(const std::string& before);
  void CheckSelectionValue(const char* what, int value) const;

  EditBuffer mBuffer;
  bool mLocked = false;
};

}  // namespace fm

#pragma once

#include <string>
#include <string_view>

namespace fm {

// The editing engine behind the text box and the combo box's text: the text, the caret and
// the selection, and what a typed character does to them. Positions and lengths count
// characters. No events: the controls raise KeyPress before and Change after.
//
// Typing follows the edit control of the original platform: a printable character
// replaces the selection (or goes in at the caret); backspace (8) deletes the selection or
// the character before the caret; Enter (13) inserts CR LF in a multi-line box and nothing
// in a single-line one; other control codes insert nothing. The maximum length (0 = none)
// refuses typed and pasted input that would make the text longer, but text set by code is
// kept as given.
class EditBuffer {
 public:
  const std::string& Text() const { return mText; }
  // Replaces the whole text; the caret goes to its end.
  void SetText(std::string text);

  int Length() const;  // characters
  int SelStart() const { return mSelStart; }
  int SelLength() const { return mSelLength; }
  std::string SelText() const;
  // Clamped to the text: a start past the end goes to the end, a length past the end
  // stops there. Negative values count as 0.
  void SetSelection(int start, int length);
  void SelectAll() { SetSelection(0, Length()); }

  int MaxLength() const { return mMaxLength; }
  void SetMaxLength(int maxLength) { mMaxLength = maxLength < 0 ? 0 : maxLength; }
  bool MultiLine() const { return mMultiLine; }
  void SetMultiLine(bool multiLine) { mMultiLine = multiLine; }

  // One typed character code, after the key-press handlers had their say (0 = dropped).
  // Answers whether the text changed.
  bool ApplyKey(int code);
  // Pasted text at the selection: cut at the first line break in a single-line box and to
  // what the maximum length leaves room for. Answers whether the text changed.
  bool Paste(std::string_view text);
  // The Delete key: the selection, or the character after the caret.
  bool DeleteForward();

 private:
  // Replaces the selection by `insert` if the maximum length allows it.
  bool ReplaceSelection(std::string_view insert);
  void EraseChars(int start, int count);

  std::string mText;
  int mSelStart = 0;
  int mSelLength = 0;
  int mMaxLength = 0;
  bool mMultiLine = false;
};

}  // namespace fm

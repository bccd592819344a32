#include "controls/TextBox.h"

#include <fmt/format.h>

#include "base/Text.h"
#include "platform/PlatformError.h"

namespace fm {

TextBox::TextBox(const Site& site) : Control(site) {}

void TextBox::SetText(std::string text) {
  if (text == mBuffer.Text()) return;
  mBuffer.SetText(std::move(text));
  NotifyChanged();
  Change.Emit();
}

void TextBox::SetMaxLength(int maxLength) {
  if (maxLength < 0) {
    throw PlatformError(PlatformError::kGeneric,
                        fmt::format("Invalid maximum length {} for {}", maxLength, Name()));
  }
  if (maxLength == mBuffer.MaxLength()) return;
  mBuffer.SetMaxLength(maxLength);
  NotifyChanged();
}

void TextBox::SetMultiLine(bool multiLine) {
  if (multiLine == mBuffer.MultiLine()) return;
  mBuffer.SetMultiLine(multiLine);
  NotifyChanged();
}

void TextBox::SetLocked(bool locked) {
  if (locked == mLocked) return;
  mLocked = locked;
  NotifyChanged();
}

void TextBox::CheckSelectionValue(const char* what, int value) const {
  if (value < 0) {
    throw PlatformError(PlatformError::kGeneric,
                        fmt::format("Invalid {} {} for {}", what, value, Name()));
  }
}

void TextBox::SetSelStart(int start) {
  CheckSelectionValue("selection start", start);
  mBuffer.SetSelection(start, 0);
  NotifyChanged();
}

void TextBox::SetSelLength(int length) {
  CheckSelectionValue("selection length", length);
  mBuffer.SetSelection(mBuffer.SelStart(), length);
  NotifyChanged();
}

void TextBox::SetSelection(int start, int length) {
  CheckSelectionValue("selection start", start);
  CheckSelectionValue("selection length", length);
  mBuffer.SetSelection(start, length);
  NotifyChanged();
}

void TextBox::SelectAll() {
  mBuffer.SelectAll();
  NotifyChanged();
}

bool TextBox::FinishEdit(const std::string& before) {
  if (mBuffer.Text() == before) {
    NotifyChanged();  // the caret may have moved
    return false;
  }
  NotifyChanged();
  Change.Emit();
  return true;
}

bool TextBox::TypeKey(int code) {
  if (!IsUsable()) return false;
  KeyPress.Emit(code);
  // A handler may have disabled or hidden the box, or locked it.
  if (code == 0 || mLocked || !IsUsable()) return false;
  const std::string before = mBuffer.Text();
  mBuffer.ApplyKey(code);
  return FinishEdit(before);
}

bool TextBox::TypeText(std::string_view typed) {
  bool changed = false;
  const std::vector<int> codes = text::DecodeChars(typed);
  for (std::size_t i = 0; i < codes.size(); ++i) {
    int code = codes[i];
    if (code == '\r') {
      if (i + 1 < codes.size() && codes[i + 1] == '\n') continue;
      code = 13;
    } else if (code == '\n') {
      code = 13;
    }
    changed = TypeKey(code) || changed;
  }
  return changed;
}

bool TextBox::Paste(std::string_view pasted) {
  if (!IsUsable() || mLocked) return false;
  const std::string before = mBuffer.Text();
  mBuffer.Paste(pasted);
  return FinishEdit(before);
}

bool TextBox::TypeDelete() {
  if (!IsUsable() || mLocked) return false;
  const std::string before = mBuffer.Text();
  mBuffer.DeleteForward();
  return FinishEdit(before);
}

}  // namespace fm

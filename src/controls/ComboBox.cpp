#include "controls/ComboBox.h"

#include <fmt/format.h>

#include "base/Text.h"
#include "platform/PlatformError.h"

namespace fm {

void ComboBox::CheckIndex(int index, bool allowNone) const {
  if ((allowNone && index == -1) || (index >= 0 && index < ListCount())) return;
  throw PlatformError(PlatformError::kGeneric,
                      fmt::format("Invalid list index {} for {}, which holds {} item(s)", index,
                                  Name(), ListCount()));
}

void ComboBox::TextChanged() {
  mListIndex = -1;
  for (int i = 0; i < ListCount(); ++i) {
    if (text::EqualsNoCase(mItems[static_cast<std::size_t>(i)], mBuffer.Text())) {
      mListIndex = i;
      break;
    }
  }
  NotifyChanged();
  Change.Emit();
}

void ComboBox::SetText(std::string newText) {
  if (newText == mBuffer.Text()) return;
  mBuffer.SetText(std::move(newText));
  TextChanged();
}

void ComboBox::SetMaxLength(int maxLength) {
  if (maxLength < 0) {
    throw PlatformError(PlatformError::kGeneric,
                        fmt::format("Invalid maximum length {} for {}", maxLength, Name()));
  }
  mBuffer.SetMaxLength(maxLength);
  NotifyChanged();
}

void ComboBox::AddItem(std::string item, int index) {
  if (index != -1 && (index < 0 || index > ListCount())) {
    throw PlatformError(PlatformError::kGeneric,
                        fmt::format("Invalid position {} for a new item of {}, which holds {} "
                                    "item(s)",
                                    index, Name(), ListCount()));
  }
  const int at = index == -1 ? ListCount() : index;
  mItems.insert(mItems.begin() + at, std::move(item));
  if (mListIndex >= at) ++mListIndex;
  NotifyChanged();
}

void ComboBox::RemoveItem(int index) {
  CheckIndex(index, false);
  mItems.erase(mItems.begin() + index);
  if (mListIndex == index) {
    mListIndex = -1;
  } else if (mListIndex > index) {
    --mListIndex;
  }
  NotifyChanged();
}

void ComboBox::Clear() {
  mItems.clear();
  mListIndex = -1;
  NotifyChanged();
  if (!mBuffer.Text().empty()) {
    mBuffer.SetText({});
    TextChanged();
  }
}

const std::string& ComboBox::List(int index) const {
  CheckIndex(index, false);
  return mItems[static_cast<std::size_t>(index)];
}

void ComboBox::SetListIndex(int index) {
  CheckIndex(index, true);
  if (index == mListIndex) return;
  const std::string newText = index >= 0 ? mItems[static_cast<std::size_t>(index)] : std::string();
  if (newText != mBuffer.Text()) {
    mBuffer.SetText(newText);
    TextChanged();
  }
  // The text may match an earlier item of the same text; the chosen index wins.
  mListIndex = index;
  NotifyChanged();
  if (index >= 0) Click.Emit();
}

bool ComboBox::ChooseItem(int index) {
  CheckIndex(index, false);
  if (!IsUsable() || index == mListIndex) return false;
  SetListIndex(index);
  return true;
}

bool ComboBox::TypeKey(int code) {
  if (!IsUsable()) return false;
  KeyPress.Emit(code);
  if (code == 0 || !IsUsable()) return false;
  const std::string before = mBuffer.Text();
  mBuffer.ApplyKey(code);
  if (mBuffer.Text() == before) {
    NotifyChanged();
    return false;
  }
  TextChanged();
  return true;
}

bool ComboBox::TypeText(std::string_view typed) {
  bool changed = false;
  for (int code : text::DecodeChars(typed)) changed = TypeKey(code) || changed;
  return changed;
}

bool ComboBox::Paste(std::string_view pasted) {
  if (!IsUsable()) return false;
  const std::string before = mBuffer.Text();
  mBuffer.Paste(pasted);
  if (mBuffer.Text() == before) return false;
  TextChanged();
  return true;
}

void ComboBox::SetSelection(int start, int length) {
  if (start < 0 || length < 0) {
    throw PlatformError(PlatformError::kGeneric,
                        fmt::format("Invalid selection {}, {} for {}", start, length, Name()));
  }
  mBuffer.SetSelection(start, length);
  NotifyChanged();
}

}  // namespace fm

#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "controls/Control.h"
#include "controls/EditBuffer.h"
#include "controls/Signal.h"

namespace fm {

// A drop-down combo box with free text: a list of items and an editable text.
//
// Events: Change whenever the text changes (by code, by typing, or because an item was
// chosen); Click when an item becomes the chosen one (SetListIndex or the user's
// ChooseItem), after Change. The list index follows the text: after any change of the
// text it is the first item equal to the text (letter case ignored), or -1.
//
// Typing works as in a text box (KeyPress with a code the handlers may replace or zero,
// then Change); see TextBox and EditBuffer.
//
// Errors: an item index out of range throws PlatformError naming the combo and the index.
class ComboBox final : public Control {
 public:
  explicit ComboBox(const Site& site) : Control(site) {}

  ControlKind Kind() const override { return ControlKind::ComboBox; }
  bool CanFocus() const override { return true; }

  const std::string& Text() const { return mBuffer.Text(); }
  void SetText(std::string text);
  int MaxLength() const { return mBuffer.MaxLength(); }
  void SetMaxLength(int maxLength);

  // --- The list
  // Inserts at `index` (-1: at the end).
  void AddItem(std::string item, int index = -1);
  void RemoveItem(int index);
  // Empties the list and the text.
  void Clear();
  int ListCount() const { return static_cast<int>(mItems.size()); }
  const std::string& List(int index) const;
  const std::vector<std::string>& Items() const { return mItems; }
  int ListIndex() const { return mListIndex; }
  // Chooses an item (its text becomes the text) or, with -1, none (the text is emptied).
  void SetListIndex(int index);

  // --- User input
  // The user picks an item from the drop-down list; ignored when the combo cannot be used.
  bool ChooseItem(int index);
  bool TypeKey(int code);
  bool TypeText(std::string_view text);
  bool Paste(std::string_view text);
  int SelStart() const { return mBuffer.SelStart(); }
  int SelLength() const { return mBuffer.SelLength(); }
  void SetSelection(int start, int length);

  Signal<int&> KeyPress;
  Signal<> Change;
  Signal<> Click;

 private:
  void CheckIndex(int index, bool allowNone) const;
  // After a text change: the list index follows, then Change.
  void TextChanged();

  EditBuffer mBuffer;
  std::vector<std::string> mItems;
  int mListIndex = -1;
};

}  // namespace fm

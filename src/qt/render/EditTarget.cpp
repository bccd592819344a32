#include "qt/render/EditTarget.h"

#include <algorithm>

#include "controls/ComboBox.h"
#include "controls/TextBox.h"

namespace fm::qt {

namespace {

constexpr int kBackspace = 8;

class TextBoxEditTarget final : public EditTarget {
 public:
  explicit TextBoxEditTarget(TextBox& box) : mBox(box) {}
  Control& GetControl() const override { return mBox; }
  const std::string& Text() const override { return mBox.Text(); }
  int SelStart() const override { return mBox.SelStart(); }
  int SelLength() const override { return mBox.SelLength(); }
  void SetSelection(int start, int length) override { mBox.SetSelection(start, length); }
  int MaxLength() const override { return mBox.MaxLength(); }
  bool ReadOnly() const override { return mBox.Locked(); }
  bool TypeKey(int code) override { return mBox.TypeKey(code); }
  bool Paste(std::string_view text) override { return mBox.Paste(text); }
  bool TypeDelete() override { return mBox.TypeDelete(); }

 private:
  TextBox& mBox;
};

class ComboBoxEditTarget final : public EditTarget {
 public:
  explicit ComboBoxEditTarget(ComboBox& combo) : mCombo(combo) {}
  Control& GetControl() const override { return mCombo; }
  const std::string& Text() const override { return mCombo.Text(); }
  int SelStart() const override { return mCombo.SelStart(); }
  int SelLength() const override { return mCombo.SelLength(); }
  void SetSelection(int start, int length) override { mCombo.SetSelection(start, length); }
  int MaxLength() const override { return mCombo.MaxLength(); }
  bool ReadOnly() const override { return false; }
  bool TypeKey(int code) override { return mCombo.TypeKey(code); }
  bool Paste(std::string_view text) override { return mCombo.Paste(text); }
  bool TypeDelete() override {
    if (mCombo.SelLength() == 0) {
      // Nothing after the caret: nothing to delete, and no key to report either.
      if (mCombo.SelStart() >= CharacterCount()) return false;
      mCombo.SetSelection(mCombo.SelStart(), 1);
    }
    return mCombo.TypeKey(kBackspace);
  }

 private:
  int CharacterCount() const {
    const std::string& text = mCombo.Text();
    return static_cast<int>(std::count_if(text.begin(), text.end(), [](char c) {
      return (static_cast<unsigned char>(c) & 0xC0U) != 0x80U;
    }));
  }

  ComboBox& mCombo;
};

}  // namespace

std::unique_ptr<EditTarget> MakeEditTarget(TextBox& box) {
  return std::make_unique<TextBoxEditTarget>(box);
}

std::unique_ptr<EditTarget> MakeEditTarget(ComboBox& combo) {
  return std::make_unique<ComboBoxEditTarget>(combo);
}

}  // namespace fm::qt

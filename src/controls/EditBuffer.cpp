#include "controls/EditBuffer.h"

#include <algorithm>

#include "base/Text.h"

namespace fm {
namespace {
constexpr int kBackspace = 8;
constexpr int kEnter = 13;
}  // namespace

void EditBuffer::SetText(std::string text) {
  mText = std::move(text);
  mSelStart = Length();
  mSelLength = 0;
}

int EditBuffer::Length() const { return static_cast<int>(text::CharCount(mText)); }

std::string EditBuffer::SelText() const {
  const std::size_t begin = text::ByteOffset(mText, static_cast<std::size_t>(mSelStart));
  const std::size_t end = text::ByteOffset(
      mText, static_cast<std::size_t>(mSelStart) + static_cast<std::size_t>(mSelLength));
  return mText.substr(begin, end - begin);
}

void EditBuffer::SetSelection(int start, int length) {
  const int total = Length();
  mSelStart = std::clamp(start, 0, total);
  mSelLength = std::clamp(length, 0, total - mSelStart);
}

void EditBuffer::EraseChars(int start, int count) {
  const std::size_t begin = text::ByteOffset(mText, static_cast<std::size_t>(start));
  const std::size_t end =
      text::ByteOffset(mText, static_cast<std::size_t>(start) + static_cast<std::size_t>(count));
  mText.erase(begin, end - begin);
  mSelStart = start;
  mSelLength = 0;
}

bool EditBuffer::ReplaceSelection(std::string_view insert) {
  const int inserted = static_cast<int>(text::CharCount(insert));
  if (mMaxLength > 0 && Length() - mSelLength + inserted > mMaxLength) return false;
  const bool hadSelection = mSelLength > 0;
  EraseChars(mSelStart, mSelLength);
  const std::size_t at = text::ByteOffset(mText, static_cast<std::size_t>(mSelStart));
  mText.insert(at, insert);
  mSelStart += inserted;
  return hadSelection || inserted > 0;
}

bool EditBuffer::ApplyKey(int code) {
  if (code == 0) return false;
  if (code == kBackspace) {
    if (mSelLength > 0) {
      EraseChars(mSelStart, mSelLength);
      return true;
    }
    if (mSelStart == 0) return false;
    EraseChars(mSelStart - 1, 1);
    return true;
  }
  if (code == kEnter) return mMultiLine && ReplaceSelection("\r\n");
  if (code < 32 || code == 127) return false;
  const std::string character = text::EncodeChar(code);
  if (character.empty()) return false;
  return ReplaceSelection(character);
}

bool EditBuffer::Paste(std::string_view pasted) {
  std::string insert(pasted);
  if (!mMultiLine) {
    const auto lineBreak = insert.find_first_of("\r\n");
    if (lineBreak != std::string::npos) insert.resize(lineBreak);
  }
  if (mMaxLength > 0) {
    const int room = std::max(0, mMaxLength - (Length() - mSelLength));
    insert.resize(text::ByteOffset(insert, static_cast<std::size_t>(room)));
  }
  if (insert.empty() && mSelLength == 0) return false;
  return ReplaceSelection(insert);
}

bool EditBuffer::DeleteForward() {
  if (mSelLength > 0) {
    EraseChars(mSelStart, mSelLength);
    return true;
  }
  if (mSelStart >= Length()) return false;
  EraseChars(mSelStart, 1);
  return true;
}

}  // namespace fm

#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Text helpers of every layer. Texts are UTF-8; positions the controls expose (caret,
// selection, maximum length) count characters, not bytes. Letter case is folded for ASCII
// letters only, which is what the code tables and officer names hold.
namespace fm::text {

// The blanks a clerk may type around a value: space, tab, carriage return, line feed.
constexpr bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The text without blanks at either end; a view into `text`, nothing copied.
constexpr std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::string Trim(std::string_view text);
std::string ToUpper(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// Number of characters; a byte that does not start a valid UTF-8 sequence counts as one.
std::size_t CharCount(std::string_view text);
// Byte offset of the character at `charIndex` (the text's size when past the end).
std::size_t ByteOffset(std::string_view text, std::size_t charIndex);
// The UTF-8 form of a character code; codes outside Unicode's range or surrogates answer
// the empty text.
std::string EncodeChar(int code);
// The character codes of a text (invalid bytes come back as their own value).
std::vector<int> DecodeChars(std::string_view text);
// The offset of the first byte that is not part of well-formed UTF-8 (an overlong form, a
// surrogate, a code beyond U+10FFFF or a cut sequence), or the text's size when it is all
// well-formed.
std::size_t InvalidUtf8At(std::string_view text);

}  // namespace fm::text

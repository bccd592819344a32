#include "base/Text.h"

namespace fm::text {
namespace {

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Length of the UTF-8 sequence starting at `pos`, or 1 for a byte that does not start a
// valid sequence (so that broken input still advances one byte at a time).
std::size_t SequenceLength(std::string_view text, std::size_t pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  std::size_t length = 1;
  if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
  } else if (lead >= 0xE0) {
    length = 3;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else {
    return 1;
  }
  if (lead >= 0xF5) return 1;
  if (pos + length > text.size()) return 1;
  for (std::size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[pos + i]) & 0xC0) != 0x80) return 1;
  }
  return length;
}

}  // namespace

std::string Trim(std::string_view text) { return std::string(TrimBlanks(text)); }

std::string ToUpper(std::string_view text) {
  std::string result(text);
  for (auto& c : result) c = UpperAscii(c);
  return result;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::size_t CharCount(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t pos = 0; pos < text.size(); pos += SequenceLength(text, pos)) ++count;
  return count;
}

std::size_t ByteOffset(std::string_view text, std::size_t charIndex) {
  std::size_t pos = 0;
  for (std::size_t i = 0; i < charIndex && pos < text.size(); ++i) {
    pos += SequenceLength(text, pos);
  }
  return pos;
}

std::string EncodeChar(int code) {
  std::string out;
  if (code < 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return out;
  const auto c = static_cast<unsigned>(code);
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

std::vector<int> DecodeChars(std::string_view text) {
  std::vector<int> codes;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t length = SequenceLength(text, pos);
    const auto lead = static_cast<unsigned char>(text[pos]);
    unsigned code = lead;
    if (length == 2) code = lead & 0x1F;
    if (length == 3) code = lead & 0x0F;
    if (length == 4) code = lead & 0x07;
    for (std::size_t i = 1; i < length; ++i) {
      code = (code << 6) | (static_cast<unsigned char>(text[pos + i]) & 0x3F);
    }
    codes.push_back(static_cast<int>(code));
    pos += length;
  }
  return codes;
}

std::size_t InvalidUtf8At(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    std::size_t length = 0;
    unsigned code = 0;
    if (b >= 0xC2 && b <= 0xDF) {
      length = 2;
      code = b & 0x1Fu;
    } else if (b >= 0xE0 && b <= 0xEF) {
      length = 3;
      code = b & 0x0Fu;
    } else if (b >= 0xF0 && b <= 0xF4) {
      length = 4;
      code = b & 0x07u;
    } else {
      return i;
    }
    if (i + length > text.size()) return i;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return i;
      code = (code << 6) | (next & 0x3Fu);
    }
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    if (overlong || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return i;
    i += length;
  }
  return text.size();
}

}  // namespace fm::text

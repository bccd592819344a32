#include "common/FormsMaintBas.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <string_view>

#include "platform/ErrorTrap.h"
#include "platform/PlatformError.h"

namespace fm {

namespace {

// Names are stored padded with blanks; other white space is part of the text.
std::string TrimBlanks(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return std::string(text);
}

char LowerChar(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// Position of `needle` (lower-case) in `text`, letter case ignored, from `from` on.
std::size_t FindNoCase(const std::string& text, std::string_view needle, std::size_t from = 0) {
  if (needle.size() > text.size()) return std::string::npos;
  for (std::size_t i = from; i + needle.size() <= text.size(); ++i) {
    bool same = true;
    for (std::size_t j = 0; j < needle.size() && same; ++j) {
      same = LowerChar(text[i + j]) == needle[j];
    }
    if (same) return i;
  }
  return std::string::npos;
}

void ReplaceAllNoCase(std::string& text, std::string_view needle, std::string_view with) {
  for (auto at = FindNoCase(text, needle); at != std::string::npos;
       at = FindNoCase(text, needle, at + with.size())) {
    text.replace(at, needle.size(), with);
  }
}

// A one-letter name is an initial and gets its period.
std::string NamePart(const std::string& trimmed) {
  return trimmed.size() == 1 ? trimmed + "." : trimmed;
}

std::int16_t gCurrentViewMode = kFormsAssignment;

}  // namespace

std::string ProperName(const std::string& lastName, const std::string& firstName,
                       const std::string& middleName, const std::string& suffix) {
  std::string name;
  Trap("TARVO_FormsMaintBas.ProperName", [&] {
    name = TrimBlanks(lastName);

    // A suffix typed into the last name without its blank ("SMITH,JR"). Only one kind is
    // repaired: a name holding both is left with its ",sr" as typed.
    if (FindNoCase(name, ",jr") != std::string::npos) {
      ReplaceAllNoCase(name, ",jr", ", Jr");
    } else if (FindNoCase(name, ",sr") != std::string::npos) {
      ReplaceAllNoCase(name, ",sr", ", Sr");
    }

    const std::string first = TrimBlanks(firstName);
    const std::string middle = TrimBlanks(middleName);
    if (!first.empty()) {
      name += ", " + NamePart(first);
      // An empty middle name adds nothing, so a suffix after it gets a single blank.
      if (!middle.empty()) name += " " + NamePart(middle);
    } else if (!middle.empty()) {
      name += ", " + NamePart(middle);
    }

    const std::string trimmedSuffix = TrimBlanks(suffix);
    if (!trimmedSuffix.empty()) name += " " + trimmedSuffix;

    name = TrimBlanks(name);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  });
  return name;
}

std::int16_t CurrentViewMode() { return gCurrentViewMode; }

void SetCurrentViewMode(std::int16_t mode) {
  if (mode != kFormsAssignment && mode != kNewForms && mode != kInactiveForms) {
    throw PlatformError(PlatformError::kGeneric,
                        fmt::format("View mode {} is none of 0 (Forms Assignment), 1 (New Forms) "
                                    "and 2 (Inactive Forms)",
                                    mode));
  }
  gCurrentViewMode = mode;
}

}  // namespace fm

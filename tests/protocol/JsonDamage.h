#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <random>
#include <string>
#include <string_view>

#include "protocol/ProtocolError.h"

// What the property tests of the fast JSON readers share: a seed a failing run can be
// repeated with, damage of the kind a broken sender or a cut connection makes, and the
// check that the direct reader answers what the tree reader answers.
namespace fm::protocol::testing {

// FM_TEST_SEED when set, else the test's own fixed seed.
inline unsigned SeedForThisRun(unsigned fixed) {
  const char* text = std::getenv("FM_TEST_SEED");
  return text && *text ? static_cast<unsigned>(std::strtoul(text, nullptr, 10)) : fixed;
}

// One to three cuts, insertions or replacements of characters that matter to a JSON reader
// (structure, escapes, number parts, bytes that are not UTF-8), or the text cut short.
inline std::string Damaged(std::string text, std::mt19937_64& random) {
  static const char significant[] = {'"', '\\', '[', ']', '{', '}', ',', ':',    '0',    '1',
                                     '-', 'e',  '.', 'n', ' ', 'x', 'u', '\x80', '\xc3', '\xff'};
  const auto damages = 1 + random() % 3;
  for (std::uint64_t i = 0; i < damages && !text.empty(); ++i) {
    const auto at = random() % text.size();
    switch (random() % 4) {
      case 0:
        text.erase(at, 1 + random() % 3);
        break;
      case 1:
        text.insert(at, 1, significant[random() % std::size(significant)]);
        break;
      case 2:
        text[at] = significant[random() % std::size(significant)];
        break;
      default:
        text.resize(at);
        break;
    }
  }
  return text;
}

// Reads `text` with `direct`; unless it gives up, the tree reader must answer the same.
// True when the direct reader read the text.
template <class Direct, class Tree>
bool ReadAlike(const std::string& text, Direct direct, Tree tree) {
  const auto fast = direct(text);
  if (!fast) return false;
  try {
    EXPECT_EQ(*fast, tree(text)) << text;
  } catch (const ProtocolError& e) {
    ADD_FAILURE() << "read what the tree reader refuses (" << e.what() << "): " << text;
  }
  return true;
}

}  // namespace fm::protocol::testing

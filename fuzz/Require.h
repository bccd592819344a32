#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace fm::fuzz {

// A property of the reader that the input breaks: said on stderr with the input, then an
// abort, which libFuzzer reports as a crash and keeps the input of.
inline void Require(bool holds, const char* property, std::string_view input) {
  if (holds) return;
  std::fprintf(stderr, "broken: %s\ninput: %.*s\n", property, static_cast<int>(input.size()),
               input.data());
  std::abort();
}

}  // namespace fm::fuzz

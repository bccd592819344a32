#pragma once

#include <string_view>
#include <utility>

namespace fm {

// Reports the exception in flight to the process-wide error reporter with `source` as the
// source text, unless it is the expected early exit, which passes silently. Must be called
// from inside a catch block.
void ReportCurrentException(std::string_view source) noexcept;

// The error trap of every procedure: runs `body`; an expected early exit (EarlyExit) ends
// it silently; any other failure is reported under `source` ("Object.Procedure") and ends
// it. Answers true when the body ran to its end. A function keeps its result in a local
// the body assigns, so it answers what it had set so far:
//
//   bool Foo::Check() {
//     bool valid = false;
//     Trap("Foo.Check", [&] { ...; valid = true; });
//     return valid;
//   }
template <class Body>
bool Trap(std::string_view source, Body&& body) noexcept {
  try {
    std::forward<Body>(body)();
    return true;
  } catch (...) {
    ReportCurrentException(source);
    return false;
  }
}

}  // namespace fm

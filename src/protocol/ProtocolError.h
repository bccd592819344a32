#pragma once

#include <stdexcept>
#include <string>

namespace fm::protocol {

// A message that is not a well-formed request or reply. The text names the member (as a
// path such as "criteria[2].op") and says what was wrong with it, so it can be handed to
// the sender as it stands.
class ProtocolError : public std::runtime_error {
 public:
  explicit ProtocolError(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace fm::protocol

#pragma once

#include <stdexcept>
#include <string>

namespace fm::server {

// The HTTP front cannot start as configured: an address that is not an IP address, a port
// in use, a token file that cannot be read, no tokens on a non-loopback address. The text
// says which setting was wrong and how, so it can be shown to the operator as it stands.
class HttpServerError : public std::runtime_error {
 public:
  explicit HttpServerError(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace fm::server

#pragma once

#include <stdexcept>
#include <string>

namespace fm::server {

// A request the handler cannot carry out as sent: an unknown criterion key or operator,
// a value of the wrong form, a change row missing a column. The text names the key, row or
// column and is shown to the clerk as it stands. Nothing has been changed when it is thrown.
class RequestError : public std::runtime_error {
 public:
  explicit RequestError(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace fm::server

#pragma once

#include <nlohmann/json.hpp>
#include <string>

// For the .cpp files of this library only: it brings nlohmann's JSON in.
namespace fm::protocol {

// A message's text. Texts from the store are not guaranteed to be UTF-8: replacing bad bytes
// beats failing the whole message.
inline std::string DumpJson(const nlohmann::ordered_json& j) {
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace fm::protocol

#include "server/http/TokenFile.h"

#include <fmt/format.h>

#include <boost/asio/ip/address.hpp>
#include <fstream>

#include "server/http/HttpServerError.h"

namespace fm::server {

std::vector<std::string> ReadTokenFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw HttpServerError(fmt::format(
        "the token file {} cannot be read: it is missing or not readable", path.string()));
  }
  std::vector<std::string> tokens;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    std::size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    std::size_t last = line.find_last_not_of(" \t\r");
    std::string token = line.substr(first, last - first + 1);
    for (char c : token) {
      // A bearer token travels in a header: visible ASCII only, no blanks.
      if (c <= ' ' || c > '~') {
        throw HttpServerError(fmt::format(
            "the token file {}, line {}: a token is one word of visible ASCII characters",
            path.string(), number));
      }
    }
    tokens.push_back(std::move(token));
  }
  if (in.bad()) {
    throw HttpServerError(
        fmt::format("the token file {} could not be read to its end", path.string()));
  }
  return tokens;
}

bool IsLoopbackAddress(const std::string& address) {
  if (address == "localhost") return true;
  boost::system::error_code ec;
  auto ip = boost::asio::ip::make_address(address, ec);
  if (ec) return false;
  if (ip.is_v6() && ip.to_v6().is_v4_mapped()) {
    return ip.to_v6().to_v4().is_loopback();  // ::ffff:127.0.0.1
  }
  return ip.is_loopback();
}

}  // namespace fm::server

#include "transport/HttpAddress.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>

#include "base/Numbers.h"
#include "platform/PlatformError.h"

namespace fm {

namespace {

[[noreturn]] void Refuse(std::string_view text, std::string_view problem) {
  throw PlatformError(
      PlatformError::kGeneric,
      fmt::format("The forms server address '{}' is not usable: {}", text, problem));
}

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

}  // namespace

std::string HttpAddress::HostHeader() const {
  const bool ipv6 = host.find(':') != std::string::npos;
  const std::string shown = ipv6 ? "[" + host + "]" : host;
  const unsigned short defaultPort = tls ? 443 : 80;
  return port == defaultPort ? shown : fmt::format("{}:{}", shown, port);
}

std::string HttpAddress::Origin() const {
  const bool ipv6 = host.find(':') != std::string::npos;
  return fmt::format("{}://{}:{}", tls ? "https" : "http", ipv6 ? "[" + host + "]" : host, port);
}

HttpAddress HttpAddress::Parse(std::string_view original) {
  std::string_view text = original;
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  if (text.empty()) Refuse(original, "it is empty");

  HttpAddress address;
  const auto schemeEnd = text.find("://");
  if (schemeEnd != std::string_view::npos) {
    const std::string scheme = Lower(text.substr(0, schemeEnd));
    if (scheme == "https") {
      address.tls = true;
    } else if (scheme != "http") {
      Refuse(original, fmt::format("the scheme '{}' is not http or https", scheme));
    }
    text.remove_prefix(schemeEnd + 3);
  }
  address.port = address.tls ? 443 : 80;

  if (text.find_first_of("?#") != std::string_view::npos) {
    Refuse(original, "it must not carry a query or fragment");
  }
  const auto pathStart = text.find('/');
  std::string_view authority = text.substr(0, pathStart);
  if (pathStart != std::string_view::npos) {
    std::string_view path = text.substr(pathStart);
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);
    address.basePath = std::string(path);
  }
  if (authority.find('@') != std::string_view::npos) {
    Refuse(original,
           "it must not carry a user name or password (the token file holds the "
           "credentials)");
  }

  std::string_view portText;
  if (!authority.empty() && authority.front() == '[') {
    const auto close = authority.find(']');
    if (close == std::string_view::npos) Refuse(original, "the IPv6 address has no closing ']'");
    address.host = std::string(authority.substr(1, close - 1));
    std::string_view rest = authority.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') Refuse(original, "unexpected text after the IPv6 address");
      portText = rest.substr(1);
      if (portText.empty()) Refuse(original, "the port is missing after ':'");
    }
  } else {
    const auto colon = authority.find(':');
    address.host = std::string(authority.substr(0, colon));
    if (colon != std::string_view::npos) {
      if (authority.find(':', colon + 1) != std::string_view::npos) {
        Refuse(original, "an IPv6 address must be written in brackets, e.g. http://[::1]:8080");
      }
      portText = authority.substr(colon + 1);
      if (portText.empty()) Refuse(original, "the port is missing after ':'");
    }
  }
  if (address.host.empty()) Refuse(original, "it names no host");

  if (!portText.empty()) {
    std::int64_t port = 0;
    if (text::ReadWholeNumber(portText, port) != text::WholeNumberStatus::kOk || port < 1 ||
        port > 65535) {
      Refuse(original, fmt::format("the port '{}' is not a number from 1 to 65535", portText));
    }
    address.port = static_cast<unsigned short>(port);
  }
  return address;
}

}  // namespace fm

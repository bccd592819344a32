#pragma once

#include <string>
#include <string_view>

namespace fm {

// Where the forms server listens, as the "server" site setting gives it:
// "http://HOST[:PORT][/PATH]" or "https://HOST[:PORT][/PATH]"; a bare "HOST[:PORT]" means
// http. HOST may be a name, an IPv4 address or an IPv6 address in brackets. The default
// port is 80 for http and 443 for https. PATH, without its trailing slash, is put in front
// of the server's own paths (a server behind a proxy under a prefix).
struct HttpAddress {
  bool tls = false;
  std::string host;  // without brackets
  unsigned short port = 80;
  std::string basePath;  // "" or "/prefix"

  // The Host header: the host, with the port when it is not the scheme's default.
  std::string HostHeader() const;
  // "https://host:port" for messages.
  std::string Origin() const;

  // Throws PlatformError saying what is wrong with the text (unknown scheme, no host, a
  // port that is not a number from 1 to 65535, user information, a query or fragment).
  static HttpAddress Parse(std::string_view text);
};

}  // namespace fm

#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

#include "transport/MessageTransport.h"

namespace fm {

// Carries requests to formsmaint-server over HTTP: `POST <base>/v1/messages` with the
// request as JSON and the bearer token of the token file; the 200 answer is the reply as
// JSON. TLS (certificate and host name verified against the system's trust store, plus
// `caFile` when given) when the address is https.
//
// One connection is kept open between exchanges. When a kept connection turns out to have
// been closed by the server, the request is sent once more on a new connection; this is
// safe because the server applies a save of one request id only once.
//
// Failures throw PlatformError in words for a clerk: the server cannot be found or reached,
// the secure connection fails, no answer within the time-out, an HTTP error status (with
// the server's own explanation), a reply that cannot be read.
//
// Exchanges are serialized (one connection); Cancel may be called from any thread.
class HttpTransport final : public MessageTransport {
 public:
  struct Options {
    // The "server" setting (transport/HttpAddress.h).
    std::string address;
    // One token a line, blank lines and "#" comments skipped; the first token is sent.
    // Read at every exchange, so a replaced token takes effect at once. Empty: no token.
    std::filesystem::path tokenFile;
    // Limit of one whole exchange: connecting, sending and receiving.
    std::chrono::milliseconds timeout{std::chrono::seconds(30)};
    // Largest reply body read.
    std::size_t maxReplyBytes = std::size_t{64} * 1024 * 1024;
    // Certificates (PEM) trusted in addition to the system's, for https.
    std::filesystem::path caFile;
  };

  // Throws PlatformError for an unusable address or CA file.
  explicit HttpTransport(Options options);
  ~HttpTransport() override;
  HttpTransport(const HttpTransport&) = delete;
  HttpTransport& operator=(const HttpTransport&) = delete;

  protocol::Reply Exchange(const protocol::Request& request) override;
  void Cancel() override;

  // Connections opened so far (a kept connection serves many exchanges).
  std::size_t ConnectionsOpened() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> mImpl;
};

}  // namespace fm

#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

#include "transport/MessageTransport.h"

namespace fm {

// Carries requests to formsmaint-server over HTTP: `POST <base>/v1/messages` with the
// request as JSON and the workstation's bearer token; the 200 answer is the reply as JSON.
// TLS (certificate and host name verified against the system's trust store, plus `caFile`
// when given; TLS 1.2 at least) when the address is https.
//
// One connection is kept open between exchanges. When a kept connection turns out to have
// been closed by the server, the request is sent once more on a new connection; this is
// safe because the server applies a save of one request id only once.
//
// Failures throw PlatformError in words for a clerk: the server cannot be found or reached,
// the secure connection fails (an untrusted certificate says so), no answer within the
// time-out, an HTTP error status (with the server's own explanation), a reply that cannot
// be read. A refusal of the account (401, 403) is the server's own words: the exchange
// reached the server, which said no.
//
// Exchanges are serialized (one connection); Cancel may be called from any thread.
class HttpTransport final : public MessageTransport {
 public:
  struct Options {
    // The "server" setting (transport/HttpAddress.h).
    std::string address;
    // The bearer token sent with every request. Empty: the token of `tokenFile`, if any.
    std::string token;
    // A file holding the token: the first line that is neither blank nor a "#" comment.
    // Read at every exchange, so a replaced token takes effect at once. Empty: no file.
    std::filesystem::path tokenFile;
    // Limit of one whole exchange: connecting, sending and receiving.
    std::chrono::milliseconds timeout{std::chrono::seconds(30)};
    // Largest reply body read.
    std::size_t maxReplyBytes = std::size_t{64} * 1024 * 1024;
    // Certificates (PEM) trusted in addition to the system's, for https.
    std::filesystem::path caFile;
  };

  // Throws PlatformError for an unusable address, token or CA file.
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

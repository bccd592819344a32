#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "server/http/HttpApi.h"

namespace fm::server {

class RequestHandler;
class TokenTable;

struct HttpServerOptions {
  // IP address to listen on ("127.0.0.1", "::1", "0.0.0.0"; "localhost" means 127.0.0.1).
  std::string address = "127.0.0.1";
  // 0: any free port; Port() answers the one taken.
  unsigned short port = 0;
  // The bearer tokens a client may present and whom each stands for. Null: no token is
  // asked for and every request acts as HttpApi::LocalClient(), which Start() allows only on
  // a loopback address.
  std::shared_ptr<const TokenTable> tokens;
  // TLS: the certificate chain and private key (PEM files). Both or neither; TLS 1.2 at
  // least. A non-loopback address needs TLS unless `insecureBehindProxy` says a
  // TLS-terminating proxy in front of the server is the only way in (a warning is logged).
  std::filesystem::path tlsCertificate;
  std::filesystem::path tlsKey;
  bool insecureBehindProxy = false;
  // Largest request body accepted (413 beyond it) and largest request header (431).
  std::size_t bodyLimit = std::size_t{8} * 1024 * 1024;
  std::size_t headerLimit = std::size_t{16} * 1024;
  // The requests being received or handled at once may hold at most this many bytes in all
  // (BodyBudget): a body while it arrives (its declared length, a chunked one's bodyLimit),
  // then the body and what reading and answering it take (HttpApi::HandlingCost), then its
  // reply until written. A body that would pass it is answered 503 with Retry-After before
  // it is read. A request whose handling does not fit waits for those handled before it; it
  // is answered 503 when nothing else can give back, 413 when it could never fit. It bounds
  // the memory that connections sending large bodies, slowly or not, can take.
  std::size_t bodyBudget = std::size_t{64} * 1024 * 1024;
  // What one request may ask (request id, criteria, rows); 422 beyond.
  HttpRequestLimits limits;
  // A request must arrive in full within readTimeout of its first byte (a TLS handshake
  // within readTimeout of the connection), and a response be taken by the client within
  // writeTimeout; a keep-alive connection waiting for its next request is closed after
  // idleTimeout.
  std::chrono::milliseconds readTimeout{std::chrono::seconds(30)};
  std::chrono::milliseconds writeTimeout{std::chrono::seconds(30)};
  std::chrono::milliseconds idleTimeout{std::chrono::seconds(60)};
  // How long Stop() lets requests in flight finish before it closes their connections.
  std::chrono::milliseconds stopGrace{std::chrono::seconds(30)};
  // Threads running the request handler (store calls block), and threads doing network I/O.
  int threads = 4;
  int ioThreads = 1;
  // Connections open at once; a connection beyond is answered 503 and closed.
  std::size_t maxConnections = 1024;
  // Access log file (one line per request), appended to. Empty: standard error.
  std::filesystem::path accessLog;
  // A connection keeps the buffer of its last reply for its next one, up to this capacity;
  // a larger one (a large search's) is given back after the reply is sent.
  std::size_t replyBufferKeep = std::size_t{256} * 1024;
  // A reply body larger than chunkedReplyAbove goes to an HTTP/1.1 client with chunked
  // transfer encoding, in chunks of at most replyChunkBytes written straight from the
  // rendered body, one after the other: the socket is never handed more than one chunk at a
  // time, so a slow reader holds at most that much in kernel buffers, and the whole reply
  // must still be taken within writeTimeout. Smaller replies (and any to HTTP/1.0) carry a
  // Content-Length. Both above 0.
  std::size_t chunkedReplyAbove = std::size_t{256} * 1024;
  std::size_t replyChunkBytes = std::size_t{64} * 1024;
  // Lines of the access log are buffered; they reach the file at least this often, and at
  // Stop().
  std::chrono::milliseconds accessLogFlush{std::chrono::seconds(1)};
};

// The HTTP/JSON front of the forms server (docs/protocol.md), over TLS when given a
// certificate:
//   POST /v1/messages     a request (protocol/Json.h) in, its reply out; bearer token
//   GET  /v1/history      chain of custody of one form (?form_type=C&number=1100050); token
//   POST /v1/withdrawals  an admin's withdrawal of forms; token
//   GET  /healthz         store backend and schema version; no token
// What each role may ask is HttpApi's. Network I/O is asynchronous, so idle keep-alive
// connections cost no thread; the request handler runs on its own pool of `threads`
// threads, which also starts each response's write (one thread hop per request). Memory for
// request bodies and their handling is bounded by options.bodyBudget whatever the clients do.
//
// Lifecycle: construct, Start(), ..., Stop(). Start and Stop are called from one controlling
// thread, never from a handler. The handler is shared with the caller and must outlive
// the server's use of it (held until the destructor).
class HttpServer {
 public:
  // Throws HttpServerError when `handler` is null.
  HttpServer(std::shared_ptr<RequestHandler> handler, HttpServerOptions options);
  // Stops the server if it is running (graceful, as Stop()).
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds, listens and starts the threads; returns once connections are accepted. Throws
  // HttpServerError for an address that is not an IP address, a port that cannot be bound,
  // no tokens or no TLS (without insecureBehindProxy) on a non-loopback address, a
  // certificate or key that cannot be used, or a second call; StoreError never (the store
  // is first touched by requests).
  void Start();

  // Swaps the token table (the token file read anew): requests admitted from now on are
  // looked up in it, so a revoked token stops working. Ignored on a server started without
  // tokens. Any thread.
  void ReplaceTokens(std::shared_ptr<const TokenTable> tokens);

  // Whether connections speak TLS (options.tlsCertificate given).
  bool Secure() const;

  // The port listened on (the one chosen when options.port is 0). Valid after Start().
  unsigned short Port() const;
  // "ADDRESS:PORT" listened on, IPv6 addresses in brackets. Valid after Start().
  std::string Endpoint() const;

  // Graceful stop: stop accepting, close idle connections, let requests in flight finish
  // (their responses carry "Connection: close") for at most options.stopGrace, then close
  // what is left and join every thread. Blocks until done. Idempotent; a no-op before Start.
  void Stop();

 private:
  class Impl;
  std::unique_ptr<Impl> mImpl;
};

}  // namespace fm::server

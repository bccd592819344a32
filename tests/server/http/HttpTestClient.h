#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fm::server::testing {

// What a test reads from an HTTP answer.
struct HttpReply {
  unsigned status = 0;
  std::string body;
  std::map<std::string, std::string> headers;  // names lower-cased
  bool keepAlive = false;
  std::vector<std::size_t> chunkSizes;  // of a chunked body, as the chunks came

  std::string Header(const std::string& lowerName) const {
    auto it = headers.find(lowerName);
    return it == headers.end() ? std::string() : it->second;
  }
};

// A blocking HTTP/1.1 client on one keep-alive connection to 127.0.0.1, for tests. Reads
// give up after a few seconds rather than hang a test run. Throws std::runtime_error when
// the connection cannot be made or an answer cannot be read.
class HttpTestClient {
 public:
  explicit HttpTestClient(unsigned short port);
  ~HttpTestClient();
  HttpTestClient(const HttpTestClient&) = delete;
  HttpTestClient& operator=(const HttpTestClient&) = delete;

  // Sends one request (Content-Length set from the body; Authorization when token is not
  // empty; Content-Type `contentType` on a POST or with a body, none when empty) and reads
  // its answer.
  HttpReply Request(const std::string& method, const std::string& target,
                    const std::string& body = "", const std::string& token = "",
                    const std::string& contentType = "application/json");
  HttpReply Post(const std::string& body, const std::string& token) {
    return Request("POST", "/v1/messages", body, token);
  }

  // Writes bytes as they stand; false when the server has closed the connection.
  bool SendRaw(std::string_view bytes);
  HttpReply ReadReply();
  // Whether an answer (or the end of the connection) arrives within `milliseconds`.
  bool Readable(int milliseconds);
  // Every byte until the server closes the connection (or nothing comes for a few seconds).
  std::string ReadToEnd();
  // Waits for the server to close the connection: true when it did (end of stream or
  // reset), false when data arrived instead or nothing happened for a few seconds.
  bool ClosedByServer();

  // Whether a new connection to the port is accepted (false: refused).
  static bool Accepting(unsigned short port);

 private:
  struct Impl;
  std::unique_ptr<Impl> mImpl;
};

}  // namespace fm::server::testing

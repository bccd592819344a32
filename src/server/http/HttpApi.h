#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fm::server {

class RequestHandler;

// What the front answers to one request: a status, a JSON body and any headers beyond
// Content-Type, Content-Length and Connection.
struct HttpAnswer {
  unsigned status = 200;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
};

enum class HttpEndpoint { Messages, History, Health, Report };

// The outcome of looking at a request's header: the endpoint to answer once the body is in,
// or (endpoint empty) the answer refusing it.
struct HttpAdmission {
  std::optional<HttpEndpoint> endpoint;
  HttpAnswer refusal;
};

// The endpoints of the forms server without the network: routing, bearer tokens and the
// JSON of every answer. The connection code (HttpServer) decides from Admit whether to read
// the body at all, and runs Answer on the handler's threads.
//
// Thread safety: const after construction; Admit and Answer may run on any thread at once.
class HttpApi {
 public:
  // `tokens` empty: no token is asked for.
  HttpApi(std::shared_ptr<RequestHandler> handler, std::vector<std::string> tokens);

  // Routes by path and method and checks the bearer token (healthz needs none). Unknown
  // path 404, wrong method 405 (with Allow), missing or wrong token 401 (with
  // WWW-Authenticate).
  HttpAdmission Admit(std::string_view method, std::string_view target,
                      std::string_view authorization) const;

  // Answers an admitted request. Never throws: a failure nobody foresaw is a 500 whose
  // details go to the log.
  HttpAnswer Answer(HttpEndpoint endpoint, std::string_view target, std::string_view body) const;

  // {"error": message} with the status.
  static HttpAnswer Error(unsigned status, std::string_view message);

 private:
  HttpAnswer Messages(std::string_view body) const;
  HttpAnswer History(std::string_view target) const;
  HttpAnswer Health() const;
  HttpAnswer Report(std::string_view target) const;
  bool TokenAccepted(std::string_view token) const;

  std::shared_ptr<RequestHandler> mHandler;  // constant after construction
  std::vector<std::string> mTokens;          // constant after construction
};

}  // namespace fm::server

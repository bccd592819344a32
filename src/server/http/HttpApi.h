#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "server/handler/Principal.h"

namespace fm::protocol {
struct Request;
}

namespace fm::server {

class RequestHandler;
class TokenTable;

// What the front answers to one request: a status, a JSON body and any headers beyond
// Content-Type, Content-Length and Connection.
struct HttpAnswer {
  unsigned status = 200;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
};

// What one request may ask; beyond a limit the request is answered 422 naming it. They
// keep one request from costing the store, the history or the log out of proportion: a
// request id is copied into every change stamp and history row a save writes, and every
// criterion becomes a condition of the search's SQL.
struct HttpRequestLimits {
  std::size_t requestIdLength = 64;  // characters of a request id (visible ASCII)
  std::size_t criteria = 64;         // criteria of one request
  // Characters of each text of a request outside its data sets: its identity, version and
  // requester, and a criterion's key, value, operator and application. A reply carries the
  // identity back, a refusal quotes a criterion, each a few times over while it is made.
  std::size_t textLength = 256;
  std::size_t rows = 10000;  // rows of all the data sets of one request
};

enum class HttpEndpoint {
  Messages,
  History,
  Withdrawals,
  Health,
  Report,
  Reconciliation,  // GET /v1/reconciliation
  UsageCsv,        // POST /v1/usage with an import file
  UsageJson,       // POST /v1/usage with uses as JSON
  Usage,           // GET /v1/usage
  Clearance,       // GET /v1/clearance
  Receipt,         // GET /v1/receipts/{n}
  ReceiptPrint,    // POST /v1/receipts/{n}/print
  Stock,           // GET /v1/stock
  StockMinimum,    // PUT /v1/stock/minimum
  Alerts,          // GET /v1/alerts
  Caps,            // GET /v1/caps
  SetCap,          // PUT /v1/caps
  ReissueRules,    // GET /v1/reissue-rules
  SetReissueRule,  // PUT /v1/reissue-rules
  Counts,          // GET /v1/counts
  OpenCount,       // POST /v1/counts
  Count,           // GET /v1/counts/{n}
  CountAction      // POST /v1/counts/{n}/spans, /import, /certify, /settle
};

// The outcome of looking at a request's header: the endpoint to answer once the body is in
// and whom the request acts for, or (endpoint empty) the answer refusing it.
struct HttpAdmission {
  std::optional<HttpEndpoint> endpoint;
  HttpAnswer refusal;
  Principal principal;
};

// The endpoints of the forms server without the network: routing, bearer tokens and what
// each role may ask, the limits of a request, and the JSON of every answer. The connection
// code (HttpServer) decides from Admit whether to read the body at all, and runs Answer on
// the handler's threads.
//
//   POST /v1/messages     every role; a save needs clerk or admin, within the stations
//   GET  /v1/history      every role
//   POST /v1/withdrawals  admin
//   GET  /v1/report       every role
//   GET  /v1/reconciliation every role
//   POST /v1/usage        clerk (within its stations) or admin; text/csv or JSON
//   GET  /v1/usage        every role
//   GET  /v1/clearance    every role
//   GET  /v1/receipts/{n} every role; POST /v1/receipts/{n}/print counts a print of it
//   GET  /v1/stock        every role, of its stations (an admin: all)
//   PUT  /v1/stock/minimum clerk (of the station) or admin
//   GET  /v1/alerts       every role, of its stations
//   GET  /healthz         no token
//
// Thread safety: Admit and Answer may run on any thread at once, also while ReplaceTokens
// swaps the token table.
class HttpApi {
 public:
  // `tokens` null: no token is asked for, and every request acts for LocalClient().
  HttpApi(std::shared_ptr<RequestHandler> handler, std::shared_ptr<const TokenTable> tokens,
          HttpRequestLimits limits = {});

  // Routes by path and method, finds the bearer token's principal and checks that its role
  // may use the endpoint, and that a POST carries JSON. Unknown path 404, wrong method 405
  // (with Allow), missing or unknown token 401 (with WWW-Authenticate), a role that may not
  // 403, a body that is not declared application/json 415.
  HttpAdmission Admit(std::string_view method, std::string_view target,
                      std::string_view authorization, std::string_view contentType) const;

  // Answers an admitted request for `principal`. Never throws: a failure nobody foresaw is a
  // 500 whose details go to the log. `buffer`: a text whose capacity the answer's body may
  // take over (the connection's buffer of its previous answer), so a large reply is not
  // grown anew for every request.
  HttpAnswer Answer(HttpEndpoint endpoint, std::string_view target, std::string_view body,
                    const Principal& principal, std::string buffer = {}) const;

  // At most the memory answering an admitted request takes beyond its body and its reply:
  // reading the body (protocol::RequestReadingCost or ReadingCost: a search read in one pass
  // about its size, anything else through a JSON tree, which for a body of tiny values is
  // tens of times its size), and the handler's copy of what the request carries (a save's
  // change rows, whose texts take at most the body's bytes again, while the rest of them
  // takes less a value than the tree, gone by then, took). The server charges it to its
  // memory budget before the request is handled.
  static std::size_t HandlingCost(HttpEndpoint endpoint, std::string_view body);

  // From now on tokens are looked up in `tokens` (a token file read anew); requests admitted
  // before keep the principal they were admitted with. Ignored when the API asks for no
  // token (a server started without tokens cannot start asking for them).
  void ReplaceTokens(std::shared_ptr<const TokenTable> tokens);
  bool AsksForTokens() const { return mAsksForTokens; }

  // {"error": message} with the status.
  static HttpAnswer Error(unsigned status, std::string_view message);

  // Whom a request acts for on a server that asks for no token (loopback only): an admin
  // at every station with user id 0, recorded as such in the chain of custody.
  static Principal LocalClient();

 private:
  HttpAnswer Messages(std::string_view body, const Principal& principal, std::string buffer) const;
  HttpAnswer History(std::string_view target) const;
  HttpAnswer Withdrawals(std::string_view body, const Principal& principal) const;
  HttpAnswer Health() const;
  HttpAnswer Report(std::string_view target) const;
  HttpAnswer Reconciliation(std::string_view target) const;
  HttpAnswer RecordUsage(std::string_view target, std::string_view body, const Principal& principal,
                         bool csv) const;
  HttpAnswer Usage(std::string_view target) const;
  HttpAnswer Clearance(std::string_view target) const;
  HttpAnswer Receipt(std::string_view target, const Principal& principal, bool print) const;
  HttpAnswer Stock(std::string_view target, const Principal& principal) const;
  HttpAnswer SetStockMinimum(std::string_view body, const Principal& principal) const;
  HttpAnswer Alerts(std::string_view target, const Principal& principal) const;
  HttpAnswer Counts(HttpEndpoint endpoint, std::string_view target, std::string_view body,
                    const Principal& principal) const;
  HttpAnswer Allotment(HttpEndpoint endpoint, std::string_view target, std::string_view body,
                       const Principal& principal) const;
  std::optional<HttpAnswer> CheckRequestId(std::string_view id) const;
  std::optional<HttpAnswer> CheckTextLengths(const protocol::Request& request) const;
  std::shared_ptr<const TokenTable> Tokens() const;

  const std::shared_ptr<RequestHandler> mHandler;
  const HttpRequestLimits mLimits;
  const bool mAsksForTokens;
  mutable std::mutex mTokensMutex;  // guards mTokens
  std::shared_ptr<const TokenTable> mTokens;
};

}  // namespace fm::server

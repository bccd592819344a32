#include "server/http/HttpApi.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <charconv>
#include <exception>
#include <initializer_list>
#include <map>
#include <nlohmann/json.hpp>

#include "base/Numbers.h"
#include "protocol/Clearance.h"
#include "protocol/Custody.h"
#include "protocol/Json.h"
#include "protocol/Messages.h"
#include "protocol/ProtocolError.h"
#include "protocol/Receipt.h"
#include "protocol/Stock.h"
#include "protocol/Usage.h"
#include "server/handler/CountRequest.h"
#include "server/handler/ReportRequest.h"
#include "server/handler/RequestError.h"
#include "server/handler/RequestHandler.h"
#include "server/handler/SearchCriteria.h"
#include "server/handler/UsageImport.h"
#include "server/handler/WireRows.h"
#include "server/http/CountJson.h"
#include "server/http/QueryString.h"
#include "server/http/TokenFile.h"
#include "server/store/ChangeRules.h"
#include "server/store/ReferenceData.h"
#include "server/store/Store.h"
#include "server/store/StoreError.h"
#include "server/store/UseChecks.h"

namespace fm::server {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view kMessagesPath = "/v1/messages";
constexpr std::string_view kHistoryPath = "/v1/history";
constexpr std::string_view kWithdrawalsPath = "/v1/withdrawals";
constexpr std::string_view kJsonMediaType = "application/json";
constexpr const char* kWithdrawalRequester = "POST /v1/withdrawals";
constexpr std::string_view kHealthPath = "/healthz";
constexpr std::string_view kReportPath = "/v1/report";
constexpr std::string_view kReconciliationPath = "/v1/reconciliation";
constexpr std::string_view kUsagePath = "/v1/usage";
constexpr std::string_view kStockPath = "/v1/stock";
constexpr std::string_view kStockMinimumPath = "/v1/stock/minimum";
constexpr std::string_view kAlertsPath = "/v1/alerts";
constexpr std::string_view kCapsPath = "/v1/caps";
constexpr std::string_view kCountsPath = "/v1/counts";
constexpr std::string_view kReissueRulesPath = "/v1/reissue-rules";
constexpr std::string_view kCsvMediaType = "text/csv";
constexpr std::string_view kClearancePath = "/v1/clearance";
constexpr std::string_view kReceiptsPath = "/v1/receipts/";  // {n}, {n}/print
constexpr std::string_view kPrintSuffix = "/print";

std::string Dump(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

HttpAnswer JsonAnswer(unsigned status, const Json& body) { return {status, Dump(body), {}}; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) {
      return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Percent-decoding of one query component ('+' is a blank, as forms encode it). Empty
// optional for a broken escape.
std::optional<std::string> DecodeComponent(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      out.push_back(' ');
    } else if (c == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      int hi = HexValue(text[i + 1]);
      int lo = HexValue(text[i + 2]);
      if (hi < 0 || lo < 0) return std::nullopt;
      out.push_back(static_cast<char>(hi * 16 + lo));
      i += 2;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

Json OptionalJson(const std::optional<std::int64_t>& v) { return v ? Json(*v) : Json(nullptr); }

Json RangeJson(const FormRange& r) {
  return Json{{"form_type", r.formType},
              {"from", r.from},
              {"to", r.to},
              {"troop", r.troop},
              {"district", r.district},
              {"registry", r.registry},
              {"status", r.status},
              {"remaining", r.remaining},
              {"quarter", OptionalJson(r.quarter)},
              {"year", OptionalJson(r.year)},
              {"comment", r.comment ? Json(*r.comment) : Json(nullptr)}};
}

unsigned StatusOfStoreError(const StoreError& e) {
  switch (e.GetKind()) {
    case StoreError::Kind::Rejected:
    case StoreError::Kind::OverLimit:
      return 422;
    case StoreError::Kind::Forbidden:
      return 403;
    case StoreError::Kind::Conflict:
    case StoreError::Kind::Stale:
      return 409;
    case StoreError::Kind::Unavailable:
      return 503;
    case StoreError::Kind::Internal:
      return 500;
  }
  return 500;
}

const char* const kInternalError =
    "the forms server could not answer because of an internal error; the details are in its log";

// What a role may not do, in the words the clerk reads.
std::string NotPermitted(const Principal& principal, Action action) {
  const char* what = action == Action::Withdraw ? "withdraw forms; withdrawals are for "
                                                  "administrators"
                     : action == Action::Save   ? "change the inventory or its minimum stock"
                                                : "use this part of the forms server";
  return fmt::format("Your account ({}) may not {}.", RoleName(principal.role), what);
}

// Whether a Content-Type header declares JSON ("application/json", parameters such as a
// charset allowed).
bool DeclaresJson(std::string_view contentType, std::string_view type = kJsonMediaType) {
  const std::string_view media = Trim(contentType.substr(0, contentType.find(';')));
  return EqualsIgnoringCase(media, type);
}

}  // namespace

std::optional<HttpAnswer> ReadQuery(std::string_view target, std::string_view path,
                                    std::initializer_list<std::string_view> known,
                                    std::map<std::string, std::string>& parameters) {
  const std::size_t question = target.find('?');
  std::string_view query = question == std::string_view::npos ? "" : target.substr(question + 1);
  while (!query.empty()) {
    const std::size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    query = amp == std::string_view::npos ? "" : query.substr(amp + 1);
    if (pair.empty()) continue;
    const std::size_t eq = pair.find('=');
    auto name = DecodeComponent(pair.substr(0, eq));
    auto value = DecodeComponent(eq == std::string_view::npos ? "" : pair.substr(eq + 1));
    if (!name || !value) {
      return HttpApi::Error(400,
                            fmt::format("the query part \"{}\" holds a broken %-escape", pair));
    }
    if (std::find(known.begin(), known.end(), *name) == known.end()) {
      std::string names;
      for (auto it = known.begin(); it != known.end(); ++it) {
        if (it != known.begin()) names += std::next(it) == known.end() ? " and " : ", ";
        names += *it;
      }
      return HttpApi::Error(
          400, fmt::format("unknown query parameter \"{}\"; {} takes {}", *name, path, names));
    }
    if (!parameters.emplace(*name, *value).second) {
      return HttpApi::Error(400, fmt::format("the query parameter \"{}\" is given twice", *name));
    }
  }
  return std::nullopt;
}

namespace {

std::size_t RowCount(const protocol::Request& request) {
  std::size_t rows = 0;
  for (const auto& [name, set] : request.dataSets) rows += set.rows.size();
  return rows;
}

}  // namespace

HttpApi::HttpApi(std::shared_ptr<RequestHandler> handler, std::shared_ptr<const TokenTable> tokens,
                 HttpRequestLimits limits)
    : mHandler(std::move(handler)),
      mLimits(limits),
      mAsksForTokens(tokens != nullptr),
      mTokens(std::move(tokens)) {}

HttpAnswer HttpApi::Error(unsigned status, std::string_view message) {
  return JsonAnswer(status, Json{{"error", message}});
}

Principal HttpApi::LocalClient() {
  return Principal::LocalAdministrator(0, "Local client (no token)");
}

void HttpApi::ReplaceTokens(std::shared_ptr<const TokenTable> tokens) {
  if (!mAsksForTokens || !tokens) return;
  std::lock_guard lock(mTokensMutex);
  mTokens = std::move(tokens);
}

std::shared_ptr<const TokenTable> HttpApi::Tokens() const {
  std::lock_guard lock(mTokensMutex);
  return mTokens;
}

HttpAdmission HttpApi::Admit(std::string_view method, std::string_view target,
                             std::string_view authorization, std::string_view contentType) const {
  std::string_view path = target.substr(0, target.find('?'));
  HttpEndpoint endpoint;
  std::string_view allowed;
  Action action = Action::Search;
  if (path == kMessagesPath) {
    endpoint = HttpEndpoint::Messages;
    allowed = "POST";
  } else if (path == kHistoryPath) {
    endpoint = HttpEndpoint::History;
    allowed = "GET";
    action = Action::History;
  } else if (path == kWithdrawalsPath) {
    endpoint = HttpEndpoint::Withdrawals;
    allowed = "POST";
    action = Action::Withdraw;
  } else if (path == kHealthPath) {
    endpoint = HttpEndpoint::Health;
    allowed = "GET";
  } else if (path == kReportPath) {
    endpoint = HttpEndpoint::Report;
    allowed = "GET";
    action = Action::Report;
  } else if (path == kReconciliationPath) {
    endpoint = HttpEndpoint::Reconciliation;
    allowed = "GET";
    action = Action::Report;
  } else if (path == kUsagePath) {
    // Uses are read with GET and recorded with POST.
    const bool read = method != "POST";
    endpoint = read ? HttpEndpoint::Usage : HttpEndpoint::UsageJson;
    allowed = read ? "GET" : "POST";
    action = read ? Action::History : Action::RecordUses;
  } else if (path == kClearancePath) {
    endpoint = HttpEndpoint::Clearance;
    allowed = "GET";
    action = Action::Report;
  } else if (path.starts_with(kReceiptsPath) && path.ends_with(kPrintSuffix)) {
    endpoint = HttpEndpoint::ReceiptPrint;
    allowed = "POST";
    action = Action::Report;
  } else if (path.starts_with(kReceiptsPath)) {
    endpoint = HttpEndpoint::Receipt;
    allowed = "GET";
    action = Action::Report;
  } else if (path == kStockPath) {
    endpoint = HttpEndpoint::Stock;
    allowed = "GET";
    action = Action::Report;
  } else if (path == kStockMinimumPath) {
    endpoint = HttpEndpoint::StockMinimum;
    allowed = "PUT";
    action = Action::Save;
  } else if (path == kAlertsPath) {
    endpoint = HttpEndpoint::Alerts;
    allowed = "GET";
    action = Action::Report;
  } else if (path == kCapsPath || path == kReissueRulesPath) {
    // Read with GET, set with PUT (by an administrator, which the handler asks).
    const bool read = method != "PUT";
    const bool caps = path == kCapsPath;
    endpoint = read ? (caps ? HttpEndpoint::Caps : HttpEndpoint::ReissueRules)
                    : (caps ? HttpEndpoint::SetCap : HttpEndpoint::SetReissueRule);
    allowed = read ? "GET" : "PUT";
    action = read ? Action::Report : Action::Save;
  } else if (path == kCountsPath || path.starts_with(std::string(kCountsPath) + "/")) {
    // The counts are listed and opened at /v1/counts, read at /v1/counts/N and changed at
    // /v1/counts/N/<what>; the handler weighs the role of each.
    const bool list = path == kCountsPath;
    const bool read = method != "POST";
    endpoint = list ? (read ? HttpEndpoint::Counts : HttpEndpoint::OpenCount)
                    : (path.find('/', kCountsPath.size() + 1) == std::string_view::npos
                           ? HttpEndpoint::Count
                           : HttpEndpoint::CountAction);
    allowed = endpoint == HttpEndpoint::Count         ? "GET"
              : endpoint == HttpEndpoint::CountAction ? "POST"
              : read                                  ? "GET"
                                                      : "POST";
    action = Action::Report;
  } else {
    return {std::nullopt,
            Error(404, fmt::format("there is no resource {}; the forms server answers POST {}, "
                                   "GET {}, POST {}, GET {}, GET {}, GET {}, GET and POST {}, GET "
                                   "{}N, POST {}N{}, GET {}, PUT {}, GET {}, GET and PUT {}, GET "
                                   "and PUT {}, GET and POST {}, GET {}N, POST {}N/spans, "
                                   "/import, /certify and /settle, and GET {}",
                                   path, kMessagesPath, kHistoryPath, kWithdrawalsPath, kReportPath,
                                   kReconciliationPath, kClearancePath, kUsagePath, kReceiptsPath,
                                   kReceiptsPath, kPrintSuffix, kStockPath, kStockMinimumPath,
                                   kAlertsPath, kCapsPath, kReissueRulesPath, kCountsPath,
                                   std::string(kCountsPath) + "/", std::string(kCountsPath) + "/",
                                   kHealthPath)),
            {}};
  }
  // No other method, OPTIONS included: the server answers no cross-origin preflight, so a
  // web page in a browser on a clerk's workstation cannot be let in.
  if (method != allowed) {
    HttpAnswer refusal =
        Error(405, fmt::format("{} does not answer the method {}; use {}", path, method, allowed));
    refusal.headers.emplace_back(
        "Allow", path == kUsagePath || path == kCountsPath        ? std::string("GET, POST")
                 : path == kCapsPath || path == kReissueRulesPath ? std::string("GET, PUT")
                                                                  : std::string(allowed));
    return {std::nullopt, std::move(refusal), {}};
  }
  if (endpoint == HttpEndpoint::Health) return {endpoint, {}, {}};

  Principal principal = LocalClient();
  if (mAsksForTokens) {
    auto unauthorized = [](std::string_view message) {
      HttpAnswer refusal = Error(401, message);
      refusal.headers.emplace_back("WWW-Authenticate", "Bearer realm=\"formsmaint\"");
      return HttpAdmission{std::nullopt, std::move(refusal), {}};
    };
    std::string_view credentials = Trim(authorization);
    if (credentials.empty()) {
      return unauthorized(
          "the request carries no bearer token; send the header \"Authorization: Bearer "
          "TOKEN\"");
    }
    std::size_t blank = credentials.find(' ');
    if (blank == std::string_view::npos ||
        !EqualsIgnoringCase(credentials.substr(0, blank), "Bearer")) {
      return unauthorized(
          "the Authorization header is not of the form \"Bearer TOKEN\"; this server accepts "
          "bearer tokens only");
    }
    const auto tokens = Tokens();
    const Principal* owner = tokens->Find(Trim(credentials.substr(blank + 1)));
    if (owner == nullptr) return unauthorized("the bearer token is not one this server accepts");
    principal = *owner;
  }
  if (!principal.May(action)) {
    return {std::nullopt, Error(403, NotPermitted(principal, action)), {}};
  }
  if (endpoint == HttpEndpoint::UsageJson && DeclaresJson(contentType, kCsvMediaType)) {
    return {HttpEndpoint::UsageCsv, {}, std::move(principal)};
  }
  // A print carries nothing: there is no body to declare.
  if ((allowed == "POST" || allowed == "PUT") && endpoint != HttpEndpoint::ReceiptPrint &&
      !DeclaresJson(contentType)) {
    return {std::nullopt,
            Error(415, fmt::format("{} takes a JSON body sent as \"Content-Type: {}\"; the "
                                   "request declares \"{}\"",
                                   path, kJsonMediaType, Trim(contentType))),
            {}};
  }
  return {endpoint, {}, std::move(principal)};
}

HttpAnswer HttpApi::Answer(HttpEndpoint endpoint, std::string_view target, std::string_view body,
                           const Principal& principal, std::string buffer) const {
  try {
    switch (endpoint) {
      case HttpEndpoint::Messages:
        return Messages(body, principal, std::move(buffer));
      case HttpEndpoint::History:
        return History(target);
      case HttpEndpoint::Withdrawals:
        return Withdrawals(body, principal);
      case HttpEndpoint::Health:
        return Health();
      case HttpEndpoint::Report:
        return Report(target);
      case HttpEndpoint::Reconciliation:
        return Reconciliation(target);
      case HttpEndpoint::UsageCsv:
      case HttpEndpoint::UsageJson:
        return RecordUsage(target, body, principal, endpoint == HttpEndpoint::UsageCsv);
      case HttpEndpoint::Usage:
        return Usage(target);
      case HttpEndpoint::Clearance:
        return Clearance(target);
      case HttpEndpoint::Receipt:
      case HttpEndpoint::ReceiptPrint:
        return Receipt(target, principal, endpoint == HttpEndpoint::ReceiptPrint);
      case HttpEndpoint::Stock:
        return Stock(target, principal);
      case HttpEndpoint::StockMinimum:
        return SetStockMinimum(body, principal);
      case HttpEndpoint::Alerts:
        return Alerts(target, principal);
      case HttpEndpoint::Caps:
      case HttpEndpoint::SetCap:
      case HttpEndpoint::ReissueRules:
      case HttpEndpoint::SetReissueRule:
        return Allotment(endpoint, target, body, principal);
      case HttpEndpoint::Counts:
      case HttpEndpoint::OpenCount:
      case HttpEndpoint::Count:
      case HttpEndpoint::CountAction:
        return Counts(endpoint, target, body, principal);
    }
    return Error(500, kInternalError);
  } catch (const std::exception& e) {
    spdlog::error("{}: {}", target, e.what());
  } catch (...) {
    spdlog::error("{}: an exception of unknown type", target);
  }
  return Error(500, kInternalError);
}

std::size_t HttpApi::HandlingCost(HttpEndpoint endpoint, std::string_view body) {
  switch (endpoint) {
    case HttpEndpoint::Messages:
      return protocol::RequestReadingCost(body) + body.size();
    case HttpEndpoint::Withdrawals:
    case HttpEndpoint::StockMinimum:
    case HttpEndpoint::SetCap:
    case HttpEndpoint::SetReissueRule:
    case HttpEndpoint::OpenCount:
    case HttpEndpoint::CountAction:
      return protocol::ReadingCost(body) + body.size();
    default:
      return 0;  // no body
  }
}

std::optional<HttpAnswer> HttpApi::CheckTextLengths(const protocol::Request& request) const {
  auto tooLong = [this](const std::string& path, const std::string& text) {
    return std::optional<HttpAnswer>(
        Error(422, fmt::format("{}: a text of a request (outside its data sets) is at most {} "
                               "characters; this one has {}",
                               path, mLimits.textLength, text.size())));
  };
  for (const auto& [member, text] :
       {std::pair<const char*, const std::string*>{"identity", &request.identity},
        {"version", &request.version},
        {"requester", &request.requester}}) {
    if (text->size() > mLimits.textLength) return tooLong(member, *text);
  }
  for (std::size_t i = 0; i < request.criteria.size(); ++i) {
    const protocol::Criterion& c = request.criteria[i];
    for (const auto& [member, text] : {std::pair<const char*, const std::string*>{"key", &c.key},
                                       {"value", &c.value},
                                       {"op", &c.op},
                                       {"application", &c.application}}) {
      if (text->size() > mLimits.textLength) {
        return tooLong(fmt::format("criteria[{}].{}", i, member), *text);
      }
    }
  }
  return std::nullopt;
}

std::optional<HttpAnswer> HttpApi::CheckRequestId(std::string_view id) const {
  const bool visible =
      std::all_of(id.begin(), id.end(), [](char c) { return c > ' ' && c <= '~'; });
  if (id.size() <= mLimits.requestIdLength && visible) return std::nullopt;
  return Error(422,
               fmt::format("request_id: a request id is at most {} visible ASCII "
                           "characters (letters, digits and punctuation, no blanks); this "
                           "one has {} characters{}",
                           mLimits.requestIdLength, id.size(), visible ? "" : " and holds others"));
}

HttpAnswer HttpApi::Messages(std::string_view body, const Principal& principal,
                             std::string buffer) const {
  if (body.empty()) {
    return Error(400, fmt::format("the request has no body; POST {} carries one request as JSON",
                                  kMessagesPath));
  }
  protocol::Request request;
  try {
    request = protocol::RequestFromJson(body);
  } catch (const protocol::ProtocolError& e) {
    return Error(400, e.what());
  }
  if (auto refusal = CheckRequestId(request.requestId)) return *refusal;
  if (request.criteria.size() > mLimits.criteria) {
    return Error(422, fmt::format("criteria: the request has {} criteria; this server takes at "
                                  "most {} in one request",
                                  request.criteria.size(), mLimits.criteria));
  }
  if (auto refusal = CheckTextLengths(request)) return *refusal;
  if (const std::size_t rows = RowCount(request); rows > mLimits.rows) {
    return Error(422, fmt::format("data_sets: the request has {} rows; this server takes at "
                                  "most {} in one request",
                                  rows, mLimits.rows));
  }
  // Well-formed but asking for something no version of the server does: a fault of the
  // sending program rather than of the clerk's input, so it is not answered as a reply.
  if (!protocol::IsKnownMessageType(request.messageType)) {
    return Error(422, fmt::format("message_type: {} is not a message type of this server; it "
                                  "answers {} (search), {} (save with requery), {} (form "
                                  "history), {} (accountability report), {} (record uses), {} "
                                  "(reconciliation), {} (stock on hand), {} (minimum stock), {} "
                                  "(hand receipt) and {} to {} (physical counts)",
                                  request.messageType, protocol::kSearchMessage,
                                  protocol::kSaveRequeryMessage, protocol::kFormHistoryMessage,
                                  protocol::kAccountabilityMessage, protocol::kRecordUsageMessage,
                                  protocol::kReconcileMessage, protocol::kStockMessage,
                                  protocol::kSetStockMinimumMessage, protocol::kHandReceiptMessage,
                                  protocol::kCountListMessage, protocol::kCountSettleMessage));
  }
  // A save replacing a range without saying which version of it the client saw would
  // overwrite whatever another clerk did since: a fault of the sending program.
  if (request.messageType == protocol::kSaveRequeryMessage) {
    auto rows = request.dataSets.find(protocol::kTroopFormDataSet);
    if (rows != request.dataSets.end()) {
      if (auto missing = MissingRowVersion(rows->second)) {
        return Error(422, fmt::format("data_sets.{}: {}", protocol::kTroopFormDataSet, *missing));
      }
    }
  }
  StreamedReply handled = mHandler->HandleToJson(request, principal, buffer);
  if (handled.forbidden) return Error(403, handled.error);
  return {200, std::move(buffer), {}};
}

HttpAnswer HttpApi::History(std::string_view target) const {
  std::map<std::string, std::string> parameters;
  if (auto refusal = ReadQuery(target, kHistoryPath, {"form_type", "number"}, parameters)) {
    return *refusal;
  }
  for (const char* name : {"form_type", "number"}) {
    if (!parameters.contains(name)) {
      return Error(400, fmt::format("the query parameter \"{}\" is missing; ask for example "
                                    "{}?form_type=C&number=1100050",
                                    name, kHistoryPath));
    }
  }
  const std::string& formType = parameters["form_type"];
  const std::string& numberText = parameters["number"];
  std::int64_t number = 0;
  if (text::ReadWholeNumber(numberText, number) != text::WholeNumberStatus::kOk || number < 0) {
    return Error(422, NumberRefusal(CriterionCaption("FORM_SEARCH_NBR", "number"), numberText,
                                    "a form number"));
  }

  Store& store = mHandler->GetStore();
  if (store.Reference().FindFormType(formType) == nullptr) {
    std::string known;
    for (const auto& type : store.Reference().FormTypes()) {
      known += fmt::format("{}{} ({})", known.empty() ? "" : ", ", type.code,
                           FormTypeName(type.code, store.Reference()));
    }
    return Error(422, fmt::format("The Form Type \"{}\" is not known; the form types are {}",
                                  formType, known));
  }
  std::vector<CustodyEntry> entries;
  std::vector<protocol::FormUse> uses;
  std::vector<CountOfForm> counts;
  try {
    store.ReadTogether([&] {
      entries = store.FormHistory(formType, number);
      uses = store.UsesOf(formType, number);
      counts = store.CountsOf(formType, number);
    });
  } catch (const StoreError& e) {
    return Error(StatusOfStoreError(e), e.what());
  }
  Json list = Json::array();
  for (const auto& e : entries) {
    list.push_back(
        Json{{"at", e.at},
             {"request_id", e.requestId},
             {"requester", e.requester},
             {"user_id", e.userId},
             {"user_name", e.userName},
             {"claimed_user_id", OptionalJson(e.claimedUserId)},
             {"action", e.action},
             {"event", e.event},
             {"reason", e.reason ? Json(*e.reason) : Json(nullptr)},
             {"before", e.before ? RangeJson(*e.before) : Json(nullptr)},
             {"after", RangeJson(e.after)},
             {"receipt", OptionalJson(e.receipt)},
             {"override_reason", e.overrideReason ? Json(*e.overrideReason) : Json(nullptr)}});
  }
  return JsonAnswer(200, Json{{"form_type", formType},
                              {"number", number},
                              {"entries", std::move(list)},
                              {"uses", Json::parse(protocol::UsesToJson(uses))},
                              {"counts", Json::parse(CountsOfFormToJson(counts))}});
}

HttpAnswer HttpApi::Withdrawals(std::string_view body, const Principal& principal) const {
  protocol::WithdrawalRequest request;
  try {
    request = protocol::WithdrawalRequestFromJson(body);
  } catch (const protocol::ProtocolError& e) {
    return Error(400, e.what());
  }
  if (request.requestId.empty()) {
    return Error(422,
                 "request_id: a withdrawal needs a request id; it names the withdrawal "
                 "in the history of every form it takes out");
  }
  if (auto refusal = CheckRequestId(request.requestId)) return *refusal;
  SaveContext context;
  context.requestId = request.requestId;
  context.requester = kWithdrawalRequester;
  context.userId = principal.userId;
  context.userName = principal.displayName;
  context.scope = principal.role == Role::Admin ? StationScope::Everywhere() : principal.scope;
  WithdrawOutcome outcome;
  try {
    outcome = mHandler->GetStore().Withdraw(context, request.formType, request.from, request.to,
                                            request.reason);
  } catch (const StoreError& e) {
    if (e.GetKind() == StoreError::Kind::Internal) {
      spdlog::error("withdrawal {}: {}", request.requestId, e.what());
      return Error(500, kInternalError);
    }
    return Error(StatusOfStoreError(e), e.what());
  }
  spdlog::info("withdrawal {} by user {}: forms {}-{} of form type {}", request.requestId,
               principal.userId, request.from, request.to, request.formType);
  Json withdrawn = Json::array();
  for (const auto& range : outcome.withdrawn) withdrawn.push_back(RangeJson(range));
  Json kept = Json::array();
  for (const auto& range : outcome.kept) kept.push_back(RangeJson(range));
  return JsonAnswer(200, Json{{"request_id", request.requestId},
                              {"withdrawn", std::move(withdrawn)},
                              {"kept", std::move(kept)}});
}

HttpAnswer HttpApi::Report(std::string_view target) const {
  std::map<std::string, std::string> given;
  if (auto refusal = ReadQuery(target, kReportPath,
                               {"station", "officer", "form_type", "from", "to"}, given)) {
    return *refusal;
  }
  ReportParameters parameters;
  parameters.station = given["station"];
  parameters.officer = given["officer"];
  parameters.formType = given["form_type"];
  parameters.from = given["from"];
  parameters.to = given["to"];
  try {
    return {200, protocol::AccountabilityToJson(mHandler->Accountability(parameters)), {}};
  } catch (const RequestError& e) {
    return Error(422, e.what());
  } catch (const StoreError& e) {
    return Error(StatusOfStoreError(e), e.what());
  }
}

HttpAnswer HttpApi::Reconciliation(std::string_view target) const {
  std::map<std::string, std::string> given;
  if (auto refusal = ReadQuery(target, kReconciliationPath,
                               {"station", "officer", "form_type", "as_of", "gap_days"}, given)) {
    return *refusal;
  }
  ReconcileParameters parameters;
  parameters.station = given["station"];
  parameters.officer = given["officer"];
  parameters.formType = given["form_type"];
  parameters.asOf = given["as_of"];
  parameters.gapDays = given["gap_days"];
  try {
    return {200, protocol::ReconciliationToJson(mHandler->Reconcile(parameters)), {}};
  } catch (const RequestError& e) {
    return Error(422, e.what());
  } catch (const StoreError& e) {
    return Error(StatusOfStoreError(e), e.what());
  }
}

HttpAnswer HttpApi::Clearance(std::string_view target) const {
  std::map<std::string, std::string> given;
  if (auto refusal = ReadQuery(target, kClearancePath, {"officer", "as_of", "gap_days"}, given)) {
    return *refusal;
  }
  if (given["officer"].empty()) {
    return Error(400, fmt::format("the query parameter \"officer\" is missing; ask for example "
                                  "{}?officer=1002",
                                  kClearancePath));
  }
  ReconcileParameters parameters;
  parameters.officer = given["officer"];
  parameters.asOf = given["as_of"];
  parameters.gapDays = given["gap_days"];
  try {
    return {200, protocol::ClearanceToJson(mHandler->Reconcile(parameters)), {}};
  } catch (const RequestError& e) {
    return Error(422, e.what());
  } catch (const StoreError& e) {
    return Error(StatusOfStoreError(e), e.what());
  }
}

HttpAnswer HttpApi::Stock(std::string_view target, const Principal& principal) const {
  std::map<std::string, std::string> given;
  if (auto refusal = ReadQuery(target, kStockPath, {"station", "form_type", "weeks"}, given)) {
    return *refusal;
  }
  StockParameters parameters;
  parameters.station = given["station"];
  parameters.formType = given["form_type"];
  parameters.weeks = given["weeks"];
  try {
    return {200, protocol::StockReportToJson(mHandler->Stock(parameters, principal)), {}};
  } catch (const RequestError& e) {
    return Error(422, e.what());
  } catch (const StoreError& e) {
    return Error(StatusOfStoreError(e), e.what());
  }
}

HttpAnswer HttpApi::SetStockMinimum(std::string_view body, const Principal& principal) const {
  protocol::StockMinimumRequest request;
  try {
    request = protocol::StockMinimumRequestFromJson(body);
  } catch (const protocol::ProtocolError& e) {
    return Error(400, e.what());
  }
  if (request.requestId.empty())
    return Error(422, "request_id: a minimum is set under a request id");
  if (auto refusal = CheckRequestId(request.requestId)) return *refusal;
  StockMinimumParameters parameters;
  parameters.station = request.station;
  parameters.formType = request.formType;
  parameters.minimum = std::to_string(request.minimum);
  try {
    return {200,
            protocol::StockMinimumToJson(mHandler->SetStockMinimum(
                parameters, principal, request.requestId, "PUT /v1/stock/minimum")),
            {}};
  } catch (const RequestError& e) {
    return Error(422, e.what());
  } catch (const StoreError& e) {
    if (e.GetKind() == StoreError::Kind::Internal) {
      spdlog::error("minimum stock {}: {}", request.requestId, e.what());
      return Error(500, kInternalError);
    }
    return Error(StatusOfStoreError(e), e.what());
  }
}

HttpAnswer HttpApi::Alerts(std::string_view target, const Principal& principal) const {
  std::map<std::string, std::string> given;
  if (auto refusal = ReadQuery(target, kAlertsPath, {"all"}, given)) return *refusal;
  const std::string all = given["all"];
  if (!all.empty() && all != "0" && all != "1") {
    return Error(400,
                 fmt::format("all: \"{}\" is neither 1 (every alert) nor 0 (the open ones)", all));
  }
  try {
    return {200, protocol::StockAlertsToJson(mHandler->StockAlerts(all == "1", principal)), {}};
  } catch (const StoreError& e) {
    return Error(StatusOfStoreError(e), e.what());
  }
}

namespace {

// A body that is one JSON object, nested no deeper than a request may be; ProtocolError
// (400) otherwise.
Json ReadObjectBody(std::string_view body) {
  Json j;
  try {
    j = Json::parse(body, [](int depth, Json::parse_event_t, Json&) {
      if (depth > static_cast<int>(protocol::kMaxJsonDepth)) {
        throw protocol::ProtocolError(
            fmt::format("the body nests deeper than {} levels", protocol::kMaxJsonDepth));
      }
      return true;
    });
  } catch (const Json::exception& e) {
    throw protocol::ProtocolError(fmt::format("the body is not JSON: {}", e.what()));
  }
  if (!j.is_object()) throw protocol::ProtocolError("the body: expected an object");
  return j;
}

// A JSON body of exactly these members (each a text, but `number`, a whole number, and
// `flag`, true or false), as PUT /v1/caps and /v1/reissue-rules take it.
Json ReadLimitBody(std::string_view body, std::initializer_list<const char*> texts,
                   const char* number, const char* flag) {
  Json j = ReadObjectBody(body);
  std::string members;
  std::vector<std::string> names(texts.begin(), texts.end());
  if (number) names.emplace_back(number);
  if (flag) names.emplace_back(flag);
  for (const auto& name : names) members += (members.empty() ? "" : ", ") + name;
  for (const auto& item : j.items()) {
    if (std::find(names.begin(), names.end(), item.key()) == names.end()) {
      throw protocol::ProtocolError(
          fmt::format("{}: unknown member; the members are {}", item.key(), members));
    }
  }
  for (const char* name : texts) {
    if (!j.contains(name) || !j[name].is_string()) {
      throw protocol::ProtocolError(fmt::format("{}: expected a text", name));
    }
  }
  if (number && (!j.contains(number) || !j[number].is_number_integer())) {
    throw protocol::ProtocolError(fmt::format("{}: expected a whole number", number));
  }
  if (flag && (!j.contains(flag) || !j[flag].is_boolean())) {
    throw protocol::ProtocolError(fmt::format("{}: expected true or false", flag));
  }
  return j;
}

Json CapJson(const AllotmentCap& c) {
  return Json{{"station", c.troop + c.district},
              {"troop", c.troop},
              {"district", c.district},
              {"form_type", c.formType},
              {"cap", c.cap},
              {"set_by", c.setBy},
              {"set_at", c.setAt}};
}

Json RuleJson(const ReissueRule& r) {
  return Json{{"station", r.troop + r.district},
              {"troop", r.troop},
              {"district", r.district},
              {"on", r.on},
              {"set_by", r.setBy},
              {"set_at", r.setAt}};
}

}  // namespace

HttpAnswer HttpApi::Allotment(HttpEndpoint endpoint, std::string_view target, std::string_view body,
                              const Principal& principal) const {
  try {
    if (endpoint == HttpEndpoint::Caps || endpoint == HttpEndpoint::ReissueRules) {
      const bool caps = endpoint == HttpEndpoint::Caps;
      std::map<std::string, std::string> given;
      if (auto refusal = ReadQuery(target, caps ? kCapsPath : kReissueRulesPath,
                                   std::initializer_list<std::string_view>{}, given)) {
        return *refusal;
      }
      Json list = Json::array();
      if (caps) {
        for (const auto& c : mHandler->AllotmentCaps(principal)) list.push_back(CapJson(c));
      } else {
        for (const auto& r : mHandler->ReissueRules(principal)) list.push_back(RuleJson(r));
      }
      return JsonAnswer(200, Json{{caps ? "caps" : "reissue_rules", std::move(list)}});
    }
    const bool cap = endpoint == HttpEndpoint::SetCap;
    Json j;
    try {
      j = cap ? ReadLimitBody(body, {"request_id", "station", "form_type"}, "cap", nullptr)
              : ReadLimitBody(body, {"request_id", "station"}, nullptr, "on");
    } catch (const protocol::ProtocolError& e) {
      return Error(400, e.what());
    }
    const std::string requestId = j["request_id"].get<std::string>();
    if (requestId.empty()) return Error(422, "request_id: a limit is set under a request id");
    if (auto refusal = CheckRequestId(requestId)) return *refusal;
    if (cap) {
      AllotmentCapParameters parameters;
      parameters.station = j["station"].get<std::string>();
      parameters.formType = j["form_type"].get<std::string>();
      parameters.cap = std::to_string(j["cap"].get<std::int64_t>());
      return JsonAnswer(200, CapJson(mHandler->SetAllotmentCap(parameters, principal, requestId,
                                                               "PUT /v1/caps")));
    }
    ReissueRuleParameters parameters;
    parameters.station = j["station"].get<std::string>();
    parameters.state = j["on"].get<bool>() ? "on" : "off";
    return JsonAnswer(200, RuleJson(mHandler->SetReissueRule(parameters, principal, requestId,
                                                             "PUT /v1/reissue-rules")));
  } catch (const RequestError& e) {
    return Error(422, e.what());
  } catch (const StoreError& e) {
    if (e.GetKind() == StoreError::Kind::Internal) {
      spdlog::error("allotment limits: {}", e.what());
      return Error(500, kInternalError);
    }
    return Error(StatusOfStoreError(e), e.what());
  }
}

namespace {

std::string Member(const Json& j, const char* name, bool required) {
  if (!j.contains(name)) {
    if (required) throw protocol::ProtocolError(fmt::format("{}: expected a text", name));
    return {};
  }
  if (j[name].is_number_integer()) return std::to_string(j[name].get<std::int64_t>());
  if (!j[name].is_string()) throw protocol::ProtocolError(fmt::format("{}: expected a text", name));
  return j[name].get<std::string>();
}

}  // namespace

HttpAnswer HttpApi::Counts(HttpEndpoint endpoint, std::string_view target, std::string_view body,
                           const Principal& principal) const {
  const std::string_view path = target.substr(0, target.find('?'));
  std::int64_t number = 0;
  std::string what;
  if (endpoint == HttpEndpoint::Count || endpoint == HttpEndpoint::CountAction) {
    std::string_view rest = path.substr(kCountsPath.size() + 1);
    const std::size_t slash = rest.find('/');
    if (slash != std::string_view::npos) {
      what = std::string(rest.substr(slash + 1));
      rest = rest.substr(0, slash);
    }
    if (text::ReadWholeNumber(std::string(rest), number) != text::WholeNumberStatus::kOk) {
      return Error(404, fmt::format("there is no physical count \"{}\"; a count is asked for by "
                                    "its number, as {}/7",
                                    rest, kCountsPath));
    }
    if (endpoint == HttpEndpoint::CountAction && what != "spans" && what != "import" &&
        what != "certify" && what != "settle") {
      return Error(404, fmt::format("there is no resource {}; a count is changed at {}/{}/spans, "
                                    "/import, /certify or /settle",
                                    path, kCountsPath, number));
    }
  }
  try {
    if (endpoint == HttpEndpoint::Counts) {
      std::map<std::string, std::string> given;
      if (auto refusal =
              ReadQuery(target, kCountsPath, std::initializer_list<std::string_view>{}, given)) {
        return *refusal;
      }
      return {
          200, fmt::format("{{\"counts\":{}}}", CountListToJson(mHandler->Counts(principal))), {}};
    }
    if (endpoint == HttpEndpoint::Count) {
      const auto view = mHandler->Count(number, principal);
      if (!view) return Error(404, fmt::format("There is no physical count {}", number));
      return {200, CountViewToJson(*view), {}};
    }
    Json j;
    try {
      j = ReadObjectBody(body);
    } catch (const protocol::ProtocolError& e) {
      return Error(400, e.what());
    }
    std::string requestId;
    const char* requester = "POST /v1/counts";
    try {
      requestId = Member(j, "request_id", true);
      if (requestId.empty()) return Error(422, "request_id: a count is changed under a request id");
      if (auto refusal = CheckRequestId(requestId)) return *refusal;
      const auto show = [&](const PhysicalCount& count) -> HttpAnswer {
        return {200, CountViewToJson(*mHandler->Count(count.number, principal)), {}};
      };
      if (endpoint == HttpEndpoint::OpenCount) {
        CountOpenParameters open;
        open.station = Member(j, "station", true);
        if (!j.contains("form_types") || !j["form_types"].is_array()) {
          return Error(400, "form_types: expected a list of form types");
        }
        for (const Json& type : j["form_types"]) {
          if (!type.is_string()) return Error(400, "form_types: expected texts");
          open.formTypes.push_back(type.get<std::string>());
        }
        return show(mHandler->OpenCount(open, principal, requestId, requester));
      }
      if (what == "spans") {
        if (!j.contains("spans") || !j["spans"].is_array()) {
          return Error(400, "spans: expected a list of {\"form_type\", \"from\", \"to\"}");
        }
        std::vector<CountEntryParameters> entries;
        for (const Json& span : j["spans"]) {
          if (!span.is_object()) return Error(400, "spans: expected objects");
          entries.push_back({Member(span, "form_type", false), Member(span, "from", true),
                             Member(span, "to", false)});
        }
        return show(mHandler->AddCounted(number, entries, principal, requestId, requester));
      }
      if (what == "import") {
        return show(mHandler->ImportCounted(number, Member(j, "text", true), principal, requestId,
                                            requester));
      }
      if (what == "certify") {
        return show(mHandler->CertifyCount(number, Member(j, "statement", true), principal,
                                           requestId, requester));
      }
      CountSettleParameters settle{Member(j, "form_type", false), Member(j, "from", true),
                                   Member(j, "to", false), Member(j, "outcome", true),
                                   Member(j, "note", false)};
      return {
          200,
          SettlementToJson(mHandler->SettleCount(number, settle, principal, requestId, requester)),
          {}};
    } catch (const protocol::ProtocolError& e) {
      return Error(400, e.what());
    }
  } catch (const RequestError& e) {
    return Error(422, e.what());
  } catch (const StoreError& e) {
    if (e.GetKind() == StoreError::Kind::Internal) {
      spdlog::error("physical counts: {}", e.what());
      return Error(500, kInternalError);
    }
    return Error(StatusOfStoreError(e), e.what());
  }
}

HttpAnswer HttpApi::Health() const {
  Store& store = mHandler->GetStore();
  try {
    int version = store.SchemaVersion();
    return JsonAnswer(
        200, Json{{"status", "ok"}, {"backend", store.BackendName()}, {"schema_version", version}});
  } catch (const StoreError& e) {
    return JsonAnswer(
        503,
        Json{{"status", "unavailable"}, {"backend", store.BackendName()}, {"error", e.what()}});
  }
}

HttpAnswer HttpApi::RecordUsage(std::string_view target, std::string_view body,
                                const Principal& principal, bool csv) const {
  constexpr const char* kRequester = "POST /v1/usage";
  std::map<std::string, std::string> given;
  const std::initializer_list<std::string_view> csvParameters = {"file_name", "source", "preview",
                                                                 "request_id"};
  if (auto refusal =
          ReadQuery(target, kUsagePath,
                    csv ? csvParameters : std::initializer_list<std::string_view>{}, given)) {
    return *refusal;
  }
  try {
    protocol::UsageOutcome outcome;
    if (csv) {
      if (given["file_name"].empty()) {
        return Error(400,
                     "file_name: an import file is sent with its name, "
                     "POST /v1/usage?file_name=F.csv&source=TEXT");
      }
      UseBatch batch =
          CsvUseBatch(given["file_name"], TextBytes(body), given["source"], mHandler->UsageRules());
      batch.preview = given["preview"] == "true";
      // The file names the request when the client does not: sent again, it is the same one.
      std::string id = given["request_id"];
      if (id.empty()) id = "usage-" + batch.source.fileHash.substr(0, 32);
      if (auto refusal = CheckRequestId(id)) return *refusal;
      outcome = mHandler->RecordUses(batch, principal, id, kRequester);
    } else {
      protocol::UsageSubmission submission;
      try {
        submission = protocol::UsageSubmissionFromJson(body);
      } catch (const protocol::ProtocolError& e) {
        return Error(400, e.what());
      }
      if (submission.requestId.empty()) {
        return Error(422, "request_id: uses are recorded under a request id");
      }
      if (auto refusal = CheckRequestId(submission.requestId)) return *refusal;
      if (submission.uses.size() > mLimits.rows) {
        return Error(422, fmt::format("uses: the request has {} uses; this server takes at most "
                                      "{} in one request (send a file as text/csv instead)",
                                      submission.uses.size(), mLimits.rows));
      }
      if (submission.supersedes) {
        if (submission.uses.size() != 1) {
          return Error(422, "uses: a correction (supersedes) carries exactly one use");
        }
        const protocol::FormUse use =
            mHandler->CorrectUse(*submission.supersedes, submission.uses[0], submission.reason,
                                 principal, submission.requestId, kRequester);
        return JsonAnswer(200, Json{{"use", Json::parse(protocol::UsesToJson({use}))[0]}});
      }
      UseBatch batch;
      batch.rules = mHandler->UsageRules();
      batch.sourceText = submission.source;
      batch.preview = submission.preview;
      batch.lines = ListedUseLines(std::move(submission.uses), batch.rules.limits.spanNumbers);
      outcome = mHandler->RecordUses(batch, principal, submission.requestId, kRequester);
    }
    if (outcome.badLineCount == 0) return {200, protocol::UsageOutcomeToJson(outcome), {}};
    Json refused = Json::parse(protocol::UsageOutcomeToJson(outcome));
    refused["error"] = UsageRefusal(outcome);
    return JsonAnswer(422, refused);
  } catch (const RequestError& e) {
    return Error(422, e.what());
  } catch (const StoreError& e) {
    if (e.GetKind() == StoreError::Kind::Internal) {
      spdlog::error("{}: {}", kRequester, e.what());
      return Error(500, kInternalError);
    }
    return Error(StatusOfStoreError(e), e.what());
  }
}

HttpAnswer HttpApi::Usage(std::string_view target) const {
  std::map<std::string, std::string> given;
  if (auto refusal = ReadQuery(target, kUsagePath, {"form_type", "number"}, given)) return *refusal;
  std::int64_t number = 0;
  if (given["form_type"].empty() ||
      text::ReadWholeNumber(given["number"], number) != text::WholeNumberStatus::kOk ||
      number < 0) {
    return Error(400, fmt::format("ask for the uses of one form: {}?form_type=C&number=1100050",
                                  kUsagePath));
  }
  Store& store = mHandler->GetStore();
  const std::string type = given["form_type"];
  if (store.Reference().FindFormType(type) == nullptr) {
    return Error(422, fmt::format("The Form Type \"{}\" is not known", type));
  }
  std::vector<protocol::FormUse> uses;
  std::vector<protocol::FormUse> reported;
  Json conflicts = Json::array();
  try {
    store.ReadTogether([&] {
      uses = store.UsesOf(type, number);
      conflicts = Json::array();
      reported.clear();
      store.ForEachUseConflict({type, number, number, std::nullopt, false},
                               [&](const UseConflict& conflict, std::size_t) {
                                 conflicts.push_back(Json{{"id", conflict.id},
                                                          {"line", conflict.line},
                                                          {"contradicts", conflict.contradicts}});
                                 reported.push_back(conflict.reported);
                                 return true;
                               });
    });
  } catch (const StoreError& e) {
    return Error(StatusOfStoreError(e), e.what());
  }
  const Json reports = Json::parse(protocol::UsesToJson(reported));
  for (std::size_t i = 0; i < conflicts.size(); ++i) conflicts[i]["reported"] = reports[i];
  return JsonAnswer(200, Json{{"form_type", type},
                              {"number", number},
                              {"uses", Json::parse(protocol::UsesToJson(uses))},
                              {"conflicts", std::move(conflicts)}});
}

HttpAnswer HttpApi::Receipt(std::string_view target, const Principal& principal, bool print) const {
  std::string_view path = target.substr(0, target.find('?'));
  path.remove_prefix(kReceiptsPath.size());
  if (print) path.remove_suffix(kPrintSuffix.size());
  std::int64_t number = 0;
  if (text::ReadWholeNumber(std::string(path), number) != text::WholeNumberStatus::kOk) {
    return Error(404, fmt::format("there is no hand receipt \"{}\"; a receipt is asked for by its "
                                  "number, as {}17",
                                  path, kReceiptsPath));
  }
  std::optional<protocol::HandReceipt> receipt;
  try {
    receipt = mHandler->Receipt(number, print, principal,
                                print ? fmt::format("http-print-{}", number) : "",
                                print ? "POST /v1/receipts" : "GET /v1/receipts");
  } catch (const StoreError& e) {
    return Error(StatusOfStoreError(e), e.what());
  }
  if (!receipt) return Error(404, fmt::format("There is no hand receipt {}", number));
  return {200, protocol::HandReceiptToJson(*receipt), {}};
}

}  // namespace fm::server

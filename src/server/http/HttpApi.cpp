#include "server/http/HttpApi.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <charconv>
#include <exception>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "protocol/Custody.h"
#include "protocol/Json.h"
#include "protocol/Messages.h"
#include "protocol/ProtocolError.h"
#include "server/ReferenceData.h"
#include "server/ReportRequest.h"
#include "server/RequestError.h"
#include "server/RequestHandler.h"
#include "server/Store.h"
#include "server/StoreError.h"
#include "server/WireRows.h"

namespace fm::server {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view kMessagesPath = "/v1/messages";
constexpr std::string_view kHistoryPath = "/v1/history";
constexpr std::string_view kHealthPath = "/healthz";
constexpr std::string_view kReportPath = "/v1/report";

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

// Compares without stopping at the first difference, so the time taken does not tell a
// client how much of a guessed token was right.
bool SameToken(std::string_view a, std::string_view b) {
  std::size_t n = std::max(a.size(), b.size());
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
    unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
    diff = static_cast<unsigned char>(diff | (x ^ y));
  }
  return diff == 0;
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
      return 422;
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

}  // namespace

HttpApi::HttpApi(std::shared_ptr<RequestHandler> handler, std::vector<std::string> tokens)
    : mHandler(std::move(handler)), mTokens(std::move(tokens)) {}

HttpAnswer HttpApi::Error(unsigned status, std::string_view message) {
  return JsonAnswer(status, Json{{"error", message}});
}

bool HttpApi::TokenAccepted(std::string_view token) const {
  bool accepted = false;
  // Every token is compared, so the time taken does not tell which one came close.
  for (const auto& known : mTokens) accepted = SameToken(known, token) || accepted;
  return accepted;
}

HttpAdmission HttpApi::Admit(std::string_view method, std::string_view target,
                             std::string_view authorization) const {
  std::string_view path = target.substr(0, target.find('?'));
  HttpEndpoint endpoint;
  std::string_view allowed;
  if (path == kMessagesPath) {
    endpoint = HttpEndpoint::Messages;
    allowed = "POST";
  } else if (path == kHistoryPath) {
    endpoint = HttpEndpoint::History;
    allowed = "GET";
  } else if (path == kHealthPath) {
    endpoint = HttpEndpoint::Health;
    allowed = "GET";
  } else if (path == kReportPath) {
    endpoint = HttpEndpoint::Report;
    allowed = "GET";
  } else {
    return {std::nullopt,
            Error(404, fmt::format("there is no resource {}; the forms server answers POST {}, "
                                   "GET {}, GET {} and GET {}",
                                   path, kMessagesPath, kHistoryPath, kReportPath, kHealthPath))};
  }
  if (method != allowed) {
    HttpAnswer refusal =
        Error(405, fmt::format("{} does not answer the method {}; use {}", path, method, allowed));
    refusal.headers.emplace_back("Allow", std::string(allowed));
    return {std::nullopt, std::move(refusal)};
  }
  if (endpoint == HttpEndpoint::Health || mTokens.empty()) return {endpoint, {}};

  auto unauthorized = [](std::string_view message) {
    HttpAnswer refusal = Error(401, message);
    refusal.headers.emplace_back("WWW-Authenticate", "Bearer realm=\"formsmaint\"");
    return HttpAdmission{std::nullopt, std::move(refusal)};
  };
  std::string_view credentials = Trim(authorization);
  if (credentials.empty()) {
    return unauthorized(
        "the request carries no bearer token; send the header \"Authorization: Bearer TOKEN\"");
  }
  std::size_t blank = credentials.find(' ');
  if (blank == std::string_view::npos ||
      !EqualsIgnoringCase(credentials.substr(0, blank), "Bearer")) {
    return unauthorized(
        "the Authorization header is not of the form \"Bearer TOKEN\"; this server accepts "
        "bearer tokens only");
  }
  if (!TokenAccepted(Trim(credentials.substr(blank + 1)))) {
    return unauthorized("the bearer token is not one this server accepts");
  }
  return {endpoint, {}};
}

HttpAnswer HttpApi::Answer(HttpEndpoint endpoint, std::string_view target,
                           std::string_view body) const {
  try {
    switch (endpoint) {
      case HttpEndpoint::Messages:
        return Messages(body);
      case HttpEndpoint::History:
        return History(target);
      case HttpEndpoint::Health:
        return Health();
      case HttpEndpoint::Report:
        return Report(target);
    }
    return Error(500, kInternalError);
  } catch (const std::exception& e) {
    spdlog::error("{}: {}", target, e.what());
  } catch (...) {
    spdlog::error("{}: an exception of unknown type", target);
  }
  return Error(500, kInternalError);
}

HttpAnswer HttpApi::Messages(std::string_view body) const {
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
  // Well-formed but asking for something no version of the server does: a fault of the
  // sending program rather than of the clerk's input, so it is not answered as a reply.
  if (!protocol::IsKnownMessageType(request.messageType)) {
    return Error(422, fmt::format("message_type: {} is not a message type of this server; it "
                                  "answers {} (search), {} (save with requery), {} (form "
                                  "history) and {} (accountability report)",
                                  request.messageType, protocol::kSearchMessage,
                                  protocol::kSaveRequeryMessage, protocol::kFormHistoryMessage,
                                  protocol::kAccountabilityMessage));
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
  protocol::Reply reply = mHandler->Handle(request);
  return {200, protocol::ReplyToJson(reply), {}};
}

HttpAnswer HttpApi::History(std::string_view target) const {
  std::size_t question = target.find('?');
  std::string_view query = question == std::string_view::npos ? "" : target.substr(question + 1);
  std::map<std::string, std::string> parameters;
  while (!query.empty()) {
    std::size_t amp = query.find('&');
    std::string_view pair = query.substr(0, amp);
    query = amp == std::string_view::npos ? "" : query.substr(amp + 1);
    if (pair.empty()) continue;
    std::size_t eq = pair.find('=');
    auto name = DecodeComponent(pair.substr(0, eq));
    auto value = DecodeComponent(eq == std::string_view::npos ? "" : pair.substr(eq + 1));
    if (!name || !value) {
      return Error(400, fmt::format("the query part \"{}\" holds a broken %-escape", pair));
    }
    if (*name != "form_type" && *name != "number") {
      return Error(400, fmt::format("unknown query parameter \"{}\"; {} takes form_type and "
                                    "number",
                                    *name, kHistoryPath));
    }
    if (!parameters.emplace(*name, *value).second) {
      return Error(400, fmt::format("the query parameter \"{}\" is given twice", *name));
    }
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
  auto [end, ec] =
      std::from_chars(numberText.data(), numberText.data() + numberText.size(), number);
  if (numberText.empty() || ec != std::errc() || end != numberText.data() + numberText.size() ||
      number < 0) {
    return Error(422, fmt::format("number: \"{}\" is not a form number (digits only, at most "
                                  "a 64-bit integer)",
                                  numberText));
  }

  Store& store = mHandler->GetStore();
  if (store.Reference().FindFormType(formType) == nullptr) {
    std::string known;
    for (const auto& type : store.Reference().FormTypes()) {
      known += (known.empty() ? "" : ", ") + type.code;
    }
    return Error(422, fmt::format("form_type: \"{}\" is not a known form type (known: {})",
                                  formType, known));
  }
  std::vector<CustodyEntry> entries;
  try {
    entries = store.FormHistory(formType, number);
  } catch (const StoreError& e) {
    return Error(StatusOfStoreError(e), e.what());
  }
  Json list = Json::array();
  for (const auto& e : entries) {
    list.push_back(Json{{"at", e.at},
                        {"request_id", e.requestId},
                        {"requester", e.requester},
                        {"user_id", e.userId},
                        {"action", e.action},
                        {"before", e.before ? RangeJson(*e.before) : Json(nullptr)},
                        {"after", RangeJson(e.after)}});
  }
  return JsonAnswer(
      200, Json{{"form_type", formType}, {"number", number}, {"entries", std::move(list)}});
}

HttpAnswer HttpApi::Report(std::string_view target) const {
  std::size_t question = target.find('?');
  std::string_view query = question == std::string_view::npos ? "" : target.substr(question + 1);
  ReportParameters parameters;
  const std::map<std::string, std::string*> fields{{"station", &parameters.station},
                                                   {"officer", &parameters.officer},
                                                   {"form_type", &parameters.formType},
                                                   {"from", &parameters.from},
                                                   {"to", &parameters.to}};
  std::set<std::string> given;
  while (!query.empty()) {
    std::size_t amp = query.find('&');
    std::string_view pair = query.substr(0, amp);
    query = amp == std::string_view::npos ? "" : query.substr(amp + 1);
    if (pair.empty()) continue;
    std::size_t eq = pair.find('=');
    auto name = DecodeComponent(pair.substr(0, eq));
    auto value = DecodeComponent(eq == std::string_view::npos ? "" : pair.substr(eq + 1));
    if (!name || !value) {
      return Error(400, fmt::format("the query part \"{}\" holds a broken %-escape", pair));
    }
    auto field = fields.find(*name);
    if (field == fields.end()) {
      return Error(400, fmt::format("unknown query parameter \"{}\"; {} takes station, officer, "
                                    "form_type, from and to",
                                    *name, kReportPath));
    }
    if (!given.insert(*name).second) {
      return Error(400, fmt::format("the query parameter \"{}\" is given twice", *name));
    }
    *field->second = *value;
  }
  try {
    return {200, protocol::AccountabilityToJson(mHandler->Accountability(parameters)), {}};
  } catch (const RequestError& e) {
    return Error(422, e.what());
  } catch (const StoreError& e) {
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

}  // namespace fm::server

// HttpApi without sockets: what a request's head is admitted as, how a query is read, which
// status a failing store is answered with, and the limits and tokens it is given.
#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <utility>

#include "HttpTestServer.h"
#include "TempFolder.h"
#include "server/http/HttpApi.h"
#include "server/store/StoreError.h"

namespace fm::server::testing {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

// A fresh SQLite inventory whose history reads (recorded) and withdrawals run `fail` first.
struct FailingStore : ForwardingStore {
  using ForwardingStore::ForwardingStore;
  std::vector<CustodyEntry> FormHistory(const std::string& type, std::int64_t number) override {
    asked.emplace_back(type, number);
    if (fail) fail();
    return ForwardingStore::FormHistory(type, number);
  }
  WithdrawOutcome Withdraw(const SaveContext& c, const std::string& type, std::int64_t from,
                           std::int64_t to, const std::string& reason) override {
    if (fail) fail();
    return ForwardingStore::Withdraw(c, type, from, to, reason);
  }
  std::function<void()> fail;
  std::vector<std::pair<std::string, std::int64_t>> asked;
};

std::shared_ptr<const TokenTable> Tokens(const char* adminToken) {
  return TokenTable::FromTokens(
      {{"clerk", {1001, "Margaret Hartley", Role::Clerk, StationScope::Parse("A1")}},
       {"viewer", {1003, "Vera Viewer", Role::Viewer, StationScope::Parse("A1")}},
       {"auditor", {1004, "Otto Auditor", Role::Auditor, StationScope::Parse("A")}},
       {adminToken, Principal::LocalAdministrator(1, "Ada Admin")}});
}

std::string ErrorOf(const HttpAnswer& answer) {
  const auto body = nlohmann::json::parse(answer.body, nullptr, false);
  return body.contains("error") ? body["error"].get<std::string>() : "";
}

class HttpApiTest : public ::testing::Test {
 protected:
  HttpAnswer Send(const std::string& method, const std::string& target, const std::string& body,
                  const std::string& authorization = "Bearer admin") {
    const HttpAdmission admission = mApi.Admit(method, target, authorization, "application/json");
    if (!admission.endpoint) return admission.refusal;
    return mApi.Answer(*admission.endpoint, target, body, admission.principal);
  }

  fm::testing::TempFolder mFolder;
  std::shared_ptr<FailingStore> mStore = std::make_shared<FailingStore>(
      OpenStore("sqlite:" + (mFolder.Path() / "inventory.db").string()));
  std::shared_ptr<RequestHandler> mHandler = std::make_shared<RequestHandler>(mStore);
  HttpApi mApi{mHandler, Tokens("admin"),
               HttpRequestLimits{.requestIdLength = 8, .criteria = 2, .rows = 3}};
};

TEST_F(HttpApiTest, AdmissionWeighsPathMethodTokenRoleAndMediaType) {
  // Method, target, Authorization, Content-Type; the refusal's status (0: admitted) and what
  // it says (its error, or the Allow header of a 405).
  const std::tuple<const char*, const char*, const char*, const char*, unsigned, const char*>
      cases[] = {
          {"GET", "/healthz", "", "", 0, ""},
          {"GET", "/v1/report?station=A1", "bearer admin", "", 0, ""},
          {"POST", "/v1/messages", " Bearer   clerk ", "Application/JSON; charset=utf-8", 0, ""},
          {"POST", "/v1/messages", "Bearer admin", "application/jsonx", 415,
           "\"application/jsonx\""},
          {"POST", "/v1/messages", "Basic admin", "application/json", 401, "bearer tokens only"},
          {"POST", "/v1/messages", "Bearer", "application/json", 401, "bearer tokens only"},
          {"POST", "/v1/withdrawals", "Bearer clerk", "application/json", 403,
           "Your account (clerk) may not withdraw forms"},
          {"POST", "/v1/history", "Bearer admin", "", 405, "GET"},
          {"GET", "/v1/reports", "Bearer admin", "", 404,
           "answers POST /v1/messages, GET /v1/history, POST /v1/withdrawals, GET /v1/report, GET "
           "/v1/reconciliation, GET /v1/clearance, GET and POST /v1/usage, GET /v1/receipts/N, "
           "POST "
           "/v1/receipts/N/print, GET /v1/stock, PUT /v1/stock/minimum, GET /v1/alerts, GET and "
           "PUT /v1/caps, GET and PUT /v1/reissue-rules, GET and POST /v1/counts, GET "
           "/v1/counts/N, POST /v1/counts/N/spans, /import, /certify and /settle, and GET "
           "/healthz"},
          {"POST", "/v1/caps", "Bearer admin", "", 405, "GET, PUT"},
          {"GET", "/v1/receipts/3", "Bearer clerk", "", 0, ""},
          {"POST", "/v1/receipts/3/print", "Bearer clerk", "", 0, ""},
          {"GET", "/v1/receipts/3/print", "Bearer admin", "", 405, "POST"}};
  for (const auto& [method, target, authorization, contentType, refusal, said] : cases) {
    SCOPED_TRACE(std::string(method) + " " + target + " [" + authorization + "]");
    const HttpAdmission a = mApi.Admit(method, target, authorization, contentType);
    EXPECT_EQ(a.endpoint.has_value(), refusal == 0);
    EXPECT_EQ(a.refusal.status, refusal == 0 ? 200u : refusal);
    EXPECT_THAT(refusal == 405 ? a.refusal.headers.at(0).second : ErrorOf(a.refusal),
                HasSubstr(said));
  }
  EXPECT_EQ(mApi.Admit("POST", "/v1/messages", "Bearer clerk", "application/json").principal.userId,
            1001);
}

TEST_F(HttpApiTest, QueryPartsAreDecodedOnceAndRefusedWhenBroken) {
  // The query of a history, its status, its error, and what the store is asked (status 200).
  const std::tuple<const char*, unsigned, const char*, std::pair<std::string, std::int64_t>>
      cases[] = {{"form%5Ftype=%43&number=%35%30", 200, "", {"C", 50}},
                 {"&form_type=C&&number=5&", 200, "", {"C", 5}},
                 {"form_type=C%2541&number=5", 422, "\"C%41\" is not known", {}},
                 {"form_type=C+&number=5", 422, "\"C \" is not known", {}},
                 {"form_type=C&number=5%", 400, "\"number=5%\" holds a broken %-escape", {}},
                 {"form_type=C&number=5%4", 400, "broken %-escape", {}},
                 {"form_type=%zz&number=5", 400, "broken %-escape", {}},
                 {"form_type=C&number=5&form_type=C", 400, "\"form_type\" is given twice", {}},
                 {"number=5&form_type", 422, "The Form Type \"\" is not known", {}}};
  for (const auto& [query, status, error, asked] : cases) {
    SCOPED_TRACE(query);
    mStore->asked.clear();
    const HttpAnswer answer = Send("GET", std::string("/v1/history?") + query, "");
    EXPECT_EQ(answer.status, status) << answer.body;
    EXPECT_THAT(ErrorOf(answer), HasSubstr(error));
    EXPECT_EQ(mStore->asked, decltype(mStore->asked)(status == 200 ? 1 : 0, asked));
  }
}

TEST_F(HttpApiTest, StoreFailuresAreAnsweredWithTheirStatusAndWithdrawalsHideInternalWords) {
  using Kind = StoreError::Kind;
  const std::pair<Kind, unsigned> kinds[] = {{Kind::Rejected, 422},    {Kind::Forbidden, 403},
                                             {Kind::Conflict, 409},    {Kind::Stale, 409},
                                             {Kind::Unavailable, 503}, {Kind::Internal, 500}};
  const std::string withdrawal = protocol::WithdrawalRequestToJson({"w1", "C", 5, 9, "misprint"});
  for (const auto& [kind, status] : kinds) {
    SCOPED_TRACE(status);
    mStore->fail = [kind = kind] { throw StoreError(kind, "the words of the store"); };
    const HttpAnswer history = Send("GET", "/v1/history?form_type=C&number=5", "");
    EXPECT_EQ(history.status, status);
    EXPECT_TRUE(kind == Kind::Internal || ErrorOf(history) == "the words of the store");
    const HttpAnswer withdrawn = Send("POST", "/v1/withdrawals", withdrawal);
    EXPECT_EQ(withdrawn.status, status);
    EXPECT_EQ(ErrorOf(withdrawn) == "the words of the store", kind != Kind::Internal);
  }
  // Whatever else goes wrong is a 500 that keeps its details for the log.
  mStore->fail = [] { throw std::runtime_error("disk on fire"); };
  const HttpAnswer unforeseen = Send("GET", "/v1/history?form_type=C&number=5", "");
  EXPECT_EQ(unforeseen.status, 500u);
  EXPECT_THAT(ErrorOf(unforeseen), AllOf(HasSubstr("internal error"), Not(HasSubstr("disk"))));
}

TEST_F(HttpApiTest, LimitsAreThoseGiven) {
  const auto post = [&](const protocol::Request& request) {
    return Send("POST", "/v1/messages", protocol::RequestToJson(request));
  };
  EXPECT_THAT(ErrorOf(post(Message("123456789", protocol::kSearchMessage, {}))),
              AllOf(HasSubstr("at most 8 visible"), HasSubstr("this one has 9 characters")));
  const auto a = Key("TRP_ID", "A");
  EXPECT_THAT(ErrorOf(post(Message("12345678", protocol::kSearchMessage, {a, a, a}))),
              HasSubstr("has 3 criteria; this server takes at most 2"));
  const auto row = ChangeRow("ADD", "C", 1, 1, "A", "1", std::nullopt, "A");
  EXPECT_THAT(ErrorOf(post(Save("s", {row, row, row, row}))),
              HasSubstr("has 4 rows; this server takes at most 3"));
  EXPECT_EQ(post(Message("12345678", protocol::kSearchMessage, {a, a})).status, 200u);
}

TEST_F(HttpApiTest, AllotmentLimitsAreSetByAnAdministratorAndReadInScope) {
  const auto cap = [](const char* id, const char* station, const char* count) {
    return fmt::format(R"({{"request_id":"{}","station":"{}","form_type":"C","cap":{}}})", id,
                       station, count);
  };
  const std::tuple<const char*, std::string, std::string, const char*, unsigned, const char*>
      cases[] = {
          {"PUT", "/v1/caps", cap("c1", "A1", "200"), "admin", 200, R"("cap":200,"set_by")"},
          {"PUT", "/v1/caps", cap("c2", "A1", "50"), "clerk", 403, "an administrator sets them"},
          {"PUT", "/v1/caps", cap("c3", "Q9", "50"), "admin", 422, "There is no Troop/District Q9"},
          {"PUT", "/v1/caps", R"({"request_id":"c4","station":"A1","form_type":"C","cap":"x"})",
           "admin", 400, "cap: expected a whole number"},
          {"PUT", "/v1/caps", R"({"request_id":"c5","station":"A1","cap":5,"x":1})", "admin", 400,
           "x: unknown member"},
          {"GET", "/v1/caps", "", "viewer", 200, R"({"caps":[{"station":"A1")"},
          {"PUT", "/v1/reissue-rules", R"({"request_id":"r1","station":"A1","on":true})", "admin",
           200, R"("on":true)"},
          {"PUT", "/v1/reissue-rules", R"({"request_id":"r2","station":"A1","on":"yes"})", "admin",
           400, "on: expected true or false"},
          {"GET", "/v1/reissue-rules", "", "clerk", 200, R"({"reissue_rules":[{"station":"A1")"}};
  for (const auto& [method, target, body, token, status, said] : cases) {
    SCOPED_TRACE(fmt::format("{} {} [{}]", method, target, token));
    const HttpAnswer answer = Send(method, target, body, std::string("Bearer ") + token);
    EXPECT_EQ(answer.status, status) << answer.body;
    EXPECT_THAT(answer.body, HasSubstr(said));
  }
}

// A count through its routes: an auditor opens, enters and certifies it; the station's clerk
// may not certify, a certified count takes nothing more, and every reader of the station sees it.
TEST_F(HttpApiTest, CountRoutesKeepTheAuditorsRoleAndACertifiedCountFixed) {
  const std::tuple<const char*, std::string, std::string, const char*, unsigned, const char*>
      cases[] = {
          {"POST", "/v1/counts", R"({"request_id":"o1","station":"A1","form_types":["C"]})",
           "auditor", 200, R"("number":1)"},
          {"POST", "/v1/counts", R"({"request_id":"o2","station":"A1","form_types":["C"]})",
           "clerk", 403, "(clerk)"},
          {"POST", "/v1/counts", R"({"request_id":"o3","station":"A1","form_types":"C"})",
           "auditor", 400, "form_types: expected a list"},
          {"POST", "/v1/counts/1/spans",
           R"({"request_id":"s1","spans":[{"form_type":"C","from":"1100001","to":"1100005"}]})",
           "auditor", 200, R"("counted")"},
          {"POST", "/v1/counts/1/certify", R"({"request_id":"c1","statement":"Counted."})", "clerk",
           403, "holds custody at Troop/District A1"},
          {"POST", "/v1/counts/1/certify", R"({"request_id":"c2","statement":"Counted."})",
           "auditor", 200, R"("certified")"},
          {"POST", "/v1/counts/1/spans",
           R"({"request_id":"s2","spans":[{"form_type":"C","from":"1100009"}]})", "auditor", 422,
           "never changes"},
          {"GET", "/v1/counts/1", "", "viewer", 200, R"("station":"A1")"},
          {"GET", "/v1/counts", "", "clerk", 200, R"({"counts":[{)"},
          {"GET", "/v1/counts/9", "", "admin", 404, "There is no physical count 9"},
          {"POST", "/v1/counts/1/recount", R"({"request_id":"x1"})", "auditor", 404,
           "/spans, /import, /certify or /settle"}};
  for (const auto& [method, target, body, token, status, said] : cases) {
    SCOPED_TRACE(fmt::format("{} {} [{}]", method, target, token));
    const HttpAnswer answer = Send(method, target, body, std::string("Bearer ") + token);
    EXPECT_EQ(answer.status, status) << answer.body;
    EXPECT_THAT(answer.body, HasSubstr(said));
  }
}

TEST_F(HttpApiTest, StockRoutesKeepRolesAndStations) {
  const auto minimum = [](const char* id, const char* station, const char* count) {
    return fmt::format(R"({{"request_id":"{}","station":"{}","form_type":"C","minimum":{}}})", id,
                       station, count);
  };
  // Method, target, body, token, status, what the body says.
  const std::tuple<const char*, std::string, std::string, const char*, unsigned, const char*>
      cases[] = {
          {"PUT", "/v1/stock/minimum", minimum("m1", "A1", "150"), "clerk", 200,
           R"("minimum":150,"set_by":"Margaret Hartley")"},
          {"PUT", "/v1/stock/minimum", minimum("m2", "B2", "150"), "clerk", 403,
           "may not set the minimum stock of B2"},
          {"PUT", "/v1/stock/minimum", minimum("m3", "A1", "10"), "viewer", 403, "(viewer)"},
          {"PUT", "/v1/stock/minimum", minimum("m4", "A1", "-1"), "admin", 422,
           "is not a whole number of forms"},
          {"PUT", "/v1/stock/minimum", R"({"station":"A1"})", "admin", 400, "request_id"},
          {"GET", "/v1/stock?station=A1", "", "viewer", 200,
           R"("unassigned":0,"with_officers":0,"minimum":150,"below_minimum":true)"},
          {"GET", "/v1/stock?station=A1", "", "clerk", 200, R"("alerts":[{"id":1,"station":"A1")"},
          {"GET", "/v1/stock?station=B2", "", "clerk", 403, "may not read the stock of"},
          {"GET", "/v1/stock?weeks=0", "", "admin", 422, "from 1 to 104"},
          {"GET", "/v1/alerts", "", "viewer", 200, R"("on_hand":0,"minimum":150)"},
          {"GET", "/v1/alerts?all=2", "", "admin", 400, "neither 1"},
          {"POST", "/v1/stock", "", "admin", 405, ""}};
  for (const auto& [method, target, body, token, status, said] : cases) {
    SCOPED_TRACE(fmt::format("{} {} [{}]", method, target, token));
    const HttpAnswer answer = Send(method, target, body, std::string("Bearer ") + token);
    EXPECT_EQ(answer.status, status) << answer.body;
    EXPECT_THAT(answer.body, HasSubstr(said));
  }
}

TEST_F(HttpApiTest, TokensReplacedTakeEffectUnlessNoneWereAskedFor) {
  mApi.ReplaceTokens(Tokens("renewed"));
  EXPECT_EQ(Send("GET", "/v1/report", "", "Bearer admin").status, 401u);
  EXPECT_TRUE(mApi.Admit("GET", "/v1/report", "Bearer renewed", "").endpoint);

  HttpApi open(mHandler, nullptr);
  open.ReplaceTokens(Tokens("admin"));
  EXPECT_FALSE(open.AsksForTokens());
  const HttpAdmission anyone = open.Admit("POST", "/v1/withdrawals", "", "application/json");
  EXPECT_TRUE(anyone.endpoint);
  EXPECT_EQ(anyone.principal, HttpApi::LocalClient());
}

TEST_F(HttpApiTest, AReceiptIsReadByItsNumberAndAPrintAfterTheFirstSaysCopy) {
  FormRange range;
  range.formType = "C";
  range.from = 1100001;
  range.to = 1100100;
  range.troop = "A";
  range.district = "1";
  range.remaining = 100;
  mStore->LoadInventory({range}, SaveContext{"load", "test", 0}, true);
  RangeChange give;
  give.action = RangeChange::Action::Update;
  give.formType = "C";
  give.from = 1100001;
  give.to = 1100100;
  give.troop = "A";
  give.district = "1";
  give.registry = 1002;
  give.status = "A";
  give.rowVersion = 1;
  const auto number = mStore->ApplyChanges(SaveContext{"give", "test", 1}, {give}).receipts.at(0);
  const std::string path = "/v1/receipts/" + std::to_string(number);

  const HttpAnswer read = Send("GET", path, "", "Bearer clerk");
  ASSERT_EQ(read.status, 200u) << read.body;
  const auto body = nlohmann::json::parse(read.body);
  EXPECT_EQ(body["officer"], 1002);
  EXPECT_EQ(body["total"], 100);
  EXPECT_EQ(body["lines"].size(), 1u);
  EXPECT_EQ(nlohmann::json::parse(Send("POST", path + "/print", "").body)["copy"], false);
  EXPECT_EQ(nlohmann::json::parse(Send("POST", path + "/print", "").body)["copy"], true);
  for (const char* missing : {"/v1/receipts/99", "/v1/receipts/x1"}) {
    EXPECT_EQ(Send("GET", missing, "").status, 404u) << missing;
  }
}

}  // namespace
}  // namespace fm::server::testing

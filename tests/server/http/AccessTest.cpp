// Who may do what over HTTP, and requests that try their luck: the role x action x scope
// matrix, hostile requests answered with their 4xx while the server goes on, the budget of
// request bodies, and a token file read anew.

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "HttpTestClient.h"
#include "protocol/Json.h"
#include "server/RequestHandler.h"
#include "server/Store.h"
#include "server/http/HttpServer.h"
#include "server/http/TokenFile.h"

namespace fm::server {
namespace {

using ::testing::HasSubstr;
using testing::HttpReply;
using testing::HttpTestClient;
using Json = nlohmann::json;

constexpr const char* kViewerToken = "viewer-token";
constexpr const char* kClerkToken = "clerk-token";  // Troop/District A1 only
constexpr const char* kAdminToken = "admin-token";

// Citations held by A1 (within the clerk's stations) and by B2 (outside them).
constexpr std::int64_t kInScope = 1100001;
constexpr std::int64_t kOutOfScope = 1100101;

FormRange Held(std::int64_t from, const char* troop, const char* district) {
  FormRange r;
  r.formType = "C";
  r.from = from;
  r.to = from + 99;
  r.troop = troop;
  r.district = district;
  r.remaining = 100;
  return r;
}

protocol::Request Search(const std::string& troop) {
  protocol::Request r;
  r.requestId = "search-" + troop;
  r.identity = "TARVO_FormsMaint#1";
  r.version = "1.0";
  r.requester = "FORMSMAINT";
  r.userId = 1001;
  r.messageType = protocol::kSearchMessage;
  r.criteria = {{"key:TRP_ID", troop, "=", "QUILLMAR"}, {"key:REF_TYP_CD", "C", "=", "QUILLMAR"}};
  return r;
}

// The void of the whole range starting at `from`, as the screen's dialog sends it.
protocol::Request Void(std::int64_t from, const std::string& troop) {
  protocol::Request r = Search(troop);
  r.requestId = fmt::format("void-{}", from);
  r.messageType = protocol::kSaveRequeryMessage;
  using protocol::ColumnType;
  protocol::DataSet rows;
  rows.columns = {{"ACTION", ColumnType::Text},          {"FORM_TYP_CD", ColumnType::Text},
                  {"FRM_FORM_NBR", ColumnType::Integer}, {"TO_FORM_NBR", ColumnType::Integer},
                  {"TRP_ID", ColumnType::Text},          {"TRP_DIST_ID", ColumnType::Text},
                  {"TRP_ACTN_CD", ColumnType::Text},     {"ROW_VERSION", ColumnType::Integer}};
  rows.rows.push_back({std::string("UPD"), std::string("C"), from, from + 99, troop,
                       std::string(troop == "A" ? "1" : "2"), std::string("V"), std::int64_t{1}});
  r.dataSets.emplace(protocol::kTroopFormDataSet, rows);
  return r;
}

std::string ErrorText(const HttpReply& reply) {
  const Json body = Json::parse(reply.body, nullptr, false);
  return body.is_object() && body.contains("error") ? body["error"].get<std::string>() : "";
}

// A server over a fresh inventory holding the two ranges, with a token per role.
class AccessFixture {
 public:
  explicit AccessFixture(HttpServerOptions options = {}) {
    static std::atomic<int> counter{0};
    mDir = std::filesystem::temp_directory_path() /
           fmt::format("fm-access-{}-{}", getpid(), counter++);
    std::filesystem::create_directories(mDir);
    mStore = OpenStore("sqlite:" + (mDir / "inventory.db").string());
    mStore->LoadInventory({Held(kInScope, "A", "1"), Held(kOutOfScope, "B", "2")},
                          SaveContext{"load", "test", 0, "stores"}, true);
    if (!options.tokens) {
      options.tokens = TokenTable::FromTokens(
          {{kViewerToken, {7, "Vera Viewer", Role::Viewer, StationScope::Parse("A1")}},
           {kClerkToken, {1001, "Margaret Hartley", Role::Clerk, StationScope::Parse("A1")}},
           {kAdminToken, Principal::LocalAdministrator(1, "Ada Admin")}});
    }
    options.accessLog = mDir / "access.log";
    options.threads = 2;
    mServer = std::make_unique<HttpServer>(std::make_shared<RequestHandler>(mStore), options);
    mServer->Start();
  }
  ~AccessFixture() {
    mServer.reset();
    mStore.reset();
    std::error_code ignored;
    std::filesystem::remove_all(mDir, ignored);
  }

  unsigned short Port() const { return mServer->Port(); }
  Store& GetStore() { return *mStore; }
  HttpServer& Server() { return *mServer; }

  // The ranges as "from-to troop+district status vN".
  std::vector<std::string> Stored() {
    std::vector<std::string> out;
    for (const auto& s : mStore->FindRanges({})) {
      out.push_back(fmt::format("{}-{} {}{} {} v{}", s.range.from, s.range.to, s.range.troop,
                                s.range.district, s.range.status, s.version));
    }
    return out;
  }

  // A search of another client still gets its answer.
  void ExpectStillServing() {
    HttpTestClient client(Port());
    const HttpReply reply = client.Post(protocol::RequestToJson(Search("A")), kViewerToken);
    EXPECT_EQ(reply.status, 200u) << reply.body;
  }

 private:
  std::filesystem::path mDir;
  std::shared_ptr<Store> mStore;
  std::unique_ptr<HttpServer> mServer;
};

// --- Role x action x scope ---------------------------------------------------------------

enum class Act { Search, Save, History, Withdraw };

struct MatrixCase {
  const char* token;
  Act act;
  bool inScope;
  unsigned status;
  const char* refusal;  // in the 403's error
};

std::string Name(const ::testing::TestParamInfo<MatrixCase>& info) {
  static const char* const kActs[] = {"Search", "Save", "History", "Withdraw"};
  std::string token = info.param.token;
  return fmt::format("{}_{}_{}", token.substr(0, token.find('-')),
                     kActs[static_cast<int>(info.param.act)],
                     info.param.inScope ? "InScope" : "OutOfScope");
}

class AccessMatrixTest : public ::testing::TestWithParam<MatrixCase> {};

TEST_P(AccessMatrixTest, EachRoleMayDoWhatItsRoleAndStationsAllowAndNothingElse) {
  const MatrixCase& c = GetParam();
  AccessFixture server;
  const std::int64_t from = c.inScope ? kInScope : kOutOfScope;
  const std::string troop = c.inScope ? "A" : "B";
  const auto before = server.Stored();
  HttpTestClient client(server.Port());
  HttpReply reply;
  switch (c.act) {
    case Act::Search:
      reply = client.Post(protocol::RequestToJson(Search(troop)), c.token);
      break;
    case Act::Save:
      reply = client.Post(protocol::RequestToJson(Void(from, troop)), c.token);
      break;
    case Act::History:
      reply = client.Request("GET", fmt::format("/v1/history?form_type=C&number={}", from + 5), "",
                             c.token);
      break;
    case Act::Withdraw:
      reply = client.Request("POST", "/v1/withdrawals",
                             protocol::WithdrawalRequestToJson(
                                 {"wdr-1", "C", from + 90, from + 99, "destroyed by water"}),
                             c.token);
      break;
  }
  ASSERT_EQ(reply.status, c.status) << reply.body;
  if (c.status == 403) {
    EXPECT_THAT(ErrorText(reply), HasSubstr(c.refusal));
    EXPECT_EQ(server.Stored(), before) << "a refusal changes nothing";
    return;
  }
  switch (c.act) {
    case Act::Search:
    case Act::Save: {
      const protocol::Reply answered = protocol::ReplyFromJson(reply.body);
      ASSERT_TRUE(answered.ok) << answered.error;
      EXPECT_EQ(answered.dataSets.at("TROOPFORM").rows.size(), 1u);
      if (c.act == Act::Save) {
        EXPECT_THAT(server.Stored(),
                    ::testing::Contains(
                        fmt::format("{}-{} {} V v2", from, from + 99, c.inScope ? "A1" : "B2")));
      }
      break;
    }
    case Act::History:
      EXPECT_EQ(Json::parse(reply.body)["entries"].size(), 1u);
      break;
    case Act::Withdraw:
      EXPECT_EQ(Json::parse(reply.body)["withdrawn"][0]["from"], from + 90);
      EXPECT_EQ(server.GetStore().FormHistory("C", from + 95).back().userName, "Ada Admin");
      break;
  }
}

constexpr const char* kViewerMayNotSave = "Your account (viewer) may search";
constexpr const char* kOnlyAdminsWithdraw = "withdrawals are for administrators";
constexpr const char* kNotB2 =
    "Your account may not change ranges of Troop/District B2. Range "
    "1100101-1100200 of ENF001 is held there; nothing was saved.";

INSTANTIATE_TEST_SUITE_P(
    RolesActionsScopes, AccessMatrixTest,
    ::testing::Values(MatrixCase{kViewerToken, Act::Search, true, 200, ""},
                      MatrixCase{kViewerToken, Act::Search, false, 200, ""},
                      MatrixCase{kViewerToken, Act::Save, true, 403, kViewerMayNotSave},
                      MatrixCase{kViewerToken, Act::Save, false, 403, kViewerMayNotSave},
                      MatrixCase{kViewerToken, Act::History, true, 200, ""},
                      MatrixCase{kViewerToken, Act::History, false, 200, ""},
                      MatrixCase{kViewerToken, Act::Withdraw, true, 403, kOnlyAdminsWithdraw},
                      MatrixCase{kViewerToken, Act::Withdraw, false, 403, kOnlyAdminsWithdraw},
                      MatrixCase{kClerkToken, Act::Search, true, 200, ""},
                      MatrixCase{kClerkToken, Act::Search, false, 200, ""},
                      MatrixCase{kClerkToken, Act::Save, true, 200, ""},
                      MatrixCase{kClerkToken, Act::Save, false, 403, kNotB2},
                      MatrixCase{kClerkToken, Act::History, true, 200, ""},
                      MatrixCase{kClerkToken, Act::History, false, 200, ""},
                      MatrixCase{kClerkToken, Act::Withdraw, true, 403, kOnlyAdminsWithdraw},
                      MatrixCase{kClerkToken, Act::Withdraw, false, 403, kOnlyAdminsWithdraw},
                      MatrixCase{kAdminToken, Act::Search, true, 200, ""},
                      MatrixCase{kAdminToken, Act::Search, false, 200, ""},
                      MatrixCase{kAdminToken, Act::Save, true, 200, ""},
                      MatrixCase{kAdminToken, Act::Save, false, 200, ""},
                      MatrixCase{kAdminToken, Act::History, true, 200, ""},
                      MatrixCase{kAdminToken, Act::History, false, 200, ""},
                      MatrixCase{kAdminToken, Act::Withdraw, true, 200, ""},
                      MatrixCase{kAdminToken, Act::Withdraw, false, 200, ""}),
    Name);

// --- Hostile requests ----------------------------------------------------------------------

struct HostileCase {
  const char* name;
  std::string method;
  std::string target;
  std::string contentType;
  std::string body;
  const char* token;
  unsigned status;
  std::string error;
};

std::string HugeRequestIdSave() {
  // The request that grew a database by 202 MiB: a 256 KiB id over 200 one-form rows.
  protocol::Request save = Void(kInScope, "A");
  save.requestId = std::string(256 * 1024, 'x');
  auto& rows = save.dataSets.at(protocol::kTroopFormDataSet);
  rows.rows.clear();
  for (std::int64_t n = 0; n < 200; ++n) {
    rows.rows.push_back({std::string("ADD"), std::string("C"), 1200001 + n, 1200001 + n,
                         std::string("A"), std::string("1"), std::string("A"), protocol::Cell{}});
  }
  return protocol::RequestToJson(save);
}

std::string ManyCriteria(std::size_t count) {
  protocol::Request search = Search("A");
  search.criteria.assign(count, {"key:TRP_ACTN_CD", "V", "<>", "QUILLMAR"});
  return protocol::RequestToJson(search);
}

std::string ManyRows(std::size_t count) {
  protocol::Request save = Void(kInScope, "A");
  auto& rows = save.dataSets.at(protocol::kTroopFormDataSet).rows;
  rows.assign(count, rows.front());
  return protocol::RequestToJson(save);
}

class HostileRequestTest : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileRequestTest, IsAnsweredWithItsStatusChangesNothingAndOthersAreStillServed) {
  const HostileCase& c = GetParam();
  AccessFixture server;
  const auto before = server.Stored();
  HttpTestClient client(server.Port());
  const HttpReply reply = client.Request(c.method, c.target, c.body, c.token, c.contentType);
  EXPECT_EQ(reply.status, c.status) << reply.body;
  EXPECT_THAT(ErrorText(reply), HasSubstr(c.error));
  for (const auto& [name, value] : reply.headers) {
    EXPECT_EQ(name.rfind("access-control-", 0), std::string::npos) << "no CORS header: " << name;
  }
  EXPECT_EQ(server.Stored(), before);
  server.ExpectStillServing();
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, HostileRequestTest,
    ::testing::Values(
        HostileCase{"TextPlainSave", "POST", "/v1/messages", "text/plain",
                    protocol::RequestToJson(Void(kInScope, "A")), kAdminToken, 415,
                    "takes a JSON body sent as \"Content-Type: application/json\""},
        HostileCase{"TextPlainSaveWithoutToken", "POST", "/v1/messages", "text/plain",
                    protocol::RequestToJson(Void(kInScope, "A")), "", 401, "no bearer token"},
        HostileCase{"CorsPreflight", "OPTIONS", "/v1/messages", "", "", "", 405,
                    "does not answer the method OPTIONS"},
        HostileCase{"HugeRequestId", "POST", "/v1/messages", "application/json",
                    HugeRequestIdSave(), kAdminToken, 422,
                    "request_id: a request id is at most 64 visible ASCII characters"},
        HostileCase{"RequestIdWithBlanks", "POST", "/v1/messages", "application/json",
                    [] {
                      protocol::Request r = Search("A");
                      r.requestId = "id with\nnew line";
                      return protocol::RequestToJson(r);
                    }(),
                    kAdminToken, 422, "and holds others"},
        HostileCase{"FiftyThousandCriteria", "POST", "/v1/messages", "application/json",
                    ManyCriteria(50000), kAdminToken, 422,
                    "the request has 50000 criteria; this server takes at most 64"},
        HostileCase{"TenThousandAndOneRows", "POST", "/v1/messages", "application/json",
                    ManyRows(10001), kAdminToken, 422,
                    "the request has 10001 rows; this server takes at most 10000"},
        HostileCase{"WithdrawalWithoutReason", "POST", "/v1/withdrawals", "application/json",
                    protocol::WithdrawalRequestToJson({"w", "C", kInScope, kInScope, " "}),
                    kAdminToken, 422, "A withdrawal needs a reason"},
        HostileCase{"WithdrawalMissingMember", "POST", "/v1/withdrawals", "application/json",
                    R"({"request_id": "w", "form_type": "C", "from": 1, "to": 2})", kAdminToken,
                    400, "missing member \"reason\""}),
    [](const ::testing::TestParamInfo<HostileCase>& param) { return param.param.name; });

TEST(AccessTest, ServerWithoutTokensRefusesWhatAWebPageCouldSend) {
  HttpServerOptions open;
  open.tokens = nullptr;
  // A server started without tokens: the browser's "simple" cross-origin POST is refused.
  auto store = OpenStore("sqlite:" + (std::filesystem::temp_directory_path() /
                                      fmt::format("fm-access-open-{}.db", getpid()))
                                         .string());
  HttpServer server(std::make_shared<RequestHandler>(store), open);
  server.Start();
  const std::string search = protocol::RequestToJson(Search("A"));
  auto status = [&](const std::string& contentType) {
    HttpTestClient client(server.Port());  // a refusal before the body closes the connection
    return client.Request("POST", "/v1/messages", search, "", contentType).status;
  };
  EXPECT_EQ(status("text/plain"), 415u);
  EXPECT_EQ(status(""), 415u);
  EXPECT_EQ(status("multipart/form-data; boundary=x"), 415u);
  EXPECT_EQ(status("Application/JSON; charset=utf-8"), 200u);
  server.Stop();
  store.reset();
  std::filesystem::remove(std::filesystem::temp_directory_path() /
                          fmt::format("fm-access-open-{}.db", getpid()));
}

// --- The budget of request bodies ----------------------------------------------------------

TEST(AccessTest, BodiesPastTheBudgetAre503UntilEarlierOnesAreDone) {
  HttpServerOptions options;
  options.bodyLimit = 256 * 1024;
  options.bodyBudget = 500 * 1024;
  AccessFixture server(options);
  const std::string head = fmt::format(
      "POST /v1/messages HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer {}\r\n"
      "Content-Type: application/json\r\nContent-Length: {}\r\nExpect: 100-continue\r\n\r\n",
      kAdminToken, 200 * 1024);
  // Two bodies of 200 KiB fit (each is told to go on), a third does not; their bytes are
  // still on the way.
  HttpTestClient first(server.Port());
  HttpTestClient second(server.Port());
  for (HttpTestClient* client : {&first, &second}) {
    ASSERT_TRUE(client->SendRaw(head));
    ASSERT_EQ(client->ReadReply().status, 100u);
    ASSERT_TRUE(client->SendRaw(std::string(1000, ' ')));
  }
  HttpTestClient third(server.Port());
  ASSERT_TRUE(third.SendRaw(head));
  const HttpReply refused = third.ReadReply();
  ASSERT_EQ(refused.status, 503u) << refused.body;
  EXPECT_EQ(refused.Header("retry-after"), "1");
  EXPECT_THAT(ErrorText(refused), HasSubstr("as many request bodies as it takes at once"));
  // Requests without a body, and small ones while room is left, go on.
  server.ExpectStillServing();

  // Once the first body is in and answered, its bytes are free again.
  ASSERT_TRUE(first.SendRaw(std::string(200 * 1024 - 1000, ' ')));
  EXPECT_EQ(first.ReadReply().status, 400u);  // blanks are no JSON
  HttpTestClient fourth(server.Port());
  const std::string search = protocol::RequestToJson(Search("A"));
  ASSERT_TRUE(fourth.SendRaw(
      fmt::format("POST /v1/messages HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer {}\r\n"
                  "Content-Type: application/json\r\nContent-Length: {}\r\n\r\n{}{}",
                  kAdminToken, 200 * 1024, search, std::string(200 * 1024 - search.size(), ' '))));
  EXPECT_EQ(fourth.ReadReply().status, 200u);
}

}  // namespace
}  // namespace fm::server

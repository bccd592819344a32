// Who may do what over HTTP, and requests that try their luck: the role x action x scope
// matrix, hostile requests answered with their 4xx while the server goes on, the budget of
// request bodies, and a token file read anew.

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "HttpTestServer.h"

namespace fm::server::testing {
namespace {

using ::testing::HasSubstr;
using Json = nlohmann::json;

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

void LoadTwoRanges(Store& store) {
  store.LoadInventory({Held(kInScope, "A", "1"), Held(kOutOfScope, "B", "2")},
                      SaveContext{"load", "test", 0, "stores"}, true);
}

protocol::Request Search(const std::string& troop) {
  return Message("search-" + troop, protocol::kSearchMessage,
                 {Key("TRP_ID", troop), Key("REF_TYP_CD", "C")});
}

// The void of the whole range starting at `from`, as the screen's dialog sends it.
protocol::Request Void(std::int64_t from, const std::string& troop) {
  return Save(fmt::format("void-{}", from),
              {ChangeRow("UPD", "C", from, from + 99, troop, troop == "A" ? "1" : "2", std::nullopt,
                         "V", 1)},
              Search(troop).criteria);
}

// A server over the two ranges, started with `options` (its tokens: one per role).
struct AccessFixture : TestServer {
  AccessFixture() : TestServer(LoadTwoRanges) { Start(); }
  explicit AccessFixture(HttpServerOptions options) : TestServer(LoadTwoRanges) {
    Start(std::move(options));
  }
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
    "1100101-1100200 of ENF001 Citation is held there; nothing was saved.";

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
  std::vector<protocol::Row> rows;
  for (std::int64_t n = 1200001; n <= 1200200; ++n) {
    rows.push_back(ChangeRow("ADD", "C", n, n, "A", "1", std::nullopt, "A"));
  }
  return protocol::RequestToJson(Save(std::string(256 * 1024, 'x'), rows));
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

// A clear status and message; the store unchanged and the server serving others.
TEST_P(HostileRequestTest, IsAnsweredWithItsStatusChangesNothingAndOthersAreStillServed) {
  const HostileCase& c = GetParam();
  AccessFixture server;
  const auto before = server.Stored();
  HttpTestClient client(server.Port());
  const HttpReply reply = client.Request(c.method, c.target, c.body, c.token, c.contentType);
  EXPECT_EQ(reply.status, c.status) << reply.body;
  EXPECT_THAT(ErrorText(reply), HasSubstr(c.error));
  if (c.status == 401) {
    EXPECT_THAT(reply.Header("www-authenticate"), HasSubstr("Bearer"));
  }
  if (c.status == 405) {
    EXPECT_EQ(reply.Header("allow"), "POST");
  }
  for (const auto& [name, value] : reply.headers) {
    EXPECT_EQ(name.rfind("access-control-", 0), std::string::npos) << "no CORS header: " << name;
  }
  EXPECT_EQ(server.Stored(), before);
  server.ExpectStillServing();
}

// An import file of one use of a form the clerk's station holds.
constexpr const char* kUseFile =
    "form_type,number,disposition,used_on,officer,reference,note\n"
    "C,1100005,ISSUED,2025-01-02,1002,C-5,\n";

HostileCase Uses(const char* name, std::string contentType, const char* token, unsigned status,
                 std::string error) {
  return {name,
          "POST",
          "/v1/usage?file_name=a.csv&source=e-cite",
          std::move(contentType),
          kUseFile,
          token,
          status,
          std::move(error)};
}

// A JSON body posted to /v1/messages with the administrator's token.
HostileCase Posted(const char* name, std::string body, unsigned status, std::string error) {
  return {name,        "POST", "/v1/messages",  "application/json", std::move(body),
          kAdminToken, status, std::move(error)};
}

std::string SearchWith(const std::function<void(protocol::Request&)>& change) {
  protocol::Request r = Search("A");
  change(r);
  return protocol::RequestToJson(r);
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
        Posted("HugeRequestId", HugeRequestIdSave(), 422,
               "request_id: a request id is at most 64 visible ASCII characters"),
        Posted("RequestIdWithBlanks",
               SearchWith([](auto& r) { r.requestId = "id with\nnew line"; }), 422,
               "and holds others"),
        Posted("FiftyThousandCriteria", ManyCriteria(50000), 422,
               "the request has 50000 criteria; this server takes at most 64"),
        Posted("LongCriterionValue",
               SearchWith([](auto& r) { r.criteria[0].value = std::string(257, '9'); }), 422,
               "criteria[0].value: a text of a request (outside its data sets) is at most 256 "
               "characters; this one has 257"),
        Posted("TenThousandAndOneRows", ManyRows(10001), 422,
               "the request has 10001 rows; this server takes at most 10000"),
        HostileCase{"WithdrawalWithoutReason", "POST", "/v1/withdrawals", "application/json",
                    protocol::WithdrawalRequestToJson({"w", "C", kInScope, kInScope, " "}),
                    kAdminToken, 422, "A withdrawal needs a reason"},
        HostileCase{"WithdrawalMissingMember", "POST", "/v1/withdrawals", "application/json",
                    R"({"request_id": "w", "form_type": "C", "from": 1, "to": 2})", kAdminToken,
                    400, "missing member \"reason\""},
        Posted("UnknownMember", R"({"colour": "red"})", 400, "unknown member \"colour\""),
        Posted("NoBody", "", 400, "no body"),
        Posted("HundredThousandDeepNesting", std::string(100000, '[') + std::string(100000, ']'),
               400, "levels deep"),
        Posted("UnknownMessageType", SearchWith([](auto& r) { r.messageType = 99; }), 422,
               "message_type: 99"),
        Posted("UpdateWithoutTheVersionItReplaces",
               protocol::RequestToJson(Save("unversioned",
                                            {ChangeRow("UPD", "C", kInScope, kInScope + 99, "A",
                                                       "1", std::nullopt, "V")})),
               422, "Change row 1, column ROW_VERSION"),
        HostileCase{"UnknownToken", "POST", "/v1/messages", "application/json",
                    protocol::RequestToJson(Search("A")), "admin-tokem", 401,
                    "not one this server accepts"},
        HostileCase{"UnknownPath", "GET", "/v1/message", "", "", kAdminToken, 404, "/v1/message;"},
        HostileCase{"WrongMethod", "GET", "/v1/messages", "", "", kAdminToken, 405, ""},
        HostileCase{"HistoryWithoutNumber", "GET", "/v1/history?form_type=C", "", "", kViewerToken,
                    400, "\"number\" is missing"},
        HostileCase{"HistoryOfAnUnknownType", "GET", "/v1/history?form_type=Q&number=5", "", "",
                    kViewerToken, 422, "The Form Type \"Q\" is not known; the form types are "},
        HostileCase{"HistoryOfNoNumber", "GET", "/v1/history?form_type=C&number=12x", "", "",
                    kViewerToken, 422, "The Form Number \"12x\" is not a form number"},
        HostileCase{"HistoryWithAnUnknownParameter", "GET",
                    "/v1/history?form_type=C&number=5&sort=asc", "", "", kViewerToken, 400,
                    "\"sort\""},
        Uses("UsesByAViewer", "text/csv", kViewerToken, 403, "(viewer) may not"),
        Uses("UsesAsPlainText", "text/plain", kClerkToken, 415, "takes a JSON body"),
        HostileCase{"UsesWithoutTheirFileName", "POST", "/v1/usage?source=x", "text/csv", kUseFile,
                    kClerkToken, 400, "file_name"},
        HostileCase{"UsesOfANumberElsewhere", "POST", "/v1/usage?file_name=b.csv&source=x",
                    "text/csv", std::string(kUseFile) + "C,1100150,ISSUED,2025-01-02,1002,C-9,\n",
                    kClerkToken, 422, "No use was recorded: 1 line is bad"},
        HostileCase{"UsesWithAnUnknownMember", "POST", "/v1/usage", "application/json",
                    R"({"request_id": "u", "source": "s", "uses": [{"colour": 1}]})", kClerkToken,
                    400, "uses[0].colour: unknown member"},
        HostileCase{"UsesOfNoNumber", "GET", "/v1/usage?form_type=C", "", "", kViewerToken, 400,
                    "ask for the uses of one form"}),
    [](const ::testing::TestParamInfo<HostileCase>& param) { return param.param.name; });

TEST(AccessTest, UsesArePostedAsAFileOrAsJsonAndReadBackWithTheFormsHistory) {
  AccessFixture server;
  HttpTestClient client(server.Port());
  auto post = [&](const std::string& target, const std::string& body, const char* type) {
    return client.Request("POST", target, body, kClerkToken, type);
  };
  const std::string file = "/v1/usage?file_name=a.csv&source=e-cite";
  EXPECT_EQ(Json::parse(post(file, kUseFile, "text/csv").body)["recorded"], 1);
  EXPECT_EQ(Json::parse(post(file, kUseFile, "text/csv").body)["same_file_again"], true);
  const HttpReply conflict = post("/v1/usage",
                                  R"({"request_id": "u1", "source": "desk", "uses": [
                                      {"form_type": "C", "number": 1100005, "disposition": "LOST",
                                       "used_on": "2025-01-03"},
                                      {"form_type": "C", "number": "1100006",
                                       "disposition": "spoiled", "used_on": "2025-01-03",
                                       "officer": 1002, "note": "torn"}]})",
                                  "application/json");
  ASSERT_EQ(conflict.status, 200u) << conflict.body;
  EXPECT_EQ(Json::parse(conflict.body)["conflict_count"], 1);
  const Json uses = Json::parse(
      client.Request("GET", "/v1/usage?form_type=C&number=1100005", "", kViewerToken).body);
  EXPECT_EQ(uses["uses"][0]["recorded_by"], "Margaret Hartley");
  EXPECT_EQ(uses["conflicts"][0]["reported"]["disposition"], "LOST");
  const Json history = Json::parse(
      client.Request("GET", "/v1/history?form_type=C&number=1100006", "", kViewerToken).body);
  EXPECT_EQ(history["uses"][0]["note"], "torn");
  EXPECT_EQ(client.Request("PUT", "/v1/usage", "", kAdminToken).Header("allow"), "GET, POST");
}

TEST(AccessTest, ServerWithoutTokensRefusesWhatAWebPageCouldSend) {
  // A server started without tokens: no token is asked, but the browser's "simple"
  // cross-origin POST is refused.
  TestServer server(LoadTwoRanges);
  HttpServerOptions open = server.Options();
  open.tokens = nullptr;
  server.Start(open);
  const std::string search = protocol::RequestToJson(Search("A"));
  auto status = [&](const std::string& contentType) {
    HttpTestClient client(server.Port());  // a refusal before the body closes the connection
    return client.Request("POST", "/v1/messages", search, "", contentType).status;
  };
  EXPECT_EQ(status("text/plain"), 415u);
  EXPECT_EQ(status(""), 415u);
  EXPECT_EQ(status("multipart/form-data; boundary=x"), 415u);
  EXPECT_EQ(status("Application/JSON; charset=utf-8"), 200u);
}

// --- The budget of request bodies ----------------------------------------------------------

TEST(AccessTest, BodiesPastTheBudgetAre503UntilEarlierOnesAreDone) {
  TestServer server(LoadTwoRanges);
  HttpServerOptions options = server.Options();
  options.bodyLimit = 256 * 1024;
  options.bodyBudget = 500 * 1024;
  server.Start(options);
  const std::string head = PostHead(kAdminToken, 200 * 1024, "Expect: 100-continue\r\n");
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

  // Once the first body is in and answered, its bytes are free again. Blanks are no JSON,
  // and the parser would hold them ten times over in its message: refused unread.
  ASSERT_TRUE(first.SendRaw(std::string(200 * 1024 - 1000, ' ')));
  const HttpReply costly = first.ReadReply();
  EXPECT_EQ(costly.status, 413u);
  EXPECT_THAT(ErrorText(costly), HasSubstr("too long a stretch"));
  // A search is read in one pass, held about once beside its body and the handler's copy.
  HttpTestClient fourth(server.Port());
  const std::string search = protocol::RequestToJson(Search("A"));
  ASSERT_TRUE(fourth.SendRaw(PostHead(kAdminToken, 64 * 1024) + search +
                             std::string(64 * 1024 - search.size(), ' ')));
  EXPECT_EQ(fourth.ReadReply().status, 200u);
}

}  // namespace
}  // namespace fm::server::testing

// The HTTP front over real sockets on 127.0.0.1 and a throw-away SQLite inventory holding
// the demo inventory.

#include <arpa/inet.h>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "GateStore.h"
#include "HttpTestClient.h"
#include "protocol/Custody.h"
#include "protocol/Json.h"
#include "server/DemoInventory.h"
#include "server/ReferenceData.h"
#include "server/RequestHandler.h"
#include "server/TimeText.h"
#include "server/http/HttpServer.h"
#include "server/http/HttpServerError.h"
#include "server/http/TokenFile.h"

namespace fm::server {
namespace {

using testing::GateStore;
using testing::HttpReply;
using testing::HttpTestClient;
using Json = nlohmann::json;

constexpr const char* kToken = "test-token-7f3a";

Principal Admin() { return Principal::LocalAdministrator(1, "Ada Admin"); }
constexpr const char* kViewerToken = "viewer-token-21c9";
Principal Viewer() { return {7, "Victor Viewer", Role::Viewer, StationScope::Parse("B")}; }
Principal Clerk(const char* stations) {
  return {1001, "Margaret Hartley", Role::Clerk, StationScope::Parse(stations)};
}

protocol::Criterion Key(const std::string& name, const std::string& value,
                        const std::string& op = "=") {
  return {"key:" + name, value, op, "QUILLMAR"};
}

// The screen's search for Troop/District A1 and form type C.
protocol::Request SearchRequest(const std::string& id = "http-search-1") {
  protocol::Request r;
  r.requestId = id;
  r.identity = "TARVO_FormsMaint#1";
  r.version = "1.0";
  r.requester = "FORMSMAINT";
  r.userId = 1001;
  r.messageType = protocol::kSearchMessage;
  r.criteria = {Key("TRP_ID", "A"),   Key("TRP_DIST_ID", "1"),       Key("REF_TYP_CD", "C"),
                Key("INACTIVE", "N"), Key("TRP_ACTN_CD", "V", "<>"), Key("THIN", "YES")};
  return r;
}

std::string ErrorText(const HttpReply& reply) {
  Json body = Json::parse(reply.body);
  return body.at("error").get<std::string>();
}

class HttpServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    mDir = std::filesystem::temp_directory_path() /
           fmt::format("fm-http-test-{}-{}", getpid(), counter++);
    std::filesystem::create_directories(mDir);
    mStore = std::make_shared<GateStore>(OpenStore("sqlite:" + (mDir / "inventory.db").string()));
    LoadDemoInventory(*mStore);
    mHandler = std::make_shared<RequestHandler>(mStore);
  }

  void TearDown() override {
    mStore->Open();
    mServer.reset();
    std::error_code ignored;
    std::filesystem::remove_all(mDir, ignored);
  }

  HttpServerOptions Options() {
    HttpServerOptions options;
    options.tokens = TokenTable::FromTokens(
        {{"another-token", Clerk("A")}, {kToken, Admin()}, {kViewerToken, Viewer()}});
    options.accessLog = mDir / "access.log";
    options.threads = 2;
    return options;
  }

  void Start(HttpServerOptions options) {
    mServer = std::make_unique<HttpServer>(mHandler, std::move(options));
    mServer->Start();
    mPort = mServer->Port();
  }
  void Start() { Start(Options()); }

  HttpReply Search(HttpTestClient& client, const std::string& id = "http-search-1") {
    return client.Post(protocol::RequestToJson(SearchRequest(id)), kToken);
  }

  // A fresh client still gets its search answered.
  void ExpectStillServing() {
    HttpTestClient client(mPort);
    HttpReply reply = Search(client, "still-serving");
    EXPECT_EQ(reply.status, 200u);
    EXPECT_TRUE(protocol::ReplyFromJson(reply.body).ok);
  }

  std::filesystem::path mDir;
  std::shared_ptr<GateStore> mStore;
  std::shared_ptr<RequestHandler> mHandler;
  std::unique_ptr<HttpServer> mServer;
  unsigned short mPort = 0;
};

// --- Requests that succeed -------------------------------------------------------------

TEST_F(HttpServerTest, SearchAnswersWhatTheHandlerAnswers) {
  Start();
  HttpTestClient client(mPort);
  HttpReply reply = Search(client);
  ASSERT_EQ(reply.status, 200u) << reply.body;
  EXPECT_EQ(reply.Header("content-type"), "application/json");
  EXPECT_TRUE(reply.keepAlive);

  protocol::Reply answered = protocol::ReplyFromJson(reply.body);
  EXPECT_EQ(answered, mHandler->Handle(SearchRequest(), HttpApi::LocalClient()).reply);
  ASSERT_TRUE(answered.ok) << answered.error;
  EXPECT_EQ(answered.identity, "TARVO_FormsMaint#1");
  const auto& ranges = answered.dataSets.at(protocol::kTroopFormDataSet);
  ASSERT_FALSE(ranges.rows.empty());
  const int troop = ranges.ColumnIndex("TRP_ID");
  const int type = ranges.ColumnIndex("FORM_TYP_CD");
  for (const auto& row : ranges.rows) {
    EXPECT_EQ(std::get<std::string>(row[troop]), "A");
    EXPECT_EQ(std::get<std::string>(row[type]), "C");
  }
  EXPECT_TRUE(answered.dataSets.contains(protocol::kOfficerDataSet));
}

TEST_F(HttpServerTest, SaveIsAppliedAndItsHistoryNamesTheTokensOwnerNotTheClaimedUser) {
  Start();
  // Ten numbers of form type C above every stored C range.
  RangeQuery query;
  query.formType.push_back({Comparison::Equal, "C"});
  std::int64_t top = 0;
  for (const auto& stored : mStore->FindRanges(query)) top = std::max(top, stored.range.to);
  const FormTypeInfo* bounds = mStore->Reference().FindFormType("C");
  ASSERT_NE(bounds, nullptr);
  const std::int64_t from = std::max(top, bounds->lowest) + 1;
  ASSERT_LE(from + 9, bounds->highest);

  protocol::Request save = SearchRequest("http-save-1");
  save.messageType = protocol::kSaveRequeryMessage;
  using protocol::ColumnType;
  protocol::DataSet rows;
  rows.columns = {{"ACTION", ColumnType::Text},           {"FORM_TYP_CD", ColumnType::Text},
                  {"FRM_FORM_NBR", ColumnType::Integer},  {"TO_FORM_NBR", ColumnType::Integer},
                  {"TRP_ID", ColumnType::Text},           {"TRP_DIST_ID", ColumnType::Text},
                  {"ASGND_REG_NBR", ColumnType::Integer}, {"TRP_ACTN_CD", ColumnType::Text}};
  rows.rows.push_back({std::string("ADD"), std::string("C"), from, from + 9, std::string("A"),
                       std::string("1"), std::int64_t{0}, std::string("A")});
  save.dataSets.emplace(protocol::kTroopFormDataSet, rows);

  save.userId = 4242;  // the client claims to be someone else
  HttpTestClient client(mPort);
  HttpReply saved = client.Post(protocol::RequestToJson(save), "another-token");
  ASSERT_EQ(saved.status, 200u) << saved.body;
  protocol::Reply reply = protocol::ReplyFromJson(saved.body);
  ASSERT_TRUE(reply.ok) << reply.error;
  const auto& ranges = reply.dataSets.at(protocol::kTroopFormDataSet);
  const int fromColumn = ranges.ColumnIndex("FRM_FORM_NBR");
  EXPECT_TRUE(std::any_of(ranges.rows.begin(), ranges.rows.end(), [&](const protocol::Row& r) {
    return std::get<std::int64_t>(r[fromColumn]) == from;
  })) << "the requery answers the new range";

  HttpReply history =
      client.Request("GET", fmt::format("/v1/history?form_type=C&number={}", from + 3), "", kToken);
  ASSERT_EQ(history.status, 200u) << history.body;
  Json body = Json::parse(history.body);
  EXPECT_EQ(body["form_type"], "C");
  EXPECT_EQ(body["number"], from + 3);
  ASSERT_EQ(body["entries"].size(), 1u);
  const Json& entry = body["entries"][0];
  EXPECT_EQ(entry["action"], "ADD");
  EXPECT_EQ(entry["request_id"], "http-save-1");
  EXPECT_EQ(entry["event"], "RECEIVE");
  EXPECT_EQ(entry["user_id"], 1001);
  EXPECT_EQ(entry["user_name"], "Margaret Hartley");
  EXPECT_EQ(entry["claimed_user_id"], 4242);
  EXPECT_TRUE(entry["reason"].is_null());
  EXPECT_TRUE(entry["before"].is_null());
  EXPECT_EQ(entry["after"]["from"], from);
  EXPECT_EQ(entry["after"]["to"], from + 9);

  // The desktop's history window (message type 35, a viewer's token) names the same person.
  protocol::Request asked = SearchRequest("http-history-words");
  asked.messageType = protocol::kFormHistoryMessage;
  asked.criteria = {Key("REF_TYP_CD", "C"), Key("FORM_SEARCH_NBR", std::to_string(from + 3))};
  const protocol::Reply words =
      protocol::ReplyFromJson(client.Post(protocol::RequestToJson(asked), kViewerToken).body);
  ASSERT_TRUE(words.ok) << words.error;
  const auto told = protocol::FormHistoryFromDataSets(words.dataSets);
  ASSERT_EQ(told.entries.size(), 1u);
  EXPECT_EQ(told.entries[0].userName, "Margaret Hartley");
  EXPECT_EQ(told.entries[0].userId, 1001);
  EXPECT_EQ(entry["after"]["troop"], "A");
}

TEST_F(HttpServerTest, RequestTheHandlerRefusesIsAnsweredOkFalseWithStatus200) {
  Start();
  protocol::Request request = SearchRequest();
  request.criteria.push_back(Key("NOPE", "1"));
  HttpTestClient client(mPort);
  HttpReply reply = client.Post(protocol::RequestToJson(request), kToken);
  ASSERT_EQ(reply.status, 200u);
  protocol::Reply answered = protocol::ReplyFromJson(reply.body);
  EXPECT_FALSE(answered.ok);
  EXPECT_NE(answered.error.find("key:NOPE"), std::string::npos) << answered.error;
  EXPECT_EQ(answered.requestId, "http-search-1");
}

TEST_F(HttpServerTest, HealthzAnswersBackendAndSchemaVersionWithoutToken) {
  Start();
  HttpTestClient client(mPort);
  HttpReply reply = client.Request("GET", "/healthz");
  ASSERT_EQ(reply.status, 200u) << reply.body;
  Json body = Json::parse(reply.body);
  EXPECT_EQ(body["status"], "ok");
  EXPECT_EQ(body["backend"], "sqlite");
  EXPECT_EQ(body["schema_version"], mStore->SchemaVersion());
  EXPECT_GT(body["schema_version"].get<int>(), 0);
}

TEST_F(HttpServerTest, HistoryAnswersTheLoadedRangeAndChecksItsParameters) {
  Start();
  RangeQuery query;
  query.formType.push_back({Comparison::Equal, "M"});
  query.limit = 1;
  auto stored = mStore->FindRanges(query);
  ASSERT_EQ(stored.size(), 1u);
  const FormRange& range = stored[0].range;

  HttpTestClient client(mPort);
  HttpReply reply =
      client.Request("GET", fmt::format("/v1/history?number={}&form_type=M", range.to), "", kToken);
  ASSERT_EQ(reply.status, 200u) << reply.body;
  Json body = Json::parse(reply.body);
  ASSERT_EQ(body["entries"].size(), 1u);
  EXPECT_EQ(body["entries"][0]["action"], "LOAD");
  EXPECT_EQ(body["entries"][0]["after"]["from"], range.from);
  EXPECT_EQ(body["entries"][0]["after"]["status"], range.status);

  EXPECT_EQ(client.Request("GET", "/v1/history?form_type=M&number=1").status, 401u);
  HttpReply missing = client.Request("GET", "/v1/history?form_type=M", "", kToken);
  EXPECT_EQ(missing.status, 400u);
  EXPECT_NE(ErrorText(missing).find("\"number\" is missing"), std::string::npos);
  HttpReply unknown = client.Request("GET", "/v1/history?form_type=Q&number=5", "", kToken);
  EXPECT_EQ(unknown.status, 422u);
  EXPECT_NE(ErrorText(unknown).find("\"Q\" is not a known form type"), std::string::npos);
  HttpReply notNumber = client.Request("GET", "/v1/history?form_type=M&number=12x", "", kToken);
  EXPECT_EQ(notNumber.status, 422u);
  HttpReply extra = client.Request("GET", "/v1/history?form_type=M&number=5&sort=asc", "", kToken);
  EXPECT_EQ(extra.status, 400u);
  EXPECT_NE(ErrorText(extra).find("\"sort\""), std::string::npos);
  HttpReply decoded = client.Request("GET", "/v1/history?form%5Ftype=M&number=%35", "", kToken);
  EXPECT_EQ(decoded.status, 200u) << decoded.body;
}

TEST_F(HttpServerTest, ReportAnswersEveryLineWithItsRangesAndChecksItsParameters) {
  Start();
  const std::string today = LocalDate(std::chrono::system_clock::now());
  HttpTestClient client(mPort);
  // A viewer reads reports and histories, of any station.
  HttpReply reply =
      client.Request("GET", fmt::format("/v1/report?station=A1&form_type=C&from={0}&to={0}", today),
                     "", kViewerToken);
  ASSERT_EQ(reply.status, 200u) << reply.body;
  Json body = Json::parse(reply.body);
  EXPECT_EQ(body["station"], "A1");
  EXPECT_EQ(body["from"], today);
  ASSERT_EQ(body["lines"].size(), 1u);
  const Json& line = body["lines"][0];
  EXPECT_EQ(line["form_type"], "C");
  // The demo inventory was loaded today: what A1 holds in stock was all received today.
  EXPECT_EQ(line["beginning"]["count"], 0);
  EXPECT_GT(line["received"]["count"].get<int>(), 0);
  EXPECT_EQ(line["ending"], line["received"]);
  EXPECT_TRUE(line["balanced"].get<bool>());
  EXPECT_EQ(line["delisted"]["by_reason"].size(), 0u);
  for (const char* member : {"transferred_in", "transferred_out", "reinstated", "withdrawn"}) {
    EXPECT_EQ(line[member]["count"], 0) << member;
  }
  std::int64_t ranged = 0;
  for (const auto& r : line["ending"]["ranges"])
    ranged += r[1].get<std::int64_t>() - r[0].get<std::int64_t>() + 1;
  EXPECT_EQ(line["ending"]["count"], ranged);

  // A form-history request through the message endpoint is a reply like any other.
  protocol::Request history = SearchRequest("http-history");
  history.messageType = protocol::kFormHistoryMessage;
  history.criteria = {
      Key("REF_TYP_CD", "C"),
      Key("FORM_SEARCH_NBR", std::to_string(line["ending"]["ranges"][0][0].get<std::int64_t>()))};
  const protocol::Reply answered =
      protocol::ReplyFromJson(client.Post(protocol::RequestToJson(history), kViewerToken).body);
  ASSERT_TRUE(answered.ok) << answered.error;
  EXPECT_EQ(protocol::FormHistoryFromDataSets(answered.dataSets).entries.size(), 1u);

  const struct {
    const char* query;
    unsigned status;
    const char* says;
  } kRefused[] = {
      {"station=Q9", 422, "\"Q9\" is not a known Troop/District"},
      {"form_type=C", 422, "names none"},
      {"station=A1&from=2026-11-01", 422, "both its first day"},
      {"station=A1&from=2026-11-31&to=2026-12-01", 422, "is not a date"},
      {"station=A1&from=2026-12-01&to=2026-11-01", 422, "is after the last day"},
      {"station=A1&officer=77", 422, "\"77\" is not the registry number"},
      {"station=A1&colour=red", 400,
       "\"colour\"; /v1/report takes station, officer, form_type, from and to"},
      {"station=A1&from=%2", 400, "broken %-escape"},
      {"station=A1&station=A2", 400, "given twice"},
  };
  for (const auto& c : kRefused) {
    HttpReply refused = client.Request("GET", std::string("/v1/report?") + c.query, "", kToken);
    EXPECT_EQ(refused.status, c.status) << c.query << ": " << refused.body;
    EXPECT_NE(ErrorText(refused).find(c.says), std::string::npos)
        << c.query << ": " << refused.body;
  }
  EXPECT_EQ(client.Request("GET", "/v1/report?station=A1").status, 401u);
}

// --- Bad requests: a clear status and message, and the server goes on -------------------

TEST_F(HttpServerTest, MalformedJsonIs400AndTheConnectionAndOthersGoOn) {
  Start();
  HttpTestClient other(mPort);
  ASSERT_EQ(Search(other).status, 200u);

  HttpTestClient client(mPort);
  HttpReply reply = client.Post("{\"request_id\": \"x\", ", kToken);
  EXPECT_EQ(reply.status, 400u);
  EXPECT_EQ(reply.Header("content-type"), "application/json");
  EXPECT_NE(ErrorText(reply).find("not valid JSON"), std::string::npos) << reply.body;

  HttpReply unknownMember = client.Post("{\"colour\": \"red\"}", kToken);
  EXPECT_EQ(unknownMember.status, 400u);
  EXPECT_NE(ErrorText(unknownMember).find("unknown member \"colour\""), std::string::npos);

  HttpReply empty = client.Post("", kToken);
  EXPECT_EQ(empty.status, 400u);
  EXPECT_NE(ErrorText(empty).find("no body"), std::string::npos);

  // The body was read in full, so the same connection carries the next request.
  EXPECT_EQ(Search(client).status, 200u);
  EXPECT_EQ(Search(other).status, 200u);
}

TEST_F(HttpServerTest, HundredThousandDeepNestingIs400) {
  Start();
  HttpTestClient client(mPort);
  HttpReply reply = client.Post(std::string(100000, '[') + std::string(100000, ']'), kToken);
  EXPECT_EQ(reply.status, 400u);
  EXPECT_NE(ErrorText(reply).find("levels deep"), std::string::npos) << reply.body;
  ExpectStillServing();
}

TEST_F(HttpServerTest, WellFormedRequestOfAnUnknownMessageTypeIs422) {
  Start();
  protocol::Request request = SearchRequest();
  request.messageType = 37;
  HttpTestClient client(mPort);
  HttpReply reply = client.Post(protocol::RequestToJson(request), kToken);
  EXPECT_EQ(reply.status, 422u);
  EXPECT_NE(ErrorText(reply).find("message_type: 37"), std::string::npos) << reply.body;
}

TEST_F(HttpServerTest, UpdateWithoutTheVersionItReplacesIs422NamingTheColumn) {
  Start();
  const StoredRange stored = mStore->FindRanges({}).front();
  protocol::Request save = SearchRequest("http-unversioned");
  save.messageType = protocol::kSaveRequeryMessage;
  using protocol::ColumnType;
  protocol::DataSet rows;
  rows.columns = {{"ACTION", ColumnType::Text},          {"FORM_TYP_CD", ColumnType::Text},
                  {"FRM_FORM_NBR", ColumnType::Integer}, {"TO_FORM_NBR", ColumnType::Integer},
                  {"TRP_ID", ColumnType::Text},          {"TRP_ACTN_CD", ColumnType::Text}};
  rows.rows.push_back({std::string("UPD"), stored.range.formType, stored.range.from,
                       stored.range.to, stored.range.troop, std::string("V")});
  save.dataSets.emplace(protocol::kTroopFormDataSet, rows);
  HttpTestClient client(mPort);
  HttpReply reply = client.Post(protocol::RequestToJson(save), kToken);
  EXPECT_EQ(reply.status, 422u) << reply.body;
  EXPECT_NE(ErrorText(reply).find("Change row 1, column ROW_VERSION"), std::string::npos)
      << reply.body;
  EXPECT_EQ(mStore->FindRanges({}).front().version, stored.version);
  EXPECT_EQ(mStore->FindRanges({}).front().range, stored.range);
}

TEST_F(HttpServerTest, BodyOverTheLimitIs413AndTheConnectionIsClosed) {
  HttpServerOptions options = Options();
  options.bodyLimit = 64 * 1024;
  Start(options);
  HttpTestClient client(mPort);
  HttpReply reply = client.Post(std::string(200 * 1024, ' '), kToken);
  EXPECT_EQ(reply.status, 413u);
  EXPECT_FALSE(reply.keepAlive);
  EXPECT_NE(ErrorText(reply).find("at most 65536 bytes"), std::string::npos) << reply.body;
  EXPECT_TRUE(client.ClosedByServer());
  ExpectStillServing();
}

TEST_F(HttpServerTest, ChunkedBodyOverTheLimitIs413) {
  HttpServerOptions options = Options();
  options.bodyLimit = 64 * 1024;
  Start(options);
  HttpTestClient client(mPort);
  std::string request = fmt::format(
      "POST /v1/messages HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer {}\r\n"
      "Content-Type: application/json\r\n"
      "Transfer-Encoding: chunked\r\n\r\n",
      kToken);
  for (int i = 0; i < 8; ++i) request += "4000\r\n" + std::string(0x4000, ' ') + "\r\n";
  request += "0\r\n\r\n";
  ASSERT_TRUE(client.SendRaw(request));
  HttpReply reply = client.ReadReply();
  EXPECT_EQ(reply.status, 413u);
  EXPECT_NE(ErrorText(reply).find("larger than 65536 bytes"), std::string::npos) << reply.body;
  ExpectStillServing();
}

TEST_F(HttpServerTest, ExpectContinueIsAnsweredBeforeTheBodyIsSent) {
  Start();
  const std::string body = protocol::RequestToJson(SearchRequest());
  HttpTestClient client(mPort);
  ASSERT_TRUE(client.SendRaw(
      fmt::format("POST /v1/messages HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer {}\r\n"
                  "Content-Type: application/json\r\n"
                  "Content-Length: {}\r\nExpect: 100-continue\r\n\r\n",
                  kToken, body.size())));
  EXPECT_EQ(client.ReadReply().status, 100u);
  ASSERT_TRUE(client.SendRaw(body));
  EXPECT_EQ(client.ReadReply().status, 200u);

  // Too large a body is refused on its announced length, before it is sent.
  ASSERT_TRUE(client.SendRaw(
      fmt::format("POST /v1/messages HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer {}\r\n"
                  "Content-Type: application/json\r\n"
                  "Content-Length: 100000000\r\nExpect: 100-continue\r\n\r\n",
                  kToken)));
  HttpReply refused = client.ReadReply();
  EXPECT_EQ(refused.status, 413u);
  EXPECT_NE(ErrorText(refused).find("100000000 bytes"), std::string::npos) << refused.body;
}

TEST_F(HttpServerTest, MissingOrWrongTokenIs401AndComesBeforeTheBodySize) {
  Start();
  const std::string body = protocol::RequestToJson(SearchRequest());
  {
    HttpTestClient client(mPort);
    HttpReply reply = client.Post(body, "");
    EXPECT_EQ(reply.status, 401u);
    EXPECT_NE(reply.Header("www-authenticate").find("Bearer"), std::string::npos);
    EXPECT_NE(ErrorText(reply).find("no bearer token"), std::string::npos) << reply.body;
  }
  {
    HttpTestClient client(mPort);
    HttpReply reply = client.Post(body, "test-token-7f3b");
    EXPECT_EQ(reply.status, 401u);
    EXPECT_NE(ErrorText(reply).find("not one this server accepts"), std::string::npos);
  }
  {
    HttpTestClient client(mPort);
    HttpReply reply = client.Post(body, std::string(kToken) + "7");  // a known token's prefix
    EXPECT_EQ(reply.status, 401u);
  }
  {
    HttpTestClient client(mPort);
    ASSERT_TRUE(client.SendRaw(
        "POST /v1/messages HTTP/1.1\r\nHost: t\r\nAuthorization: Basic dXNlcjpwYXNz\r\n"
        "Content-Length: 100000000\r\n\r\n"));
    HttpReply reply = client.ReadReply();
    EXPECT_EQ(reply.status, 401u);
    EXPECT_NE(ErrorText(reply).find("Bearer TOKEN"), std::string::npos) << reply.body;
  }
  HttpTestClient client(mPort);
  EXPECT_EQ(client.Post(body, "another-token").status, 200u);
}

TEST_F(HttpServerTest, UnknownPathIs404AndWrongMethodIs405) {
  Start();
  HttpTestClient client(mPort);
  HttpReply notFound = client.Request("GET", "/v1/message", "", kToken);
  EXPECT_EQ(notFound.status, 404u);
  EXPECT_NE(ErrorText(notFound).find("/v1/message;"), std::string::npos) << notFound.body;
  HttpReply wrongMethod = client.Request("GET", "/v1/messages", "", kToken);
  EXPECT_EQ(wrongMethod.status, 405u);
  EXPECT_EQ(wrongMethod.Header("allow"), "POST");
  EXPECT_EQ(client.Request("GET", "/healthz").status, 200u);
  // A refused request whose body was not read cannot be followed on its connection.
  HttpReply withBody = client.Request("POST", "/healthz", "{}");
  EXPECT_EQ(withBody.status, 405u);
  EXPECT_FALSE(withBody.keepAlive);
  EXPECT_TRUE(client.ClosedByServer());
}

TEST_F(HttpServerTest, OversizedHeaderIs431AndBrokenHttpIs400) {
  HttpServerOptions options = Options();
  options.headerLimit = 1024;
  Start(options);
  {
    HttpTestClient client(mPort);
    ASSERT_TRUE(client.SendRaw(
        "GET /healthz HTTP/1.1\r\nHost: t\r\nX-Filler: " + std::string(4000, 'x') + "\r\n\r\n"));
    HttpReply reply = client.ReadReply();
    EXPECT_EQ(reply.status, 431u);
    EXPECT_NE(ErrorText(reply).find("larger than 1024 bytes"), std::string::npos);
  }
  {
    HttpTestClient client(mPort);
    ASSERT_TRUE(client.SendRaw("GET /healthz HTTP/1.1\r\nHost t\r\n\r\n"));
    HttpReply reply = client.ReadReply();
    EXPECT_EQ(reply.status, 400u);
    EXPECT_NE(ErrorText(reply).find("not valid HTTP"), std::string::npos) << reply.body;
  }
  ExpectStillServing();
}

// --- Connections ---------------------------------------------------------------------------

TEST_F(HttpServerTest, IdleAndHalfSentConnectionsDoNotBlockOthers) {
  HttpServerOptions options = Options();
  options.threads = 1;
  options.ioThreads = 1;
  Start(options);
  std::vector<std::unique_ptr<HttpTestClient>> idle;
  for (int i = 0; i < 20; ++i) {
    idle.push_back(std::make_unique<HttpTestClient>(mPort));
    ASSERT_EQ(idle.back()->Request("GET", "/healthz").status, 200u);  // now idle, kept alive
  }
  for (int i = 0; i < 5; ++i) {
    idle.push_back(std::make_unique<HttpTestClient>(mPort));
    ASSERT_TRUE(idle.back()->SendRaw("POST /v1/messages HTTP/1.1\r\nHost: t\r\nContent-Le"));
  }
  HttpTestClient client(mPort);
  EXPECT_EQ(Search(client).status, 200u);
  EXPECT_EQ(client.Request("GET", "/healthz").status, 200u);
  // The idle connections are still open and still served.
  EXPECT_EQ(idle.front()->Request("GET", "/healthz").status, 200u);
}

TEST_F(HttpServerTest, ConnectionOneRequestsSeveralTimesAndPipelines) {
  Start();
  HttpTestClient client(mPort);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Search(client).status, 200u);
  const std::string search = protocol::RequestToJson(SearchRequest("pipelined"));
  ASSERT_TRUE(client.SendRaw(
      fmt::format("GET /healthz HTTP/1.1\r\nHost: t\r\n\r\n"
                  "POST /v1/messages HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer {}\r\n"
                  "Content-Type: application/json\r\n"
                  "Content-Length: {}\r\n\r\n{}",
                  kToken, search.size(), search)));
  HttpReply first = client.ReadReply();
  HttpReply second = client.ReadReply();
  EXPECT_EQ(first.status, 200u);
  EXPECT_EQ(Json::parse(first.body)["status"], "ok");
  ASSERT_EQ(second.status, 200u);
  EXPECT_EQ(protocol::ReplyFromJson(second.body).requestId, "pipelined");
}

TEST_F(HttpServerTest, IdleConnectionIsClosedAfterTheIdleTimeout) {
  HttpServerOptions options = Options();
  options.idleTimeout = std::chrono::milliseconds(100);
  Start(options);
  HttpTestClient client(mPort);
  ASSERT_EQ(client.Request("GET", "/healthz").status, 200u);
  EXPECT_TRUE(client.ClosedByServer());
}

TEST_F(HttpServerTest, RequestThatStopsArrivingIsDroppedAfterTheReadTimeout) {
  HttpServerOptions options = Options();
  options.readTimeout = std::chrono::milliseconds(100);
  Start(options);
  HttpTestClient client(mPort);
  ASSERT_TRUE(client.SendRaw("POST /v1/messages HTTP/1.1\r\nHost: t\r\nContent-Length: 10\r\n"));
  EXPECT_TRUE(client.ClosedByServer());
  ExpectStillServing();
}

// The bytes of one answer as they come off the socket: `request` sent on a fresh connection,
// read until the server closes it (the request asks it to) or nothing comes for 5 s.
std::string RawExchange(unsigned short port, const std::string& request) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("no socket");
  timeval wait{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size())) {
    char block[4096];
    for (ssize_t n; (n = recv(fd, block, sizeof block, 0)) > 0;) answer.append(block, n);
  }
  close(fd);
  return answer;
}

// The sizes of the chunks of a chunked body and the body they make up; throws on a body
// that is not validly chunked.
std::pair<std::vector<std::size_t>, std::string> Dechunk(std::string_view body) {
  std::vector<std::size_t> sizes;
  std::string joined;
  for (;;) {
    const std::size_t end = body.find("\r\n");
    if (end == std::string_view::npos) throw std::runtime_error("chunk size line cut short");
    const std::size_t size = std::stoul(std::string(body.substr(0, end)), nullptr, 16);
    body.remove_prefix(end + 2);
    if (size == 0) {
      if (body != "\r\n") throw std::runtime_error("bytes after the last chunk");
      return {sizes, joined};
    }
    if (body.size() < size + 2 || body.substr(size, 2) != "\r\n") {
      throw std::runtime_error("chunk cut short");
    }
    sizes.push_back(size);
    joined.append(body.substr(0, size));
    body.remove_prefix(size + 2);
  }
}

// A reply above the threshold goes in chunks of bounded size, written from the reply itself:
// the bytes are those of the whole reply, and the connection carries the next request.
// HTTP/1.0 cannot read chunks: it gets a Content-Length whatever the size.
TEST_F(HttpServerTest, LargeReplyIsSentInBoundedChunksSmallOneWithItsLength) {
  HttpServerOptions options = Options();
  options.chunkedReplyAbove = 1024;
  options.replyChunkBytes = 500;
  Start(options);
  const std::string expected =
      protocol::ReplyToJson(mHandler->Handle(SearchRequest(), HttpApi::LocalClient()).reply);
  ASSERT_GT(expected.size(), 2 * options.replyChunkBytes);

  HttpTestClient client(mPort);
  HttpReply large = Search(client);
  ASSERT_EQ(large.status, 200u);
  EXPECT_EQ(large.Header("transfer-encoding"), "chunked");
  EXPECT_EQ(large.Header("content-length"), "");
  EXPECT_EQ(large.body, expected);
  EXPECT_TRUE(large.keepAlive);
  HttpReply small = client.Request("GET", "/healthz");
  ASSERT_EQ(small.status, 200u);
  EXPECT_EQ(small.Header("content-length"), std::to_string(small.body.size()));
  EXPECT_EQ(small.Header("transfer-encoding"), "");

  const std::string search = protocol::RequestToJson(SearchRequest());
  for (const char* version : {"1.1", "1.0"}) {
    SCOPED_TRACE(version);
    const std::string raw = RawExchange(
        mPort, fmt::format("POST /v1/messages HTTP/{}\r\nHost: t\r\nConnection: close\r\n"
                           "Authorization: Bearer {}\r\nContent-Type: application/json\r\n"
                           "Content-Length: {}\r\n\r\n{}",
                           version, kToken, search.size(), search));
    const std::size_t headEnd = raw.find("\r\n\r\n");
    ASSERT_NE(headEnd, std::string::npos) << raw;
    const std::string head = raw.substr(0, headEnd + 2);
    const std::string_view body = std::string_view(raw).substr(headEnd + 4);
    if (std::string_view(version) == "1.0") {
      EXPECT_NE(head.find(fmt::format("Content-Length: {}\r\n", expected.size())),
                std::string::npos)
          << head;
      EXPECT_EQ(body, expected);
      continue;
    }
    EXPECT_NE(head.find("Transfer-Encoding: chunked\r\n"), std::string::npos) << head;
    const auto [sizes, joined] = Dechunk(body);
    EXPECT_EQ(joined, expected);
    EXPECT_EQ(sizes.size(),
              (expected.size() + options.replyChunkBytes - 1) / options.replyChunkBytes);
    for (std::size_t size : sizes) EXPECT_LE(size, options.replyChunkBytes);
  }
}

TEST_F(HttpServerTest, ConnectionsOverTheLimitAre503) {
  HttpServerOptions options = Options();
  options.maxConnections = 2;
  Start(options);
  auto first = std::make_unique<HttpTestClient>(mPort);
  HttpTestClient second(mPort);
  ASSERT_EQ(first->Request("GET", "/healthz").status, 200u);
  ASSERT_EQ(second.Request("GET", "/healthz").status, 200u);
  {
    HttpTestClient third(mPort);
    HttpReply reply = third.ReadReply();
    EXPECT_EQ(reply.status, 503u);
    EXPECT_EQ(reply.Header("retry-after"), "1");
    EXPECT_NE(ErrorText(reply).find("2 connections"), std::string::npos) << reply.body;
  }
  first.reset();
  // Once the server has seen the first connection go, a new one is served again.
  bool served = false;
  for (int attempt = 0; attempt < 200 && !served; ++attempt) {
    HttpTestClient next(mPort);
    served = next.Request("GET", "/healthz").status == 200u;
    if (!served) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(served);
}

// --- Stop and the access log ---------------------------------------------------------------

TEST_F(HttpServerTest, GracefulStopFinishesTheRequestInFlightAndAcceptsNoMore) {
  Start();
  HttpTestClient idle(mPort);
  ASSERT_EQ(idle.Request("GET", "/healthz").status, 200u);

  mStore->Close();
  HttpTestClient busy(mPort);
  ASSERT_TRUE(busy.SendRaw(
      fmt::format("POST /v1/messages HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer {}\r\n"
                  "Content-Type: application/json\r\n"
                  "Content-Length: {}\r\n\r\n{}",
                  kToken, protocol::RequestToJson(SearchRequest()).size(),
                  protocol::RequestToJson(SearchRequest()))));
  mStore->WaitUntilHeld();

  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    mServer->Stop();
    stopped = true;
  });
  // The idle connection is closed and new ones are refused while the request is held.
  EXPECT_TRUE(idle.ClosedByServer());
  bool refused = false;
  for (int attempt = 0; attempt < 500 && !refused; ++attempt) {
    refused = !HttpTestClient::Accepting(mPort);
    if (!refused) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(refused);
  EXPECT_FALSE(stopped);

  mStore->Open();
  HttpReply reply = busy.ReadReply();
  EXPECT_EQ(reply.status, 200u);
  EXPECT_FALSE(reply.keepAlive);
  EXPECT_TRUE(protocol::ReplyFromJson(reply.body).ok);
  stopper.join();
  EXPECT_TRUE(stopped);
  mServer->Stop();  // a second stop does nothing
}

TEST_F(HttpServerTest, AccessLogHasOneLinePerRequest) {
  Start();
  {
    HttpTestClient client(mPort);
    ASSERT_EQ(client.Request("GET", "/healthz").status, 200u);
    ASSERT_EQ(client.Post("{}", "").status, 401u);
  }
  {
    HttpTestClient client(mPort);
    ASSERT_EQ(Search(client).status, 200u);
  }
  mServer->Stop();  // every answer written, so every line logged

  std::ifstream in(mDir / "access.log");
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find(" 127.0.0.1:"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find(" GET /healthz 200 "), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find(" POST /v1/messages 401 "), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find(" POST /v1/messages 200 "), std::string::npos) << lines[2];
  EXPECT_NE(lines[2].find("ms"), std::string::npos);
}

// --- Start-up ------------------------------------------------------------------------------

TEST_F(HttpServerTest, StartRefusesBadSettings) {
  auto refusal = [&](HttpServerOptions options) {
    HttpServer server(mHandler, std::move(options));
    try {
      server.Start();
    } catch (const HttpServerError& e) {
      return std::string(e.what());
    }
    return std::string("started");
  };
  HttpServerOptions open = Options();
  open.tokens = nullptr;
  open.address = "0.0.0.0";
  EXPECT_NE(refusal(open).find("without bearer tokens"), std::string::npos);

  HttpServerOptions named = Options();
  named.address = "forms.example.org";
  EXPECT_NE(refusal(named).find("is not an IP address"), std::string::npos);

  HttpServerOptions noChunk = Options();
  noChunk.replyChunkBytes = 0;
  EXPECT_NE(refusal(noChunk).find("reply chunk size must be above 0"), std::string::npos);

  Start();
  HttpServerOptions taken = Options();
  taken.port = mPort;
  EXPECT_NE(refusal(taken).find("cannot listen on 127.0.0.1:"), std::string::npos);

  HttpServerOptions loopback = Options();
  loopback.tokens = nullptr;
  loopback.address = "localhost";
  EXPECT_EQ(refusal(loopback), "started");

  EXPECT_THROW(HttpServer(nullptr, Options()), HttpServerError);
}

TEST_F(HttpServerTest, WithoutTokensOnLoopbackNoTokenIsAsked) {
  HttpServerOptions options = Options();
  options.tokens = nullptr;
  Start(options);
  HttpTestClient client(mPort);
  EXPECT_EQ(client.Post(protocol::RequestToJson(SearchRequest()), "").status, 200u);
}

}  // namespace
}  // namespace fm::server

// The HTTP front over real sockets on 127.0.0.1 and a throw-away SQLite inventory holding
// the demo inventory.

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <nlohmann/json.hpp>
#include <thread>

#include "HttpTestServer.h"
#include "protocol/Custody.h"
#include "server/http/HttpServerError.h"
#include "server/store/DemoInventory.h"
#include "server/store/TimeText.h"

namespace fm::server::testing {
namespace {

using Json = nlohmann::json;
using ::testing::HasSubstr;

// The screen's search for Troop/District A1 and form type C.
protocol::Request SearchRequest(const std::string& id = "http-search-1") {
  return Message(id, protocol::kSearchMessage,
                 {Key("TRP_ID", "A"), Key("TRP_DIST_ID", "1"), Key("REF_TYP_CD", "C"),
                  Key("INACTIVE", "N"), Key("TRP_ACTN_CD", "V", "<>"), Key("THIN", "YES")});
}

// A server over the demo inventory, started by each test.
class HttpServerTest : public ::testing::Test, public TestServer {
 protected:
  HttpServerTest() : TestServer([](Store& store) { LoadDemoInventory(store); }) {}

  HttpReply Search(HttpTestClient& client, const std::string& id = "http-search-1") {
    return client.Post(protocol::RequestToJson(SearchRequest(id)), kAdminToken);
  }
};

// --- Requests that succeed -------------------------------------------------------------

TEST_F(HttpServerTest, SearchAnswersWhatTheHandlerAnswers) {
  Start();
  HttpTestClient client(Port());
  HttpReply reply = Search(client);
  ASSERT_EQ(reply.status, 200u) << reply.body;
  EXPECT_EQ(reply.Header("content-type"), "application/json");
  EXPECT_TRUE(reply.keepAlive);

  protocol::Reply answered = protocol::ReplyFromJson(reply.body);
  EXPECT_EQ(answered, Handler()->Handle(SearchRequest(), HttpApi::LocalClient()).reply);
  ASSERT_TRUE(answered.ok) << answered.error;
  EXPECT_FALSE(answered.dataSets.at(protocol::kTroopFormDataSet).rows.empty());
  EXPECT_TRUE(answered.dataSets.contains(protocol::kOfficerDataSet));

  // A request the handler refuses is answered "ok": false with status 200.
  protocol::Request refused = SearchRequest("http-refused");
  refused.criteria.push_back(Key("NOPE", "1"));
  reply = client.Post(protocol::RequestToJson(refused), kAdminToken);
  ASSERT_EQ(reply.status, 200u);
  answered = protocol::ReplyFromJson(reply.body);
  EXPECT_FALSE(answered.ok);
  EXPECT_THAT(answered.error, HasSubstr("key:NOPE"));
  EXPECT_EQ(answered.requestId, "http-refused");
}

TEST_F(HttpServerTest, SaveIsAppliedAndItsHistoryNamesTheTokensOwnerNotTheClaimedUser) {
  Start();
  // Ten numbers of form type B below the demo inventory's, which starts B at 1000000.
  protocol::Request save = Save("http-save-1", {ChangeRow("ADD", "B", 100, 109, "A", "1", 0, "A")},
                                {Key("REF_TYP_CD", "B"), Key("FORM_SEARCH_NBR", "105")});
  save.userId = 4242;  // the client claims to be someone else
  HttpTestClient client(Port());
  HttpReply saved = client.Post(protocol::RequestToJson(save), kClerkToken);
  ASSERT_EQ(saved.status, 200u) << saved.body;
  protocol::Reply reply = protocol::ReplyFromJson(saved.body);
  ASSERT_TRUE(reply.ok) << reply.error;
  EXPECT_EQ(reply.dataSets.at(protocol::kTroopFormDataSet).rows.size(), 1u)
      << "the requery answers the new range";

  // Parameters are %-decoded, names and values alike: "%5F" is "_", "%3" and a digit the digit.
  HttpReply history =
      client.Request("GET", "/v1/history?form%5Ftype=B&number=%3103", "", kAdminToken);
  ASSERT_EQ(history.status, 200u) << history.body;
  Json body = Json::parse(history.body);
  EXPECT_EQ(body["form_type"], "B");
  EXPECT_EQ(body["number"], 103);
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
  EXPECT_EQ(entry["after"]["from"], 100);
  EXPECT_EQ(entry["after"]["to"], 109);
  EXPECT_EQ(entry["after"]["status"], "A");

  // The desktop's history window (message type 35, a viewer's token) names the same person.
  const protocol::Request asked = Message("http-history-words", protocol::kFormHistoryMessage,
                                          {Key("REF_TYP_CD", "B"), Key("FORM_SEARCH_NBR", "103")});
  const protocol::Reply words =
      protocol::ReplyFromJson(client.Post(protocol::RequestToJson(asked), kViewerToken).body);
  ASSERT_TRUE(words.ok) << words.error;
  const auto told = protocol::FormHistoryFromDataSets(words.dataSets);
  ASSERT_EQ(told.entries.size(), 1u);
  EXPECT_EQ(told.entries[0].userName, "Margaret Hartley");
  EXPECT_EQ(told.entries[0].userId, 1001);
  EXPECT_EQ(entry["after"]["troop"], "A");
}

TEST_F(HttpServerTest, ReportAnswersEveryLineWithItsRangesAndChecksItsParameters) {
  Start();
  const std::string today = LocalDate(std::chrono::system_clock::now());
  HttpTestClient client(Port());
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

  const struct {
    const char* query;
    unsigned status;
    const char* says;
  } kRefused[] = {
      {"station=Q9", 422, "There is no Troop/District Q9"},
      {"station=Q", 422, "There is no troop Q"},
      {"form_type=C", 422,
       "A report is of a Troop/District (e.g. A1), a whole troop (e.g. A) or an officer (a "
       "Registry #); none was given"},
      {"station=A1&form_type=Q", 422, "The Form Type \"Q\" is not known"},
      {"station=A1&from=2026-11-01", 422,
       "A period needs its first day and its last day, or neither for the last calendar month; "
       "the last day is missing"},
      {"station=A1&from=2026-11-31&to=2026-12-01", 422,
       "The first day of the period, \"2026-11-31\", is not a date; it is given as YYYY-MM-DD"},
      // Its instants overflowed the clock, and the report answered another period.
      {"station=A1&from=4503-11-01&to=4503-11-30", 422,
       "The first day of the period, \"4503-11-01\", is not within the years 1900 to 2199"},
      {"station=A1&from=2026-12-01&to=2026-11-01", 422,
       "The period's first day, 2026-12-01, is after its last day, 2026-11-01"},
      {"station=A1&officer=77", 422, "No officer has the Registry # 77"},
      {"station=A1&officer=7x", 422,
       "The Registry # \"7x\" is not a registry number; it is written in digits only"},
      {"station=A1&from=%2", 400, "broken %-escape"},
      {"station=A1&station=A2", 400, "given twice"},
  };
  for (const auto& c : kRefused) {
    HttpReply refused =
        client.Request("GET", std::string("/v1/report?") + c.query, "", kAdminToken);
    EXPECT_EQ(refused.status, c.status) << c.query << ": " << refused.body;
    EXPECT_THAT(ErrorText(refused), HasSubstr(c.says)) << c.query << ": " << refused.body;
  }
}

// --- Bad requests: a clear status and message, and the server goes on -------------------

TEST_F(HttpServerTest, MalformedJsonIs400AndTheConnectionAndOthersGoOn) {
  Start();
  HttpTestClient other(Port());
  ASSERT_EQ(Search(other).status, 200u);

  HttpTestClient client(Port());
  HttpReply reply = client.Post("{\"request_id\": \"x\", ", kAdminToken);
  EXPECT_EQ(reply.status, 400u);
  EXPECT_EQ(reply.Header("content-type"), "application/json");
  EXPECT_THAT(ErrorText(reply), HasSubstr("not valid JSON")) << reply.body;

  // The body was read in full, so the same connection carries the next requests; so does
  // a refusal of a request without a body.
  EXPECT_EQ(client.Request("GET", "/v1/message", "", kAdminToken).status, 404u);
  EXPECT_EQ(Search(client).status, 200u);
  EXPECT_EQ(Search(other).status, 200u);
}

TEST_F(HttpServerTest, ExpectContinueIsAnsweredBeforeTheBodyIsSent) {
  Start();
  const std::string body = protocol::RequestToJson(SearchRequest());
  HttpTestClient client(Port());
  ASSERT_TRUE(client.SendRaw(PostHead(kAdminToken, body.size(), "Expect: 100-continue\r\n")));
  EXPECT_EQ(client.ReadReply().status, 100u);
  ASSERT_TRUE(client.SendRaw(body));
  EXPECT_EQ(client.ReadReply().status, 200u);

  // Too large a body is refused on its announced length, before it is sent.
  ASSERT_TRUE(client.SendRaw(PostHead(kAdminToken, 100000000, "Expect: 100-continue\r\n")));
  HttpReply refused = client.ReadReply();
  EXPECT_EQ(refused.status, 413u);
  EXPECT_THAT(ErrorText(refused), HasSubstr("100000000 bytes")) << refused.body;
}

// Requests written by hand that break a rule of HTTP or of this server: each is refused
// with its status and message, and the server goes on. A refusal that leaves a body unread
// ends its connection.
TEST_F(HttpServerTest, RawRequestsBreakingARuleAreRefused) {
  HttpServerOptions options = Options();
  options.bodyLimit = 64 * 1024;
  options.headerLimit = 1024;
  Start(options);
  std::string chunked = fmt::format(
      "POST /v1/messages HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer {}\r\n"
      "Content-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n",
      kAdminToken);
  for (int i = 0; i < 8; ++i) chunked += "4000\r\n" + std::string(0x4000, ' ') + "\r\n";
  const struct {
    const char* name;
    std::string request;
    unsigned status;
    const char* says;
    bool closes;
  } kCases[] = {
      {"body over the limit", PostHead(kAdminToken, 200 * 1024) + std::string(200 * 1024, ' '), 413,
       "at most 65536 bytes", true},
      {"chunked body over the limit", chunked + "0\r\n\r\n", 413, "larger than 65536 bytes", false},
      {"a token of another scheme, before the body size",
       "POST /v1/messages HTTP/1.1\r\nHost: t\r\nAuthorization: Basic dXNlcjpwYXNz\r\n"
       "Content-Length: 100000000\r\n\r\n",
       401, "Bearer TOKEN", false},
      {"a header over the limit",
       "GET /healthz HTTP/1.1\r\nHost: t\r\nX-Filler: " + std::string(4000, 'x') + "\r\n\r\n", 431,
       "larger than 1024 bytes", false},
      {"broken HTTP", "GET /healthz HTTP/1.1\r\nHost t\r\n\r\n", 400, "not valid HTTP", false},
      {"a body the method takes none of",
       "POST /healthz HTTP/1.1\r\nHost: t\r\nContent-Length: 2\r\n\r\n{}", 405, "", true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    HttpTestClient client(Port());
    client.SendRaw(c.request);  // the server may stop reading before the end
    const HttpReply reply = client.ReadReply();
    EXPECT_EQ(reply.status, c.status) << reply.body;
    EXPECT_THAT(ErrorText(reply), HasSubstr(c.says)) << reply.body;
    if (c.closes) {
      EXPECT_FALSE(reply.keepAlive);
      EXPECT_TRUE(client.ClosedByServer());
    }
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
    idle.push_back(std::make_unique<HttpTestClient>(Port()));
    ASSERT_EQ(idle.back()->Request("GET", "/healthz").status, 200u);  // now idle, kept alive
  }
  for (int i = 0; i < 5; ++i) {
    idle.push_back(std::make_unique<HttpTestClient>(Port()));
    ASSERT_TRUE(idle.back()->SendRaw("POST /v1/messages HTTP/1.1\r\nHost: t\r\nContent-Le"));
  }
  HttpTestClient client(Port());
  EXPECT_EQ(Search(client).status, 200u);
  EXPECT_EQ(client.Request("GET", "/healthz").status, 200u);
  // The idle connections are still open and still served.
  EXPECT_EQ(idle.front()->Request("GET", "/healthz").status, 200u);
}

// One connection asks, then pipelines a health check and a search.
TEST_F(HttpServerTest, ConnectionOneRequestsSeveralTimesAndPipelines) {
  Start();
  HttpTestClient client(Port());
  ASSERT_EQ(Search(client).status, 200u);
  const std::string search = protocol::RequestToJson(SearchRequest("pipelined"));
  ASSERT_TRUE(client.SendRaw("GET /healthz HTTP/1.1\r\nHost: t\r\n\r\n" +
                             PostHead(kAdminToken, search.size()) + search));
  HttpReply first = client.ReadReply();
  HttpReply second = client.ReadReply();
  ASSERT_EQ(first.status, 200u);  // /healthz asks for no token
  const Json health = Json::parse(first.body);
  EXPECT_EQ(health["status"], "ok");
  EXPECT_EQ(health["backend"], "sqlite");
  EXPECT_EQ(health["schema_version"], GetStore().SchemaVersion());
  ASSERT_EQ(second.status, 200u);
  EXPECT_EQ(protocol::ReplyFromJson(second.body).requestId, "pipelined");
}

TEST_F(HttpServerTest, IdleConnectionsAndRequestsThatStopArrivingAreClosedAfterTheirTimeouts) {
  HttpServerOptions options = Options();
  options.idleTimeout = std::chrono::milliseconds(100);
  options.readTimeout = std::chrono::milliseconds(100);
  Start(options);
  HttpTestClient idle(Port());
  ASSERT_EQ(idle.Request("GET", "/healthz").status, 200u);
  EXPECT_TRUE(idle.ClosedByServer());
  HttpTestClient halfSent(Port());
  ASSERT_TRUE(halfSent.SendRaw("POST /v1/messages HTTP/1.1\r\nHost: t\r\nContent-Length: 10\r\n"));
  EXPECT_TRUE(halfSent.ClosedByServer());
  ExpectStillServing();
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
      protocol::ReplyToJson(Handler()->Handle(SearchRequest(), HttpApi::LocalClient()).reply);
  ASSERT_GT(expected.size(), 2 * options.replyChunkBytes);

  HttpTestClient client(Port());
  HttpReply large = Search(client);
  ASSERT_EQ(large.status, 200u);
  EXPECT_EQ(large.Header("transfer-encoding"), "chunked");
  EXPECT_EQ(large.Header("content-length"), "");
  EXPECT_EQ(large.body, expected);
  EXPECT_EQ(large.chunkSizes.size(),
            (expected.size() + options.replyChunkBytes - 1) / options.replyChunkBytes);
  for (std::size_t size : large.chunkSizes) EXPECT_LE(size, options.replyChunkBytes);
  EXPECT_TRUE(large.keepAlive);
  HttpReply small = client.Request("GET", "/healthz");
  ASSERT_EQ(small.status, 200u);
  EXPECT_EQ(small.Header("content-length"), std::to_string(small.body.size()));
  EXPECT_EQ(small.Header("transfer-encoding"), "");

  const std::string search = protocol::RequestToJson(SearchRequest());
  HttpTestClient old(Port());
  ASSERT_TRUE(old.SendRaw(
      fmt::format("POST /v1/messages HTTP/1.0\r\nHost: t\r\nAuthorization: Bearer {}\r\n"
                  "Content-Type: application/json\r\nContent-Length: {}\r\n\r\n{}",
                  kAdminToken, search.size(), search)));
  const std::string raw = old.ReadToEnd();
  const std::size_t headEnd = raw.find("\r\n\r\n");
  ASSERT_NE(headEnd, std::string::npos) << raw;
  EXPECT_THAT(raw.substr(0, headEnd + 2),
              HasSubstr(fmt::format("Content-Length: {}\r\n", expected.size())))
      << raw.substr(0, headEnd);
  EXPECT_EQ(raw.substr(headEnd + 4), expected);
}

TEST_F(HttpServerTest, ConnectionsOverTheLimitAre503) {
  HttpServerOptions options = Options();
  options.maxConnections = 2;
  Start(options);
  auto first = std::make_unique<HttpTestClient>(Port());
  HttpTestClient second(Port());
  ASSERT_EQ(first->Request("GET", "/healthz").status, 200u);
  ASSERT_EQ(second.Request("GET", "/healthz").status, 200u);
  {
    HttpTestClient third(Port());
    HttpReply reply = third.ReadReply();
    EXPECT_EQ(reply.status, 503u);
    EXPECT_EQ(reply.Header("retry-after"), "1");
    EXPECT_THAT(ErrorText(reply), HasSubstr("2 connections")) << reply.body;
  }
  first.reset();
  // Once the server has seen the first connection go, a new one is served again.
  bool served = false;
  for (int attempt = 0; attempt < 200 && !served; ++attempt) {
    HttpTestClient next(Port());
    served = next.Request("GET", "/healthz").status == 200u;
    if (!served) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(served);
}

// --- Stop ----------------------------------------------------------------------------------

TEST_F(HttpServerTest, GracefulStopFinishesTheRequestInFlightAndAcceptsNoMore) {
  Start();
  HttpTestClient idle(Port());
  ASSERT_EQ(idle.Request("GET", "/healthz").status, 200u);

  GetStore().Close();
  HttpTestClient busy(Port());
  const std::string search = protocol::RequestToJson(SearchRequest());
  ASSERT_TRUE(busy.SendRaw(PostHead(kAdminToken, search.size()) + search));
  GetStore().WaitUntilHeld();

  std::atomic<bool> stopped{false};
  std::thread stopper([&] {
    Server().Stop();
    stopped = true;
  });
  // The idle connection is closed and new ones are refused while the request is held.
  EXPECT_TRUE(idle.ClosedByServer());
  bool refused = false;
  for (int attempt = 0; attempt < 500 && !refused; ++attempt) {
    refused = !HttpTestClient::Accepting(Port());
    if (!refused) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(refused);
  EXPECT_FALSE(stopped);

  GetStore().Open();
  HttpReply reply = busy.ReadReply();
  EXPECT_EQ(reply.status, 200u);
  EXPECT_FALSE(reply.keepAlive);
  EXPECT_TRUE(protocol::ReplyFromJson(reply.body).ok);
  stopper.join();
  EXPECT_TRUE(stopped);
  Server().Stop();  // a second stop does nothing
}

// --- Start-up ------------------------------------------------------------------------------

TEST_F(HttpServerTest, StartRefusesBadSettings) {
  auto refusal = [&](const std::function<void(HttpServerOptions&)>& change) {
    HttpServerOptions options = Options();
    change(options);
    HttpServer server(Handler(), std::move(options));
    try {
      server.Start();
    } catch (const HttpServerError& e) {
      return std::string(e.what());
    }
    return std::string("started");
  };
  auto noTokens = [](const char* address) {
    return [address](HttpServerOptions& o) {
      o.tokens = nullptr;
      o.address = address;
    };
  };
  EXPECT_THAT(refusal(noTokens("0.0.0.0")), HasSubstr("without bearer tokens"));
  EXPECT_EQ(refusal(noTokens("localhost")), "started");
  EXPECT_THAT(refusal([](auto& o) { o.address = "forms.example.org"; }),
              HasSubstr("is not an IP address"));
  EXPECT_THAT(refusal([](auto& o) { o.replyChunkBytes = 0; }),
              HasSubstr("reply chunk size must be above 0"));
  Start();
  EXPECT_THAT(refusal([&](auto& o) { o.port = Port(); }), HasSubstr("cannot listen on 127.0.0.1:"));
  EXPECT_THROW(HttpServer(nullptr, Options()), HttpServerError);
}

}  // namespace
}  // namespace fm::server::testing

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <future>

#include "CannedHttpServer.h"
#include "TestAuthority.h"
#include "TransportTestSupport.h"
#include "platform/PlatformError.h"
#include "protocol/Json.h"
#include "server/handler/RequestHandler.h"
#include "server/http/HttpServer.h"
#include "server/http/HttpServerError.h"
#include "server/http/TokenFile.h"
#include "server/store/DemoInventory.h"
#include "server/store/Store.h"
#include "transport/HttpTransport.h"

namespace fm {
namespace {

using testing::CannedHttpServer;
using ::testing::HasSubstr;
using testing::TempFolder;

constexpr const char* kToken = "secret-token";
constexpr const char* kViewerToken = "viewer-token";
constexpr const char* kIdentity = "SCR.TARVO_FormsMaint#1";

protocol::Request Search(const std::string& troop, const std::string& formType) {
  protocol::Request request;
  request.requestId = NewRequestId();
  request.identity = kIdentity;
  request.version = "1.0";
  request.requester = "FORMSMAINT";
  request.userId = 1001;
  request.messageType = protocol::kSearchMessage;
  request.criteria = {{"key:TRP_ID", troop, "=", "FORMSMAINT"},
                      {"key:REF_TYP_CD", formType, "=", "FORMSMAINT"},
                      {"key:INACTIVE", "N", "=", "FORMSMAINT"},
                      {"key:TRP_ACTN_CD", "V", "<>", "FORMSMAINT"},
                      {"key:THIN", "YES", "=", "FORMSMAINT"}};
  return request;
}

std::string ErrorOf(HttpTransport& transport, const protocol::Request& request) {
  try {
    transport.Exchange(request);
  } catch (const PlatformError& error) {
    return error.Description();
  }
  return "(no error)";
}

// One forms server for the suite: the demo inventory in SQLite behind the real HTTP front,
// asking for a token.
class HttpTransportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sFolder = std::make_unique<TempFolder>();
    auto store = server::OpenStore("sqlite:" + (sFolder->Path() / "inventory.db").string());
    server::LoadDemoInventory(*store);
    sHandler = std::make_shared<server::RequestHandler>(store);
    server::HttpServerOptions options;
    options.tokens = server::TokenTable::FromTokens(
        {{kToken, server::Principal::LocalAdministrator(1001, "Margaret Hartley")},
         {kViewerToken,
          {7, "Vera Viewer", server::Role::Viewer, server::StationScope::Parse("*")}}});
    options.accessLog = sFolder->Path() / "access.log";
    sServer = std::make_unique<server::HttpServer>(sHandler, options);
    sServer->Start();
    std::ofstream(sFolder->Path() / "token")
        << "# this workstation's token\n\n  " << kToken << "  \n";
  }
  static void TearDownTestSuite() {
    sServer.reset();
    sHandler.reset();
    sFolder.reset();
  }

  static HttpTransport::Options ServerOptions() {
    HttpTransport::Options options;
    options.address = fmt::format("http://127.0.0.1:{}", sServer->Port());
    options.tokenFile = sFolder->Path() / "token";
    options.timeout = std::chrono::seconds(20);
    return options;
  }

  static inline std::unique_ptr<TempFolder> sFolder;
  static inline std::shared_ptr<server::RequestHandler> sHandler;
  static inline std::unique_ptr<server::HttpServer> sServer;
};

TEST_F(HttpTransportTest, AnExchangeAnswersWhatTheServersHandlerAnswersOverOneKeptConnection) {
  HttpTransport transport(ServerOptions());
  const protocol::Request forms = Search("A", "C");
  const protocol::Reply reply = transport.Exchange(forms);
  ASSERT_TRUE(reply.ok) << reply.error;
  EXPECT_EQ(reply, sHandler->Handle(forms, server::HttpApi::LocalClient()).reply);
  EXPECT_FALSE(reply.dataSets.at("TROOPFORM").rows.empty());

  const protocol::Reply again = transport.Exchange(Search("B", "Y"));
  ASSERT_TRUE(again.ok) << again.error;
  EXPECT_EQ(transport.ConnectionsOpened(), 1u);
}

// A request the server cannot take is the server's own words, not a connection failure.
TEST_F(HttpTransportTest, ARequestTheServerCannotTakeIsRefusedInItsWords) {
  HttpTransport transport(ServerOptions());
  protocol::Request unknownType = Search("A", "C");
  unknownType.messageType = 99;
  const std::string error = ErrorOf(transport, unknownType);
  EXPECT_THAT(error, HasSubstr("The forms server could not accept the request: "));
  EXPECT_THAT(error, HasSubstr("99"));
  EXPECT_TRUE(transport.Exchange(Search("A", "C")).ok) << "the connection is still sound";
}

TEST_F(HttpTransportTest, AWrongOrMissingTokenIsRefusedSayingWhatToDo) {
  const struct {
    const char* file;     // nullptr: no token file set up
    const char* content;  // nullptr: the file is not written
    const char* says;
  } cases[] = {
      {"wrong-token", "not-the-token\n", "refused this workstation's access token"},
      {nullptr, nullptr, "asks for an access token and none is set up"},
      {"no-such-file", nullptr, "could not be read"},
      {"empty-token", "# nothing but a comment\n\n", "holds no token"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    HttpTransport::Options options = ServerOptions();
    options.tokenFile.clear();
    if (c.file != nullptr) options.tokenFile = sFolder->Path() / c.file;
    if (c.content != nullptr) std::ofstream(options.tokenFile) << c.content;
    HttpTransport transport(options);
    const std::string error = ErrorOf(transport, Search("A", "C"));
    EXPECT_THAT(error, HasSubstr(c.says));
    EXPECT_THAT(error, HasSubstr(options.tokenFile.string())) << "names the file it read";
  }
  // The server kept serving: the right token still works.
  HttpTransport right(ServerOptions());
  EXPECT_TRUE(right.Exchange(Search("A", "C")).ok);
}

// Who may do what is the server's rule; the workstation shows its refusal in its own words.
TEST_F(HttpTransportTest, AnAccountsRefusalIsTheServersOwnWordsNotAConnectionFailure) {
  protocol::Request save = Search("A", "C");
  save.messageType = protocol::kSaveRequeryMessage;
  HttpTransport::Options options = ServerOptions();
  options.tokenFile.clear();
  options.token = kViewerToken;
  HttpTransport viewer(options);
  EXPECT_EQ(ErrorOf(viewer, save),
            "Your account (viewer) may search and read the history of forms but not save "
            "changes; nothing was saved.");
}

TEST_F(HttpTransportTest, NoServerOrAPlainServerAtAnHttpsAddressIsReportedPlainly) {
  unsigned short port = 0;
  {
    const CannedHttpServer gone("");  // a port on which nothing listens any more
    port = gone.Port();
  }
  HttpTransport::Options options = ServerOptions();
  options.address = fmt::format("http://127.0.0.1:{}", port);
  HttpTransport nobody(options);
  const std::string error = ErrorOf(nobody, Search("A", "C"));
  EXPECT_THAT(error, HasSubstr(fmt::format("The forms server at {} could not be reached",
                                           options.address)));
  EXPECT_THAT(error, HasSubstr("Check that the server is running"));

  options.address = fmt::format("https://127.0.0.1:{}", sServer->Port());
  HttpTransport insecure(options);
  EXPECT_THAT(ErrorOf(insecure, Search("A", "C")),
              HasSubstr("A secure connection to the forms server"));
}

TEST_F(HttpTransportTest, AKeptConnectionTheServerClosedIsReplacedWithoutTheClerkNoticing) {
  server::HttpServerOptions options;
  options.idleTimeout = std::chrono::milliseconds(100);
  options.accessLog = sFolder->Path() / "access-idle.log";
  server::HttpServer quick(sHandler, options);
  quick.Start();
  HttpTransport::Options clientOptions;
  clientOptions.address = fmt::format("http://127.0.0.1:{}", quick.Port());
  HttpTransport transport(clientOptions);

  ASSERT_TRUE(transport.Exchange(Search("A", "C")).ok);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // the server closes it
  const protocol::Reply reply = transport.Exchange(Search("A", "C"));
  EXPECT_TRUE(reply.ok) << reply.error;
  EXPECT_EQ(transport.ConnectionsOpened(), 2u);
}

// Servers that misbehave in ways the real one does not.

protocol::Reply CannedReply() {
  protocol::Reply reply;
  reply.requestId = "R1";
  reply.identity = kIdentity;
  reply.ok = true;
  reply.dataSets["OFFICER"] =
      protocol::DataSet{{{"INSP_ID", protocol::ColumnType::Integer}}, {{std::int64_t{4711}}}};
  return reply;
}

HttpTransport::Options CannedOptions(unsigned short port, const std::string& path = "") {
  HttpTransport::Options options;
  options.address = fmt::format("http://127.0.0.1:{}{}", port, path);
  options.timeout = std::chrono::seconds(20);
  return options;
}

TEST(HttpTransportCannedTest, SendsThePostWithTokenHostAndBasePathAndReadsTheReply) {
  TempFolder folder;
  std::ofstream(folder.Path() / "token") << kToken << "\n";
  CannedHttpServer server(
      CannedHttpServer::Response(200, "OK", protocol::ReplyToJson(CannedReply())));
  HttpTransport::Options options = CannedOptions(server.Port(), "/agency/forms/");
  options.tokenFile = folder.Path() / "token";
  HttpTransport transport(options);
  protocol::Request request = Search("A", "C");
  request.requestId = "R1";
  EXPECT_EQ(transport.Exchange(request), CannedReply());

  const auto received = server.Requests();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_THAT(received[0], HasSubstr("POST /agency/forms/v1/messages HTTP/1.1\r\n"));
  EXPECT_THAT(received[0], HasSubstr(fmt::format("Host: 127.0.0.1:{}\r\n", server.Port())));
  EXPECT_THAT(received[0], HasSubstr("Authorization: Bearer secret-token\r\n"));
  EXPECT_THAT(received[0], HasSubstr("Content-Type: application/json\r\n"));
  const std::string body = received[0].substr(received[0].find("\r\n\r\n") + 4);
  EXPECT_EQ(protocol::RequestFromJson(body), request);
}

TEST(HttpTransportCannedTest, ErrorStatusesAndUnreadableRepliesBecomePlainWords) {
  const struct {
    std::string response;
    std::string says;
    std::size_t maxReplyBytes = 0;  // 0: the default limit
  } cases[] = {
      {CannedHttpServer::Response(500, "Internal Server Error", R"({"error": "disk full"})"),
       "failed while handling the request (HTTP 500): disk full"},
      {CannedHttpServer::Response(503, "Service Unavailable", R"({"error": "store busy"})"),
       "cannot take the request now: store busy"},
      {CannedHttpServer::Response(413, "Payload Too Large", R"({"error": "over 8 MB"})", true),
       "The request is too large for the forms server: over 8 MB"},
      {CannedHttpServer::Response(404, "Not Found", "<html>nothing here</html>"),
       "does not answer requests at /v1/messages (HTTP 404): <html>nothing here</html>"},
      {CannedHttpServer::Response(200, "OK", "this is not JSON"),
       "The forms server's reply could not be read"},
      {CannedHttpServer::Response(200, "OK", R"({"request_id": "R1"})"),
       "The forms server's reply could not be read"},
      {CannedHttpServer::Response(200, "OK", std::string(5000, ' ')),
       "reply is larger than 2 KB and was not read", 2048},
  };
  for (const auto& c : cases) {
    CannedHttpServer server(c.response);
    HttpTransport::Options options = CannedOptions(server.Port());
    if (c.maxReplyBytes != 0) options.maxReplyBytes = c.maxReplyBytes;
    HttpTransport transport(options);
    EXPECT_THAT(ErrorOf(transport, Search("A", "C")), HasSubstr(c.says)) << c.response;
  }
}

TEST(HttpTransportCannedTest, AServerThatNeverAnswersRunsOutOfTimeOrIsCancelled) {
  CannedHttpServer server("", /*answer=*/false);
  HttpTransport::Options options = CannedOptions(server.Port());
  options.timeout = std::chrono::milliseconds(300);
  HttpTransport slow(options);
  EXPECT_THAT(ErrorOf(slow, Search("A", "C")), HasSubstr("did not answer within 0.3 seconds"));

  options.timeout = std::chrono::seconds(60);
  HttpTransport cancelled(options);
  auto exchange =
      std::async(std::launch::async, [&] { return ErrorOf(cancelled, Search("A", "C")); });
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (server.Requests().size() < 2 && std::chrono::steady_clock::now() < limit) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  cancelled.Cancel();
  ASSERT_EQ(exchange.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_THAT(exchange.get(), HasSubstr("abandoned because the program is closing"));
  EXPECT_THAT(ErrorOf(cancelled, Search("A", "C")), HasSubstr("abandoned"));
}

TEST_F(HttpTransportTest, TlsVerifiesTheSitesAuthorityAndTheHostNameOverAKeptConnection) {
  TempFolder folder;
  const testing::TestAuthority site(folder.Path(), "site");
  const testing::TestAuthority stranger(folder.Path(), "stranger");
  const auto issued = site.IssueServer("forms-server", {"localhost"});
  server::HttpServerOptions serverOptions;
  serverOptions.tokens = server::TokenTable::FromTokens(
      {{kToken, server::Principal::LocalAdministrator(1001, "Margaret Hartley")}});
  serverOptions.tlsCertificate = issued.certificate;
  serverOptions.tlsKey = issued.key;
  serverOptions.accessLog = folder.Path() / "access.log";
  server::HttpServer secure(sHandler, serverOptions);
  secure.Start();
  ASSERT_TRUE(secure.Secure());

  HttpTransport::Options options = ServerOptions();
  options.caFile = site.CertificateFile();
  options.address = fmt::format("https://localhost:{}", secure.Port());
  {
    HttpTransport trusted(options);
    for (int i = 0; i < 2; ++i) {
      const protocol::Reply reply = trusted.Exchange(Search("A", "C"));
      ASSERT_TRUE(reply.ok) << reply.error;
      EXPECT_EQ(reply.dataSets,
                sHandler->Handle(Search("A", "C"), server::HttpApi::LocalClient()).reply.dataSets);
    }
    EXPECT_EQ(trusted.ConnectionsOpened(), 1u);
  }

  options.caFile = stranger.CertificateFile();
  HttpTransport untrusted(options);
  const std::string refused = ErrorOf(untrusted, Search("A", "C"));
  EXPECT_THAT(refused, HasSubstr("was refused by this workstation: the server's certificate is "
                                 "not trusted (self-signed certificate in certificate chain)"));
  EXPECT_THAT(refused, HasSubstr(stranger.CertificateFile().string()));
  EXPECT_THAT(refused, HasSubstr("Check the server and ca_file settings"));

  options.caFile = site.CertificateFile();
  options.address = fmt::format("https://127.0.0.1:{}", secure.Port());  // not the name
  HttpTransport wrongName(options);
  EXPECT_THAT(ErrorOf(wrongName, Search("A", "C")),
              HasSubstr("the certificate was issued for another host name"));

  options.caFile = folder.Path() / "missing.pem";
  EXPECT_THROW(HttpTransport{options}, PlatformError);

  options.address = fmt::format("http://127.0.0.1:{}", secure.Port());  // plain to a TLS port
  HttpTransport plain(options);
  EXPECT_THAT(ErrorOf(plain, Search("A", "C")), HasSubstr("forms server"));
}

TEST_F(HttpTransportTest, TlsSettingsThatCannotWorkStopTheServerAtStart) {
  TempFolder folder;
  const testing::TestAuthority site(folder.Path(), "site");
  const auto one = site.IssueServer("one", {"localhost"});
  const auto two = site.IssueServer("two", {"localhost"});
  const auto refusal = [&](server::HttpServerOptions options) {
    options.accessLog = folder.Path() / "access.log";
    server::HttpServer server(sHandler, options);
    try {
      server.Start();
    } catch (const server::HttpServerError& e) {
      return std::string(e.what());
    }
    return std::string("started");
  };
  server::HttpServerOptions mismatched;
  mismatched.tlsCertificate = one.certificate;
  mismatched.tlsKey = two.key;
  EXPECT_THAT(refusal(mismatched),
              HasSubstr("two.key cannot be used with the certificate " + one.certificate.string()));
  server::HttpServerOptions halfway;
  halfway.tlsKey = one.key;
  EXPECT_THAT(refusal(halfway), HasSubstr("needs both a certificate"));
}

}  // namespace
}  // namespace fm

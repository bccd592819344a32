#pragma once

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "HttpTestClient.h"
#include "ScreenRequest.h"
#include "TempFolder.h"
#include "protocol/Json.h"
#include "server/handler/RequestHandler.h"
#include "server/http/HttpServer.h"
#include "server/http/TokenFile.h"
#include "server/store/Store.h"
#include "server/testing/ForwardingStore.h"

// What the HTTP tests share: a server over a throw-away inventory with a token per role,
// and the requests and answers they send and read.
namespace fm::server::testing {

constexpr const char* kViewerToken = "viewer-token";  // reads anywhere; its stations are B
constexpr const char* kClerkToken = "clerk-token";    // Margaret Hartley (1001), A1 only
constexpr const char* kAdminToken = "admin-token";

inline protocol::Criterion Key(const std::string& name, const std::string& value,
                               const std::string& op = "=") {
  return {"key:" + name, value, op, "QUILLMAR"};
}

// A request as the screen's message component sends it.
inline protocol::Request Message(std::string id, int type,
                                 std::vector<protocol::Criterion> criteria) {
  return fm::testing::ScreenRequest("FORMSMAINT", std::move(id), type, std::move(criteria));
}

// One change row; null registry or version: the cell is null.
inline protocol::Row ChangeRow(const std::string& action, const std::string& type,
                               std::int64_t from, std::int64_t to, const std::string& troop,
                               const std::string& district, std::optional<std::int64_t> registry,
                               const std::string& status,
                               std::optional<std::int64_t> version = std::nullopt) {
  auto number = [](std::optional<std::int64_t> n) {
    return n ? protocol::Cell{*n} : protocol::Cell{};
  };
  return {action, type, from, to, troop, district, number(registry), status, number(version)};
}

// A save of `rows` (ChangeRow) under the search of `criteria`.
inline protocol::Request Save(std::string id, std::vector<protocol::Row> rows,
                              std::vector<protocol::Criterion> criteria = {}) {
  protocol::Request r = Message(std::move(id), protocol::kSaveRequeryMessage, std::move(criteria));
  using protocol::ColumnType;
  protocol::DataSet set;
  set.columns = {{"ACTION", ColumnType::Text},           {"FORM_TYP_CD", ColumnType::Text},
                 {"FRM_FORM_NBR", ColumnType::Integer},  {"TO_FORM_NBR", ColumnType::Integer},
                 {"TRP_ID", ColumnType::Text},           {"TRP_DIST_ID", ColumnType::Text},
                 {"ASGND_REG_NBR", ColumnType::Integer}, {"TRP_ACTN_CD", ColumnType::Text},
                 {"ROW_VERSION", ColumnType::Integer}};
  set.rows = std::move(rows);
  r.dataSets.emplace(protocol::kTroopFormDataSet, std::move(set));
  return r;
}

// The "error" of a JSON answer, empty when there is none.
inline std::string ErrorText(const HttpReply& reply) {
  const auto body = nlohmann::json::parse(reply.body, nullptr, false);
  return body.is_object() && body.contains("error") ? body["error"].get<std::string>() : "";
}

// The head of a POST to /v1/messages written by hand; `extra` holds more header lines.
inline std::string PostHead(const std::string& token, std::size_t length,
                            const std::string& extra = "") {
  return fmt::format(
      "POST /v1/messages HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer {}\r\n"
      "Content-Type: application/json\r\nContent-Length: {}\r\n{}\r\n",
      token, length, extra);
}

// A store that passes every call to a real one, except that range searches can be held
// at a gate: tests use it to keep a request in flight for as long as they need.
class GateStore : public testing::ForwardingStore {
 public:
  using ForwardingStore::ForwardingStore;

  // From now on FindRanges waits at the gate until Open.
  void Close() {
    std::lock_guard lock(mMutex);
    mClosed = true;
  }
  void Open() {
    std::lock_guard lock(mMutex);
    mClosed = false;
    mChanged.notify_all();
  }
  // Blocks until a search waits at the closed gate.
  void WaitUntilHeld() {
    std::unique_lock lock(mMutex);
    mChanged.wait(lock, [this] { return mHeld > 0; });
  }

  std::vector<StoredRange> FindRanges(const RangeQuery& query) override {
    {
      std::unique_lock lock(mMutex);
      if (mClosed) {
        ++mHeld;
        mChanged.notify_all();
        mChanged.wait(lock, [this] { return !mClosed; });
        --mHeld;
      }
    }
    return ForwardingStore::FindRanges(query);
  }

 private:
  std::mutex mMutex;
  std::condition_variable mChanged;
  bool mClosed = false;
  int mHeld = 0;
};

// The HTTP front on 127.0.0.1 over a fresh SQLite inventory in a folder of its own, its
// searches behind a gate (GateStore) so that a test can hold a request in flight.
class TestServer {
 public:
  explicit TestServer(const std::function<void(Store&)>& load) {
    mStore = std::make_shared<GateStore>(OpenStore("sqlite:" + (Dir() / "inventory.db").string()));
    load(*mStore);
    mHandler = std::make_shared<RequestHandler>(mStore);
  }
  ~TestServer() {
    mStore->Open();
    mServer.reset();
  }

  // A token per role, the access log in the folder, two threads.
  HttpServerOptions Options() const {
    HttpServerOptions options;
    options.tokens = TokenTable::FromTokens(
        {{kViewerToken, {7, "Vera Viewer", Role::Viewer, StationScope::Parse("B")}},
         {kClerkToken, {1001, "Margaret Hartley", Role::Clerk, StationScope::Parse("A1")}},
         {kAdminToken, Principal::LocalAdministrator(1, "Ada Admin")}});
    options.accessLog = Dir() / "access.log";
    options.threads = 2;
    return options;
  }
  void Start(HttpServerOptions options) {
    mServer = std::make_unique<HttpServer>(mHandler, std::move(options));
    mServer->Start();
  }
  void Start() { Start(Options()); }

  unsigned short Port() const { return mServer->Port(); }
  const std::filesystem::path& Dir() const { return mFolder.Path(); }
  GateStore& GetStore() { return *mStore; }
  const std::shared_ptr<RequestHandler>& Handler() const { return mHandler; }
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

  // A fresh client still gets a search answered.
  void ExpectStillServing() {
    HttpTestClient client(Port());
    const auto search =
        Message("still-serving", protocol::kSearchMessage,
                {Key("TRP_ID", "A"), Key("TRP_DIST_ID", "1"), Key("REF_TYP_CD", "C")});
    const HttpReply reply = client.Post(protocol::RequestToJson(search), kViewerToken);
    EXPECT_EQ(reply.status, 200u) << reply.body;
    EXPECT_TRUE(protocol::ReplyFromJson(reply.body).ok) << reply.body;
  }

 private:
  fm::testing::TempFolder mFolder;
  std::shared_ptr<GateStore> mStore;
  std::shared_ptr<RequestHandler> mHandler;
  std::unique_ptr<HttpServer> mServer;
};

}  // namespace fm::server::testing

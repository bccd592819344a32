// HTTP search throughput of formsmaint-server's front: 16 keep-alive connections, each
// sending the screen's search one request after the other, against (in the same run) a bare
// Beast endpoint that answers every request with a fixed body of the same shape and size,
// made up without any database. The ratio of the two is the cost of everything the forms
// server does beyond moving bytes: JSON in and out, the store's search, the hop to the
// handler pool, the access log. More rows split that cost: healthz (the front with almost no
// handler work), and the request handler called directly, by 16 threads and by one (no HTTP
// at all). Two rows have the two take turns in short rounds, for a ratio that the machine's
// drifting load touches alike on both sides: one with the server as it is, one with a store
// answering the search from memory, which leaves the database's share out of the gap.
// Loopback only; every run sends a bounded number of requests.

#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ScreenRequest.h"
#include "protocol/Json.h"
#include "server/handler/RequestHandler.h"
#include "server/http/HttpServer.h"
#include "server/http/TokenFile.h"
#include "server/store/DemoInventory.h"
#include "server/store/Store.h"
#include "server/testing/ForwardingStore.h"

namespace fm::server {
namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

constexpr int kConnections = 16;
constexpr int kRequestsPerConnection = 250;  // per iteration: 4,000 requests
constexpr const char* kToken = "bench-token";

protocol::Request SearchRequest() {
  return fm::testing::ScreenRequest("FORMSMAINT", "bench-search", protocol::kSearchMessage,
                                    fm::testing::StationSearch("A", "1", "C"));
}

// The search's reply made up without any database: the data sets, columns and row counts the
// forms server answers the search with on the demo inventory (8 ranges of station A1, 8
// officers), so the bare endpoint moves about as many bytes per request as the forms server
// (both report reply_bytes) while touching no database.
std::string CannedSearchReply() {
  using protocol::ColumnType;
  protocol::Reply reply;
  reply.requestId = "bench-search";
  reply.identity = "TARVO_FormsMaint#1";
  reply.ok = true;
  protocol::DataSet& ranges = reply.dataSets["TROOPFORM"];
  ranges.columns = {{"TRP_ID", ColumnType::Text},           {"TRP_DIST_ID", ColumnType::Text},
                    {"FORM_TYP_CD", ColumnType::Text},      {"FORM_TYP_DESC", ColumnType::Text},
                    {"FRM_FORM_NBR", ColumnType::Integer},  {"TO_FORM_NBR", ColumnType::Integer},
                    {"ASGND_REG_NBR", ColumnType::Integer}, {"TRP_ACTN_CD", ColumnType::Text},
                    {"RMNG_FORM_CNT", ColumnType::Integer}, {"FORM_QTR_DT", ColumnType::Integer},
                    {"FORM_YR_DT", ColumnType::Integer},    {"TRP_FORM_CMMT_TXT", ColumnType::Text},
                    {"ACTION", ColumnType::Text},           {"ROW_VERSION", ColumnType::Integer}};
  protocol::DataSet& officers = reply.dataSets["OFFICER"];
  officers.columns = {{"DIST_ID", ColumnType::Text},
                      {"SUB_DIST_ID", ColumnType::Text},
                      {"INSP_ID", ColumnType::Integer},
                      {"INSP_DUTY_STRT_DT", ColumnType::Text},
                      {"INSP_DUTY_END_DT", ColumnType::Text},
                      {"INSP_ASSN_DT_UPDT", ColumnType::Text},
                      {"INSP_NME_LST", ColumnType::Text},
                      {"INSP_NME_FRST", ColumnType::Text},
                      {"INSP_NME_MDL_INT", ColumnType::Text},
                      {"USR_RACF_ID", ColumnType::Text},
                      {"ACTION", ColumnType::Text}};
  for (std::int64_t i = 0; i < 8; ++i) {
    const std::int64_t from = 1100001 + i * 250;
    ranges.rows.push_back({std::string("A"), std::string("1"), std::string("C"),
                           std::string("Uniform Traffic Citation"), from, from + 249, 1011 + i,
                           std::string("A"), 250 - i * 17, protocol::Cell{}, protocol::Cell{},
                           protocol::Cell{}, std::string(""), 1 + i});
    officers.rows.push_back({std::string("A"), std::string("1"), 1011 + i,
                             std::string("2015-03-01"), protocol::Cell{}, std::string("2024-01-15"),
                             std::string("Officer") + std::to_string(i), std::string("Pat"),
                             std::string("Q"), fmt::format("TPR{:04}", 11 + i), std::string("")});
  }
  return protocol::ReplyToJson(reply);
}

// The benchmark's one search answered from memory: the ranges and officers the real store
// gave its first search, whatever the query; every other call goes to the real store. A
// forms server over it does all its own work (HTTP, the token, the request's reading, the
// criteria, the reply's writing, the access log) but reads no database, which splits the
// gap to the bare endpoint into the database's part and the rest.
class SnapshotStore : public testing::ForwardingStore {
 public:
  using ForwardingStore::ForwardingStore;

  std::vector<StoredRange> FindRanges(const RangeQuery& query) override {
    std::call_once(mRangesRead, [&] { mRanges = Inner().FindRanges(query); });
    return mRanges;
  }
  void ForEachRange(const RangeQuery& query, const RangeVisitor& each) override {
    std::call_once(mRangesRead, [&] { mRanges = Inner().FindRanges(query); });
    for (std::size_t i = 0; i < mRanges.size() && each(mRanges[i], i); ++i) {
    }
  }
  std::vector<Officer> FindOfficers(const OfficerQuery& query) override {
    std::call_once(mOfficersRead, [&] { mOfficers = Inner().FindOfficers(query); });
    return mOfficers;
  }

 private:
  std::once_flag mRangesRead;
  std::once_flag mOfficersRead;
  std::vector<StoredRange> mRanges;
  std::vector<Officer> mOfficers;
};

// The demo inventory in a throw-away SQLite file, the handler over it, and the forms
// server on a free loopback port; built once for the whole run.
struct Fixture {
  std::filesystem::path dir;
  std::shared_ptr<Store> store;
  std::shared_ptr<RequestHandler> handler;
  std::unique_ptr<HttpServer> server;
  std::unique_ptr<HttpServer> memoryServer;  // the same front over SnapshotStore
  std::string searchBody;
  std::string searchReply;  // what the server answers to the search

  Fixture() {
    dir = std::filesystem::temp_directory_path() / fmt::format("fm-http-bench-{}", getpid());
    std::filesystem::create_directories(dir);
    store = OpenStore("sqlite:" + (dir / "inventory.db").string());
    LoadDemoInventory(*store);
    handler = std::make_shared<RequestHandler>(store);
    HttpServerOptions options;
    options.tokens =
        TokenTable::FromTokens({{kToken, Principal::LocalAdministrator(1001, "Margaret Hartley")}});
    options.accessLog = dir / "access.log";
    server = std::make_unique<HttpServer>(handler, options);
    server->Start();
    options.accessLog = dir / "access-memory.log";
    auto fromMemory = std::make_shared<RequestHandler>(std::make_shared<SnapshotStore>(store));
    fromMemory->Handle(SearchRequest(), HttpApi::LocalClient());  // the snapshot is taken here
    memoryServer = std::make_unique<HttpServer>(fromMemory, options);
    memoryServer->Start();
    searchBody = protocol::RequestToJson(SearchRequest());
    searchReply =
        protocol::ReplyToJson(handler->Handle(SearchRequest(), HttpApi::LocalClient()).reply);
  }
  ~Fixture() {
    server->Stop();
    memoryServer->Stop();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

// A minimal asynchronous Beast endpoint: reads each request and answers the fixed body.
class BareEndpoint {
 public:
  explicit BareEndpoint(std::string body) : mBody(std::move(body)) {
    mAcceptor.open(tcp::v4());
    mAcceptor.set_option(net::socket_base::reuse_address(true));
    mAcceptor.bind(tcp::endpoint(net::ip::make_address("127.0.0.1"), 0));
    mAcceptor.listen();
    Accept();
    mThread = std::thread([this] { mIo.run(); });
  }
  ~BareEndpoint() {
    net::post(mIo, [this] { mIo.stop(); });
    mThread.join();
  }
  unsigned short Port() const { return mAcceptor.local_endpoint().port(); }

 private:
  class Session : public std::enable_shared_from_this<Session> {
   public:
    Session(tcp::socket&& socket, const std::string& body)
        : mStream(std::move(socket)), mBody(body) {}
    void Read() {
      mRequest = {};
      http::async_read(mStream, mBuffer, mRequest,
                       [self = shared_from_this()](beast::error_code ec, std::size_t) {
                         if (!ec) self->Write();
                       });
    }

   private:
    void Write() {
      mResponse = {};
      mResponse.result(http::status::ok);
      mResponse.version(11);
      mResponse.set(http::field::content_type, "application/json");
      mResponse.body() = mBody;
      mResponse.keep_alive(mRequest.keep_alive());
      mResponse.prepare_payload();
      http::async_write(mStream, mResponse,
                        [self = shared_from_this()](beast::error_code ec, std::size_t) {
                          if (!ec) self->Read();
                        });
    }
    beast::tcp_stream mStream;
    beast::flat_buffer mBuffer;
    http::request<http::string_body> mRequest;
    http::response<http::string_body> mResponse;
    const std::string& mBody;
  };

  void Accept() {
    mAcceptor.async_accept(net::make_strand(mIo), [this](beast::error_code ec, tcp::socket s) {
      if (ec) return;
      std::make_shared<Session>(std::move(s), mBody)->Read();
      Accept();
    });
  }

  const std::string mBody;
  net::io_context mIo;
  tcp::acceptor mAcceptor{mIo};
  std::thread mThread;
};

// One keep-alive client connection sending a prepared request again and again.
class Client {
 public:
  Client(unsigned short port, std::string rawRequest) : mRequest(std::move(rawRequest)) {
    mSocket.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port));
  }
  // Sends the request `count` times; answers the number of 200 answers.
  int Run(int count) {
    int ok = 0;
    for (int i = 0; i < count; ++i) {
      net::write(mSocket, net::buffer(mRequest));
      http::response<http::string_body> response;
      http::read(mSocket, mBuffer, response);
      ok += response.result_int() == 200 ? 1 : 0;
    }
    return ok;
  }

 private:
  net::io_context mIo;
  tcp::socket mSocket{mIo};
  beast::flat_buffer mBuffer;
  std::string mRequest;
};

std::string RawRequest(const std::string& method, const std::string& target,
                       const std::string& body) {
  std::string raw = fmt::format("{} {} HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer {}\r\n",
                                method, target, kToken);
  if (!body.empty()) {
    raw += fmt::format("Content-Type: application/json\r\nContent-Length: {}\r\n", body.size());
  }
  return raw + "\r\n" + body;
}

// Requests a second of each row, for the ratio printed after the run.
std::atomic<double> gFormsSearchRate{0};
std::atomic<double> gBareRate{0};

double CpuSeconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// One round: its wall time, and the CPU time the servers of this process spent in it (the
// process's CPU time less what the client threads used). Unlike the rate, the CPU time a
// request costs the server hardly moves with the machine's other load.
struct Round {
  double seconds = -1;  // negative: a request was not answered 200
  double serverCpu = 0;
};

// Each client sends `perClient` requests, all at once.
Round TimeRound(std::vector<std::unique_ptr<Client>>& clients, int perClient) {
  std::atomic<int> ok{0};
  std::atomic<double> clientCpu{0};
  const double cpuBefore = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
  auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (auto& client : clients) {
    threads.emplace_back([&, c = client.get()] {
      const double mine = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
      ok += c->Run(perClient);
      const double used = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - mine;
      for (double seen = clientCpu; !clientCpu.compare_exchange_weak(seen, seen + used);) {
      }
    });
  }
  for (auto& t : threads) t.join();
  Round round;
  if (ok != static_cast<int>(clients.size()) * perClient) return round;
  round.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  round.serverCpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuBefore - clientCpu;
  return round;
}

std::vector<std::unique_ptr<Client>> Connect(unsigned short port, const std::string& raw) {
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < kConnections; ++i) clients.push_back(std::make_unique<Client>(port, raw));
  return clients;
}

void DriveConnections(benchmark::State& state, unsigned short port, const std::string& raw,
                      std::atomic<double>* rate) {
  auto clients = Connect(port, raw);
  long total = 0;
  double seconds = 0;
  for (auto _ : state) {
    const Round round = TimeRound(clients, kRequestsPerConnection);
    if (round.seconds < 0) {
      state.SkipWithError("a request was not answered 200");
      return;
    }
    seconds += round.seconds;
    total += kConnections * kRequestsPerConnection;
  }
  state.SetItemsProcessed(total);
  state.counters["connections"] = kConnections;
  if (rate != nullptr && seconds > 0) *rate = static_cast<double>(total) / seconds;
}

void BM_FormsServerSearch(benchmark::State& state) {
  Fixture& f = Shared();
  DriveConnections(state, f.server->Port(), RawRequest("POST", "/v1/messages", f.searchBody),
                   &gFormsSearchRate);
  state.counters["reply_bytes"] = static_cast<double>(f.searchReply.size());
  fm::protocol::Reply reply = fm::protocol::ReplyFromJson(f.searchReply);
  state.counters["reply_rows"] = static_cast<double>(reply.dataSets["TROOPFORM"].rows.size());
  state.counters["officer_rows"] = static_cast<double>(reply.dataSets["OFFICER"].rows.size());
}

// No forms server, store or database runs: the baseline is Beast moving the same bytes.
void BM_BareBeastFixedBody(benchmark::State& state) {
  const std::string body = CannedSearchReply();
  BareEndpoint bare(body);
  DriveConnections(state, bare.Port(),
                   RawRequest("POST", "/v1/messages", protocol::RequestToJson(SearchRequest())),
                   &gBareRate);
  state.counters["reply_bytes"] = static_cast<double>(body.size());
}

// The ratio again, with the two servers taking turns in short rounds: on a shared machine
// the load drifts between two benchmarks run one after the other, and alternating rounds
// puts both under the same drift.
void Interleave(benchmark::State& state, const HttpServer& server) {
  Fixture& f = Shared();
  BareEndpoint bare(CannedSearchReply());
  const std::string raw = RawRequest("POST", "/v1/messages", f.searchBody);
  auto forms = Connect(server.Port(), raw);
  auto baseline = Connect(bare.Port(), raw);
  constexpr int kPerRound = 50;
  double formsSeconds = 0;
  double bareSeconds = 0;
  double formsCpu = 0;
  double bareCpu = 0;
  long requests = 0;
  for (auto _ : state) {
    const Round a = TimeRound(forms, kPerRound);
    const Round b = TimeRound(baseline, kPerRound);
    if (a.seconds < 0 || b.seconds < 0) {
      state.SkipWithError("a request was not answered 200");
      return;
    }
    formsSeconds += a.seconds;
    bareSeconds += b.seconds;
    formsCpu += a.serverCpu;
    bareCpu += b.serverCpu;
    requests += kConnections * kPerRound;
  }
  // Equal request counts on both sides: the ratio of rates is the inverse ratio of times.
  if (formsSeconds > 0) state.counters["forms_over_bare"] = bareSeconds / formsSeconds;
  if (requests > 0) {
    state.counters["forms_server_cpu_us"] = formsCpu / requests * 1e6;
    state.counters["bare_server_cpu_us"] = bareCpu / requests * 1e6;
  }
  state.counters["connections"] = kConnections;
}

void BM_SearchVsBareInterleaved(benchmark::State& state) { Interleave(state, *Shared().server); }

// The same, the forms server answering from memory: what is left of the gap without the
// database is the cost of the server's own work.
void BM_SearchWithoutDatabaseVsBareInterleaved(benchmark::State& state) {
  Interleave(state, *Shared().memoryServer);
}

void BM_FormsServerHealthz(benchmark::State& state) {
  Fixture& f = Shared();
  DriveConnections(state, f.server->Port(), RawRequest("GET", "/healthz", ""), nullptr);
}

// The same searches without HTTP: 16 threads calling the handler as the front does (the
// request read from its text, the reply written into a buffer reused from call to call).
void BM_HandlerDirectSearch(benchmark::State& state) {
  Fixture& f = Shared();
  const std::string body = protocol::RequestToJson(SearchRequest());
  long total = 0;
  for (auto _ : state) {
    std::vector<std::thread> threads;
    for (int i = 0; i < kConnections; ++i) {
      threads.emplace_back([&] {
        std::string reply;
        for (int n = 0; n < kRequestsPerConnection; ++n) {
          f.handler->HandleToJson(protocol::RequestFromJson(body), HttpApi::LocalClient(), reply);
          benchmark::DoNotOptimize(reply.data());
        }
      });
    }
    for (auto& t : threads) t.join();
    total += kConnections * kRequestsPerConnection;
  }
  state.SetItemsProcessed(total);
}

// The handler's own CPU time per search, one call after the other on one thread: what any
// front, however cheap, adds the bare endpoint's cost to.
void BM_HandlerOneThreadSearch(benchmark::State& state) {
  Fixture& f = Shared();
  const std::string body = protocol::RequestToJson(SearchRequest());
  std::string reply;
  for (auto _ : state) {
    f.handler->HandleToJson(protocol::RequestFromJson(body), HttpApi::LocalClient(), reply);
    benchmark::DoNotOptimize(reply.data());
  }
}

BENCHMARK(BM_FormsServerSearch)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareBeastFixedBody)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchVsBareInterleaved)->Iterations(40)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchWithoutDatabaseVsBareInterleaved)
    ->Iterations(40)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FormsServerHealthz)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HandlerDirectSearch)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HandlerOneThreadSearch)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace fm::server

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  double forms = fm::server::gFormsSearchRate;
  double bare = fm::server::gBareRate;
  if (forms > 0 && bare > 0) {
    fmt::print(
        "search over HTTP, formsmaint-server / bare Beast endpoint: {:.0f} / {:.0f} "
        "requests/s = {:.3f}\n",
        forms, bare, forms / bare);
  }
  benchmark::Shutdown();
  return 0;
}

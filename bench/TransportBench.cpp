// The message component end to end: a request built as the screen builds it, converted,
// carried by a transport on the worker thread, answered, its reply turned into record sets,
// filed in the reply store and announced with DataReady on the user-interface thread.
//
//   RecordRange/Embedded   request 34 with one "ADD" row of 5,000 forms, then the requery of
//                          the station: what the clerk waits for after "Save" in New Forms.
//                          Each range is withdrawn again after its save (not timed), so
//                          every requery answers the same rows; p50 and p99 of the saves.
//   RecordRange/Handler    the same save handed straight to the server's request handler:
//                          the floor the component's own work is measured against.
//   Search/Embedded        request 33 for one Troop/District and form type.
//   Search/Http            the same search through the HTTP transport and a real server on
//                          the loopback (one kept connection).
//   Search/Canned          the same search answered at once by a transport holding the
//                          reply: the component's own share (thread hops, record sets).
//   Search/Handler         the same search straight to the handler.

#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <spdlog/spdlog.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Latencies.h"
#include "platform/DataSet.h"
#include "platform/MessageComponent.h"
#include "platform/QueueEventLoop.h"
#include "platform/Recordset.h"
#include "platform/ReplyStore.h"
#include "platform/Services.h"
#include "server/handler/RequestHandler.h"
#include "server/http/HttpServer.h"
#include "server/store/ReferenceData.h"
#include "server/store/Store.h"
#include "transport/EmbeddedTransport.h"
#include "transport/HttpTransport.h"
#include "transport/MessageTransport.h"
#include "transport/RecordsetWire.h"
#include "transport/TransportMessageComponent.h"

namespace {

constexpr std::int64_t kRangeSize = 5000;
constexpr const char* kIdentity = "SCR.TARVO_FormsMaint#1";
constexpr const char* kFormType = "Y";  // ten-digit numbers: room for every iteration
// Whom the handler's own requests act for, as the embedded transport's do.
const fm::server::Principal kActor = fm::server::Principal::LocalAdministrator(1001, "Bench");

// The document's side: counts the replies announced to it.
class CountingListener final : public fm::MessageListener {
 public:
  void OnDataReady(const std::string&) override { ++mReplies; }
  void OnMsgTimeout(long) override { ++mTimeouts; }
  long mReplies = 0;
  long mTimeouts = 0;
};

// One embedded inventory (the demo) for the run, in a temporary folder removed at exit, and
// the process's services as the desktop sets them up: a real event loop, a reply store.
class Bench {
 public:
  static Bench& Get() {
    static Bench instance;
    return instance;
  }

  ~Bench() {
    mServer.reset();
    mComponent->RemoveListener(&mListener);
    mComponent.reset();
    mEmbedded.reset();
    fm::Services::Reset();
    std::error_code ec;
    std::filesystem::remove_all(mFolder, ec);
  }

  fm::server::Store& Store() { return mEmbedded->Open(); }
  const fm::server::ReferenceData& Reference() { return Store().Reference(); }

  // Sends through the component and runs the event loop until its DataReady; answers the
  // request id. Aborts the run on a failed reply: a figure for failures is no figure.
  std::string SendAndWait(fm::MessageRequest& request) { return SendAndWait(request, mListener); }
  std::string SendAndWait(fm::MessageRequest& request, const CountingListener& listener) {
    const long before = listener.mReplies;
    request.Send();
    while (listener.mReplies == before) mLoop->WaitAndProcess(std::chrono::seconds(30));
    const std::string error = fm::Services::Replies()->Error(kIdentity, request.RequestId());
    if (!error.empty()) {
      fmt::print(stderr, "request failed: {}\n", error);
      std::abort();
    }
    return request.RequestId();
  }

  fm::TransportMessageComponent& Embedded() { return *mComponent; }

  fm::TransportMessageComponent& Http() {
    if (!mHttpComponent) {
      fm::server::HttpServerOptions options;
      options.accessLog = mFolder / "access.log";
      mServer = std::make_unique<fm::server::HttpServer>(mHandler, options);
      mServer->Start();
      fm::HttpTransport::Options client;
      client.address = fmt::format("http://127.0.0.1:{}", mServer->Port());
      mHttpComponent = fm::TransportMessageComponent::Create(
          std::make_shared<fm::HttpTransport>(client), {std::chrono::seconds(30), 1001});
      mHttpComponent->AddListener(&mListener);
    }
    return *mHttpComponent;
  }

  fm::server::RequestHandler& Handler() { return *mHandler; }
  const CountingListener& Listener() const { return mListener; }

 private:
  Bench() {
    spdlog::set_level(spdlog::level::warn);  // one "rows applied" line per save otherwise
    std::string pattern =
        (std::filesystem::temp_directory_path() / "fm-transport-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    mFolder = pattern;
    fm::Services::Reset();
    fm::Services::SetEventLoop(mLoop);
    fm::EmbeddedTransport::Options options;
    options.inventoryFile = mFolder / "inventory.db";
    mEmbedded = std::make_shared<fm::EmbeddedTransport>(options);
    mComponent = fm::TransportMessageComponent::Create(mEmbedded, {std::chrono::seconds(30), 1001});
    mComponent->AddListener(&mListener);
    mEmbedded->Open();  // creates the demo inventory
    // The handler the HTTP server and the baselines use: the same inventory file.
    mHandler = std::make_shared<fm::server::RequestHandler>(
        fm::server::OpenStore("sqlite:" + options.inventoryFile.string()));
  }

  std::filesystem::path mFolder;
  std::shared_ptr<fm::QueueEventLoop> mLoop = std::make_shared<fm::QueueEventLoop>();
  std::shared_ptr<fm::EmbeddedTransport> mEmbedded;
  std::shared_ptr<fm::TransportMessageComponent> mComponent;
  std::shared_ptr<fm::server::RequestHandler> mHandler;
  std::unique_ptr<fm::server::HttpServer> mServer;
  std::shared_ptr<fm::TransportMessageComponent> mHttpComponent;
  CountingListener mListener;
};

void AddCriteria(fm::MessageRequest& request, const std::string& troop, const std::string& district,
                 const std::string& formType) {
  request.AddCriterion("key:TRP_ID", troop, "=", "FORMSMAINT");
  if (!district.empty()) request.AddCriterion("key:TRP_DIST_ID", district, "=", "FORMSMAINT");
  request.AddCriterion("key:REF_TYP_CD", formType, "=", "FORMSMAINT");
  request.AddCriterion("key:INACTIVE", "N", "=", "FORMSMAINT");
  request.AddCriterion("key:TRP_ACTN_CD", "V", "<>", "FORMSMAINT");
  request.AddCriterion("key:THIN", "YES", "=", "FORMSMAINT");
}

std::unique_ptr<fm::MessageRequest> NewRequest(fm::MessageComponent& component, std::int16_t type) {
  auto request = component.CreateRequest();
  request->SetIdentity(kIdentity);
  request->SetVersion("1.0");
  request->SetRequesterValue("FORMSMAINT");
  request->SetMessageType(type);
  return request;
}

// The next free range of kRangeSize forms above everything stored, always at one station;
// Withdraw takes it out again, so the station's requery keeps its size run after run.
class RangeSource {
 public:
  explicit RangeSource(Bench& bench) : mBench(bench) {
    const auto& station = bench.Reference().Districts().front();
    mTroop = station.troop;
    mDistrict = station.id;
    mNext = bench.Reference().FindFormType(kFormType)->lowest;
    fm::server::RangeQuery query;
    query.formType.push_back({fm::server::Comparison::Equal, kFormType});
    for (const auto& stored : bench.Store().FindRanges(query)) {
      mNext = std::max(mNext, stored.range.to + 1);
    }
  }

  std::shared_ptr<fm::DataSet> Next(std::string& troop, std::string& district) {
    troop = mTroop;
    district = mDistrict;
    auto rows = std::make_shared<fm::DataSet>();
    rows->SetSource("TROOPFORM");
    rows->Open();
    fm::Recordset& rs = rows->GetRecordset();
    rs.AddNew();
    rs.SetValue("TRP_ID", troop);
    rs.SetValue("TRP_DIST_ID", district);
    rs.SetValue("FORM_TYP_CD", kFormType);
    rs.SetValue("FRM_FORM_NBR", std::to_string(mNext));
    rs.SetValue("TO_FORM_NBR", std::to_string(mNext + kRangeSize - 1));
    rs.SetValue("ASGND_REG_NBR", "0");
    rs.SetValue("TRP_ACTN_CD", "A");
    rs.SetValue("FORM_QTR_DT", "3");
    rs.SetValue("FORM_YR_DT", "2024");
    rs.SetValue("ACTION", "ADD");
    rs.Update();
    mLast = mNext;
    mNext += kRangeSize;
    return rows;
  }

  // Takes the range of the last Next out of the inventory.
  void WithdrawLast() {
    mBench.Store().Withdraw({fmt::format("withdraw-{}-{}", ::getpid(), mLast), "bench", 1001},
                            kFormType, mLast, mLast + kRangeSize - 1, "benchmark run");
  }

 private:
  Bench& mBench;
  std::string mTroop;
  std::string mDistrict;
  std::int64_t mNext = 0;
  std::int64_t mLast = 0;
};

using fm::bench::Latencies;

void BM_RecordRange_Embedded(benchmark::State& state) {
  Bench& bench = Bench::Get();
  RangeSource ranges(bench);
  Latencies latencies;
  long rows = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    std::string troop;
    std::string district;
    auto request = NewRequest(bench.Embedded(), 34);
    request->AttachDataSet(ranges.Next(troop, district), "TROOPFORM");
    AddCriteria(*request, troop, district, kFormType);
    const std::string id = bench.SendAndWait(*request);
    latencies.Add(std::chrono::steady_clock::now() - start);
    rows += fm::Services::Replies()->Get("TROOPFORM", kIdentity, id)->RecordCount();
    state.PauseTiming();
    ranges.WithdrawLast();
    state.ResumeTiming();
  }
  state.counters["reply_rows"] =
      benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kAvgIterations);
  latencies.Report(state);
}
BENCHMARK(BM_RecordRange_Embedded)->Unit(benchmark::kMillisecond)->Iterations(300);

void BM_RecordRange_Handler(benchmark::State& state) {
  Bench& bench = Bench::Get();
  RangeSource ranges(bench);
  Latencies latencies;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    std::string troop;
    std::string district;
    fm::protocol::Request request;
    request.requestId = fm::NewRequestId();
    request.identity = kIdentity;
    request.version = "1.0";
    request.requester = "FORMSMAINT";
    request.userId = 1001;
    request.messageType = 34;
    request.dataSets.emplace("TROOPFORM",
                             fm::ToWireDataSet(ranges.Next(troop, district)->GetRecordset()));
    request.criteria = {{"key:TRP_ID", troop, "=", "FORMSMAINT"},
                        {"key:TRP_DIST_ID", district, "=", "FORMSMAINT"},
                        {"key:REF_TYP_CD", kFormType, "=", "FORMSMAINT"},
                        {"key:INACTIVE", "N", "=", "FORMSMAINT"},
                        {"key:TRP_ACTN_CD", "V", "<>", "FORMSMAINT"},
                        {"key:THIN", "YES", "=", "FORMSMAINT"}};
    auto reply = bench.Handler().Handle(request, kActor).reply;
    latencies.Add(std::chrono::steady_clock::now() - start);
    if (!reply.ok) state.SkipWithError(reply.error.c_str());
    benchmark::DoNotOptimize(reply);
    state.PauseTiming();
    ranges.WithdrawLast();
    state.ResumeTiming();
  }
  latencies.Report(state);
}
BENCHMARK(BM_RecordRange_Handler)->Unit(benchmark::kMillisecond)->Iterations(300);

void SearchThrough(benchmark::State& state, fm::TransportMessageComponent& component,
                   const CountingListener& listener) {
  Bench& bench = Bench::Get();
  long rows = 0;
  for (auto _ : state) {
    auto request = NewRequest(component, 33);
    AddCriteria(*request, "A", "1", "C");
    const std::string id = bench.SendAndWait(*request, listener);
    rows += fm::Services::Replies()->Get("TROOPFORM", kIdentity, id)->RecordCount();
  }
  state.counters["reply_rows"] =
      benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kAvgIterations);
}

void BM_Search_Embedded(benchmark::State& state) {
  SearchThrough(state, Bench::Get().Embedded(), Bench::Get().Listener());
}
BENCHMARK(BM_Search_Embedded)->Unit(benchmark::kMicrosecond);

void BM_Search_Http(benchmark::State& state) {
  SearchThrough(state, Bench::Get().Http(), Bench::Get().Listener());
}
BENCHMARK(BM_Search_Http)->Unit(benchmark::kMicrosecond);

// A transport that answers at once with a reply built in advance (the search's own): what
// is left is the component's share, the hop to the worker and back and the record sets.
class CannedTransport final : public fm::MessageTransport {
 public:
  explicit CannedTransport(fm::protocol::Reply reply) : mReply(std::move(reply)) {}
  fm::protocol::Reply Exchange(const fm::protocol::Request& request) override {
    fm::protocol::Reply reply = mReply;
    reply.requestId = request.requestId;
    return reply;
  }

 private:
  fm::protocol::Reply mReply;
};

void BM_Search_Canned(benchmark::State& state) {
  Bench& bench = Bench::Get();
  fm::protocol::Request search;
  search.requestId = "canned";
  search.identity = kIdentity;
  search.version = "1.0";
  search.messageType = 33;
  search.criteria = {
      {"key:TRP_ID", "A", "=", "FORMSMAINT"},       {"key:TRP_DIST_ID", "1", "=", "FORMSMAINT"},
      {"key:REF_TYP_CD", "C", "=", "FORMSMAINT"},   {"key:INACTIVE", "N", "=", "FORMSMAINT"},
      {"key:TRP_ACTN_CD", "V", "<>", "FORMSMAINT"}, {"key:THIN", "YES", "=", "FORMSMAINT"}};
  auto component = fm::TransportMessageComponent::Create(
      std::make_shared<CannedTransport>(bench.Handler().Handle(search, kActor).reply),
      {std::chrono::seconds(30), 1001});
  CountingListener listener;
  component->AddListener(&listener);
  SearchThrough(state, *component, listener);
  component->RemoveListener(&listener);
}
BENCHMARK(BM_Search_Canned)->Unit(benchmark::kMicrosecond);

void BM_Search_Handler(benchmark::State& state) {
  Bench& bench = Bench::Get();
  fm::protocol::Request request;
  request.identity = kIdentity;
  request.version = "1.0";
  request.requester = "FORMSMAINT";
  request.userId = 1001;
  request.messageType = 33;
  request.criteria = {
      {"key:TRP_ID", "A", "=", "FORMSMAINT"},       {"key:TRP_DIST_ID", "1", "=", "FORMSMAINT"},
      {"key:REF_TYP_CD", "C", "=", "FORMSMAINT"},   {"key:INACTIVE", "N", "=", "FORMSMAINT"},
      {"key:TRP_ACTN_CD", "V", "<>", "FORMSMAINT"}, {"key:THIN", "YES", "=", "FORMSMAINT"}};
  for (auto _ : state) {
    request.requestId = fm::NewRequestId();
    auto reply = bench.Handler().Handle(request, kActor).reply;
    if (!reply.ok) state.SkipWithError(reply.error.c_str());
    benchmark::DoNotOptimize(reply);
  }
}
BENCHMARK(BM_Search_Handler)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

// From the Search click to the first 40 rows' computed cells, for a search answered with
// 10,000 ranges, with nothing left out of the timing: the request built and carried, the
// server's query, its JSON (over HTTP), the transport, the decoding into record sets, the
// reply filed and announced, the grid bound and its first 40 rows computed with their
// look-ups (officer name, form-type and status descriptions).
//
//   ClickToFirstRows/Embedded     the desktop's default: the server's handler in-process
//   ClickToFirstRows/Http         formsmaint-server on 127.0.0.1, one kept connection
//   ClickToFirstRowsNewDocument/* the same for a document's first search (officer set read)
//
// The rest splits the same path into its parts, so a change can be placed:
//   ServerSearch        the request handler's search alone (server time, both transports)
//   ServerReplyJson     the server writing the reply's JSON (server time, HTTP only)
//   DecodeReply/Json    client: reply text -> protocol reply -> record sets (HTTP)
//   DecodeReply/JsonTree  the same through the general JSON-tree reader, for the ratio
//   DecodeReply/Wire    client: protocol reply -> record sets (cells copied)
//   DecodeReply/WireTaken  the same as the embedded transport does it: texts moved, the
//                       reply's remains freed
//
// Goal: 50 ms from click to rows, embedded and over HTTP; decoding at most 1 µs a row.

#include <benchmark/benchmark.h>
#include <fmt/format.h>
#include <spdlog/spdlog.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "HeadlessServices.h"
#include "controls/CodesCombo.h"
#include "controls/DataGrid.h"
#include "controls/TextBox.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/QueueEventLoop.h"
#include "platform/Recordset.h"
#include "platform/Services.h"
#include "protocol/Json.h"
#include "protocol/ReplyReader.h"
#include "server/handler/RequestHandler.h"
#include "server/http/HttpServer.h"
#include "server/store/ReferenceData.h"
#include "server/store/Store.h"
#include "transport/EmbeddedTransport.h"
#include "transport/HttpTransport.h"
#include "transport/RecordsetWire.h"
#include "transport/TransportMessageComponent.h"

namespace {

// Whom the handler's own requests act for, as the embedded transport's do.
const fm::server::Principal kActor = fm::server::Principal::LocalAdministrator(1001, "Bench");

constexpr std::size_t kReplyRanges = 10000;
constexpr long kRowsOnScreen = 40;
constexpr auto kReplyLimit = std::chrono::seconds(60);

// Every range of the inventory at one station and of one form type, so one search answers
// them all: a troop's inventory as the busiest stations hold it, in every status a search
// shows, two ranges in three assigned to the station's officers in turn.
std::vector<fm::server::FormRange> TenThousandRanges(const fm::server::ReferenceData& reference) {
  std::vector<std::int64_t> officers;
  for (const auto& officer : reference.Officers()) {
    if (officer.troop == "C" && officer.district == "4" && officer.dutyEnd.empty()) {
      officers.push_back(officer.registry);
    }
  }
  if (officers.empty()) std::abort();
  static const std::array<const char*, 5> kStatuses = {"A", "A", "A", "R", "L"};
  const std::int64_t lowest = reference.FindFormType("C")->lowest;
  std::vector<fm::server::FormRange> ranges;
  for (std::size_t i = 0; i < kReplyRanges; ++i) {
    fm::server::FormRange range;
    range.formType = "C";
    range.from = lowest + static_cast<std::int64_t>(i) * 80;
    range.to = range.from + 49;
    range.troop = "C";
    range.district = "4";
    range.registry = i % 3 == 2 ? fm::server::kNoOfficer : officers[i % officers.size()];
    range.status = kStatuses[i % kStatuses.size()];
    range.remaining = 50 - static_cast<std::int64_t>(i % 50);
    if (i % 7 == 0) range.comment = fmt::format("Received from supply, carton {}", i);
    ranges.push_back(std::move(range));
  }
  return ranges;
}

fm::protocol::Request StationSearch() {
  fm::protocol::Request request;
  request.requestId = "bench-search";
  request.identity = "SCR.TARVO_FormsMaint#1";
  request.version = "1.0";
  request.requester = "FORMSMAINT";
  request.userId = 1001;
  request.messageType = fm::protocol::kSearchMessage;
  auto key = [](const char* name, const char* value, const char* op = "=") {
    return fm::protocol::Criterion{std::string("key:") + name, value, op, "FORMSMAINT"};
  };
  request.criteria = {key("TRP_ID", "C"),   key("TRP_DIST_ID", "4"),       key("REF_TYP_CD", "C"),
                      key("INACTIVE", "N"), key("TRP_ACTN_CD", "V", "<>"), key("THIN", "YES")};
  return request;
}

// The desktop's services over the demo local database and an inventory of 10,000 ranges
// at station C4, with the embedded transport and a forms server on the loopback over the
// same inventory; built once for the run.
class Host {
 public:
  static Host& Get() {
    static Host host;
    return host;
  }

  ~Host() {
    fm::MessageComponent::SetFactory(nullptr);
    mEmbeddedComponent.reset();
    mHttpComponent.reset();
    if (mServer) mServer->Stop();
    mServer.reset();
  }

  std::shared_ptr<fm::QueueEventLoop> loop =
      std::make_shared<fm::QueueEventLoop>(std::make_shared<fm::SteadyClock>());
  fm::bench::HeadlessServices services{"fm-click-bench", loop};
  std::shared_ptr<fm::server::RequestHandler> handler;

  fm::TransportMessageComponent& Embedded() {
    if (!mEmbeddedComponent) {
      fm::EmbeddedTransport::Options options;
      options.inventoryFile = Inventory();
      mEmbeddedComponent = fm::TransportMessageComponent::Create(
          std::make_shared<fm::EmbeddedTransport>(options), {kReplyLimit, 1001});
    }
    return *mEmbeddedComponent;
  }

  fm::TransportMessageComponent& Http() {
    if (!mHttpComponent) {
      fm::server::HttpServerOptions options;
      options.accessLog = services.folder / "access.log";
      mServer = std::make_unique<fm::server::HttpServer>(handler, options);
      mServer->Start();
      fm::HttpTransport::Options client;
      client.address = fmt::format("http://127.0.0.1:{}", mServer->Port());
      mHttpComponent = fm::TransportMessageComponent::Create(
          std::make_shared<fm::HttpTransport>(client), {kReplyLimit, 1001});
    }
    return *mHttpComponent;
  }

  // Runs the user-interface thread's events until the component has no request waiting.
  void AwaitReplies(fm::TransportMessageComponent& component) {
    while (component.PendingCount() > 0) loop->WaitAndProcess(kReplyLimit);
  }

 private:
  Host() {
    spdlog::set_level(spdlog::level::warn);
    auto store = fm::server::OpenStore("sqlite:" + Inventory().string());
    store->LoadInventory(TenThousandRanges(store->Reference()), {"bench", "bench", 0}, false);
    handler = std::make_shared<fm::server::RequestHandler>(store);
  }

  std::filesystem::path Inventory() const { return services.folder / "inventory.db"; }

  std::shared_ptr<fm::TransportMessageComponent> mEmbeddedComponent;
  std::shared_ptr<fm::TransportMessageComponent> mHttpComponent;
  std::unique_ptr<fm::server::HttpServer> mServer;
};

// A document of the screen with the criteria of the station typed in, its message
// component the given one.
std::unique_ptr<fm::TARVO_FormsMaint> StationDocument(fm::TransportMessageComponent& component) {
  fm::MessageComponent::SetFactory(
      [c = component.shared_from_this()]() -> std::shared_ptr<fm::MessageComponent> { return c; });
  auto document = std::make_unique<fm::TARVO_FormsMaint>();
  document->SetParentWindow("Forms Maintenance", "FORMSMAINT");
  document->UserDocument_Show();
  document->txtBox(0).SetText("C4");
  auto& combo = document->qmCboFormTypes;
  for (std::size_t i = 0; i < combo.Entries().size(); ++i) {
    if (combo.Entries()[i].code == "C") combo.SetSelectedIndex(static_cast<int>(i));
  }
  return document;
}

double CpuSeconds(clockid_t clock) {
  timespec now{};
  ::clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}
double ThreadCpuSeconds() { return CpuSeconds(CLOCK_THREAD_CPUTIME_ID); }

// Where a click's time went, summed over the iterations: until the reply was filed and the
// grid bound (DataReady handled), and the first rows' cells after that (wall clock, and the
// user-interface thread's CPU time, which a loaded machine does not inflate). The process's
// CPU time for the whole click counts every thread that worked on it: the user-interface
// thread, the transport's worker and, in this process too, the forms server's threads.
struct Phases {
  double replySeconds = 0;
  double rowsSeconds = 0;
  double rowsCpuSeconds = 0;
  double processCpuSeconds = 0;

  void Report(benchmark::State& state) const {
    const double n = static_cast<double>(state.iterations());
    state.counters["process_cpu_ms"] = processCpuSeconds * 1000 / n;
    state.counters["until_bound_ms"] = replySeconds * 1000 / n;
    state.counters["first_rows_ms"] = rowsSeconds * 1000 / n;
    state.counters["per_row_cpu_us"] = rowsCpuSeconds * 1e6 / n / kRowsOnScreen;
  }
};

void ClickAndShowFirstRows(fm::TARVO_FormsMaint& document, fm::TransportMessageComponent& component,
                           Phases& phases) {
  using Clock = std::chrono::steady_clock;
  const double processCpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
  const auto start = Clock::now();
  document.ProcessCmdButtonSearchClick();
  Host::Get().AwaitReplies(component);
  const auto bound = Clock::now();
  const double cpu = ThreadCpuSeconds();
  document.grdFormsAssignment.LoadRows(0, kRowsOnScreen);
  phases.rowsCpuSeconds += ThreadCpuSeconds() - cpu;
  phases.replySeconds += std::chrono::duration<double>(bound - start).count();
  phases.rowsSeconds += std::chrono::duration<double>(Clock::now() - bound).count();
  phases.processCpuSeconds += CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processCpu;
}

void CheckFilled(benchmark::State& state, fm::TARVO_FormsMaint& document) {
  auto& grid = document.grdFormsAssignment;
  if (grid.RowCount() != static_cast<long>(kReplyRanges) ||
      grid.LoadedRowCount() != kRowsOnScreen || grid.CellTextAt(0, "ASSIGNED_TO").empty() ||
      grid.CellTextAt(kRowsOnScreen - 1, "FORM_TYPE").empty() ||
      Host::Get().services.SawTrouble()) {
    state.SkipWithError("the grid was not filled as the screen shows it");
  }
}

void ClickToFirstRows(benchmark::State& state, fm::TransportMessageComponent& component) {
  auto document = StationDocument(component);
  Phases phases;
  for (auto _ : state) ClickAndShowFirstRows(*document, component, phases);
  CheckFilled(state, *document);
  phases.Report(state);
}

void BM_ClickToFirstRows_Embedded(benchmark::State& state) {
  ClickToFirstRows(state, Host::Get().Embedded());
}
BENCHMARK(BM_ClickToFirstRows_Embedded)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ClickToFirstRows_Http(benchmark::State& state) {
  ClickToFirstRows(state, Host::Get().Http());
}
BENCHMARK(BM_ClickToFirstRows_Http)->Unit(benchmark::kMillisecond)->UseRealTime();

// A new document for every search: its officer look-up set is read within the cycle. Only
// making the document (its first show) is outside the timing.
void ClickToFirstRowsNewDocument(benchmark::State& state,
                                 fm::TransportMessageComponent& component) {
  std::unique_ptr<fm::TARVO_FormsMaint> document;
  Phases phases;
  for (auto _ : state) {
    state.PauseTiming();
    if (document) document->BeforeUnload();  // as the host closes it: its replies are dropped
    document.reset();
    document = StationDocument(component);
    state.ResumeTiming();
    ClickAndShowFirstRows(*document, component, phases);
  }
  CheckFilled(state, *document);
  phases.Report(state);
}

void BM_ClickToFirstRowsNewDocument_Embedded(benchmark::State& state) {
  ClickToFirstRowsNewDocument(state, Host::Get().Embedded());
}
BENCHMARK(BM_ClickToFirstRowsNewDocument_Embedded)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ClickToFirstRowsNewDocument_Http(benchmark::State& state) {
  ClickToFirstRowsNewDocument(state, Host::Get().Http());
}
BENCHMARK(BM_ClickToFirstRowsNewDocument_Http)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- The parts

void ReportPerRow(benchmark::State& state) {
  state.counters["per_row"] =
      benchmark::Counter(static_cast<double>(state.iterations() * kReplyRanges),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

fm::protocol::Reply SearchReply() {
  fm::protocol::Reply reply = Host::Get().handler->Handle(StationSearch(), kActor).reply;
  const auto ranges = reply.dataSets.find(fm::protocol::kTroopFormDataSet);
  if (!reply.ok || ranges == reply.dataSets.end() || ranges->second.rows.size() != kReplyRanges) {
    fmt::print(stderr, "the station search did not answer {} ranges: {}\n", kReplyRanges,
               reply.error);
    std::abort();
  }
  return reply;
}

void BM_ServerSearch(benchmark::State& state) {
  SearchReply();
  for (auto _ : state)
    benchmark::DoNotOptimize(Host::Get().handler->Handle(StationSearch(), kActor).reply);
  ReportPerRow(state);
}
BENCHMARK(BM_ServerSearch)->Unit(benchmark::kMillisecond);

void BM_ServerReplyJson(benchmark::State& state) {
  const fm::protocol::Reply reply = SearchReply();
  for (auto _ : state) benchmark::DoNotOptimize(fm::protocol::ReplyToJson(reply));
  ReportPerRow(state);
}
BENCHMARK(BM_ServerReplyJson)->Unit(benchmark::kMillisecond);

void BM_DecodeReply_Json(benchmark::State& state) {
  const std::string text = fm::protocol::ReplyToJson(SearchReply());
  state.counters["reply_bytes"] = static_cast<double>(text.size());
  for (auto _ : state) {
    fm::protocol::Reply reply = fm::protocol::ReplyFromJson(text);
    for (auto& [name, dataSet] : reply.dataSets) {
      benchmark::DoNotOptimize(fm::FromWireDataSet(std::move(dataSet), name));
    }
  }
  ReportPerRow(state);
}
BENCHMARK(BM_DecodeReply_Json)->Unit(benchmark::kMillisecond);

// The general reader (a JSON tree checked member by member), which the direct reader
// stands in front of: the ratio to DecodeReply/Json is what reading directly saves.
void BM_DecodeReply_JsonTree(benchmark::State& state) {
  const std::string text = fm::protocol::ReplyToJson(SearchReply());
  for (auto _ : state) {
    fm::protocol::Reply reply = fm::protocol::detail::ReplyFromJsonTree(text);
    for (auto& [name, dataSet] : reply.dataSets) {
      benchmark::DoNotOptimize(fm::FromWireDataSet(std::move(dataSet), name));
    }
  }
  ReportPerRow(state);
}
BENCHMARK(BM_DecodeReply_JsonTree)->Unit(benchmark::kMillisecond);

void BM_DecodeReply_Wire(benchmark::State& state) {
  const fm::protocol::Reply reply = SearchReply();
  for (auto _ : state) {
    for (const auto& [name, dataSet] : reply.dataSets) {
      benchmark::DoNotOptimize(fm::FromWireDataSet(dataSet, name));
    }
  }
  ReportPerRow(state);
}
BENCHMARK(BM_DecodeReply_Wire)->Unit(benchmark::kMillisecond);

// As the embedded transport's worker does it: the reply taken (texts moved) and its remains
// freed. Only making the reply's copy is not timed.
void BM_DecodeReply_WireTaken(benchmark::State& state) {
  const fm::protocol::Reply reply = SearchReply();
  for (auto _ : state) {
    state.PauseTiming();
    auto taken = std::make_unique<fm::protocol::Reply>(reply);
    state.ResumeTiming();
    for (auto& [name, dataSet] : taken->dataSets) {
      benchmark::DoNotOptimize(fm::FromWireDataSet(std::move(dataSet), name));
    }
    taken.reset();
  }
  ReportPerRow(state);
}
BENCHMARK(BM_DecodeReply_WireTaken)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// overlapping_receipts: clerks receiving overlapping new ranges at the same moment, on
// PostgreSQL, through the HTTP front with as many handler threads as clerks (the server's
// --threads), while another clerk searches a different troop. Not a Google Benchmark: it runs
// a fixed number of rounds and prints what a clerk waits, which is what the form-type locks
// of a save are for (docs/server-store.md): saves of one form type queue behind each other
// instead of waiting for PostgreSQL's deadlock detector to break their cycles.
//
// Each round, every clerk sends one save (type 34 with the screen's requery) of several
// receipts ("ADD" rows); clerk i's block j overlaps the same block of clerks i-1 and i+1, and
// each clerk sends its blocks in another order, so two saves inserting at once wait for each
// other's uncommitted rows (the exclusion constraint) in opposite orders. Exactly the
// receipts that no earlier save took are applied; the others are refused as overlapping.
//
// Prints, per round, the slowest save, and then the saves' and the searches' latencies
// (p50, p99, slowest), how the saves ended, and how many writes the store ran again. Uses
// FM_TEST_PG_URL or starts its own cluster (durable settings), in a schema of its own.
// Options: --clerks (8), --rounds (20), --blocks (3 receipts a save).

#include <fmt/format.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <barrier>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ScreenRequest.h"
#include "ServerBenchCluster.h"
#include "server/handler/RequestHandler.h"
#include "server/http/HttpServer.h"
#include "server/store/DemoInventory.h"
#include "server/store/Store.h"
#include "server/testing/PgDirect.h"
#include "transport/HttpTransport.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kFormType = "B";
constexpr std::int64_t kFirstNumber = 8'000'000'000;  // far above the demo inventory's
constexpr std::int64_t kBlockSize = 100;

// Counts the writes the store ran again (its log line at any level).
class RetryCounter : public spdlog::sinks::base_sink<std::mutex> {
 public:
  std::atomic<int> retries{0}, deadlocks{0};

 protected:
  void sink_it_(const spdlog::details::log_msg& message) override {
    const std::string_view text(message.payload.data(), message.payload.size());
    if (text.find("retrying a write") == std::string_view::npos &&
        text.find("running the write again") == std::string_view::npos) {
      return;
    }
    ++retries;
    if (text.find("deadlock") != std::string_view::npos) ++deadlocks;
  }
  void flush_() override {}
};

fm::protocol::Criterion Key(const char* name, std::string value) {
  return {std::string("key:") + name, std::move(value), "=", "OVERLAP"};
}

fm::protocol::Request Message(std::string id, int type, std::vector<fm::protocol::Criterion> keys) {
  return fm::testing::ScreenRequest("OVERLAP", std::move(id), type, std::move(keys));
}

// Clerk `clerk`'s receipts of round `round`, its blocks starting at another one each.
fm::protocol::Request Receipts(int round, int clerk, int blocks) {
  fm::protocol::Request r = Message(fmt::format("overlap-{}-{}-{}", getpid(), round, clerk),
                                    fm::protocol::kSaveRequeryMessage,
                                    {Key("TRP_ID", "A"), Key("TRP_DIST_ID", "1"),
                                     Key("REF_TYP_CD", kFormType), Key("THIN", "YES")});
  fm::protocol::DataSet rows;
  for (const char* name : {"ACTION", "FRM_FORM_NBR", "TO_FORM_NBR", "TRP_ID", "TRP_DIST_ID",
                           "FORM_TYP_CD", "ASGND_REG_NBR", "TRP_ACTN_CD"}) {
    rows.columns.push_back({name, fm::protocol::ColumnType::Text});
  }
  const std::int64_t base = kFirstNumber + std::int64_t{round} * 1'000'000;
  for (int k = 0; k < blocks; ++k) {
    const int block = (clerk + k) % blocks;
    const std::int64_t from = base + std::int64_t{block} * 10'000 + std::int64_t{clerk} * 50;
    rows.rows.push_back({std::string("ADD"), std::to_string(from),
                         std::to_string(from + kBlockSize - 1), std::string("A"), std::string("1"),
                         std::string(kFormType), std::string("0"), std::string("A")});
  }
  r.dataSets.emplace(fm::protocol::kTroopFormDataSet, std::move(rows));
  return r;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

std::string Figures(const std::vector<double>& ms) {
  return fmt::format("p50 {:.1f} ms, p99 {:.1f} ms, slowest {:.1f} ms", Percentile(ms, 0.5),
                     Percentile(ms, 0.99), Percentile(ms, 1.0));
}

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"overlapping_receipts: clerks receiving overlapping ranges at once, on PostgreSQL"};
  int clerks = 8;
  int rounds = 20;
  int blocks = 3;
  app.add_option("--clerks", clerks, "Clerks saving at once; also the handler threads.")
      ->check(CLI::Range(2, 64))
      ->capture_default_str();
  app.add_option("--rounds", rounds, "Rounds of saves.")
      ->check(CLI::Range(1, 1000))
      ->capture_default_str();
  app.add_option("--blocks", blocks, "Receipts in each save.")
      ->check(CLI::Range(1, 20))
      ->capture_default_str();
  CLI11_PARSE(app, argc, argv);

  auto counter = std::make_shared<RetryCounter>();
  auto logger = std::make_shared<spdlog::logger>("overlap", counter);
  logger->set_level(spdlog::level::debug);
  spdlog::set_default_logger(logger);

  fm::server::bench::BenchCluster cluster;
  if (cluster.Url().empty()) {
    fmt::print(stderr, "overlapping_receipts: {}\n", cluster.Why());
    return 1;
  }
  const std::string schema = fmt::format("overlap_{}", getpid());
  if (auto error = fm::server::testing::RunSql(
          cluster.Url(), fmt::format("CREATE EXTENSION IF NOT EXISTS btree_gist SCHEMA public; "
                                     "CREATE SCHEMA {}",
                                     schema));
      !error.empty()) {
    fmt::print(stderr, "overlapping_receipts: {}\n", error);
    return 1;
  }
  const auto folder = std::filesystem::temp_directory_path() / schema;
  std::filesystem::create_directories(folder);
  int status = 0;
  try {
    fm::server::StoreOptions storeOptions;
    storeOptions.poolSize = static_cast<std::size_t>(clerks) + 2;  // as the server sizes it
    auto store = fm::server::OpenStore(
        fm::server::testing::WithParameter(cluster.Url(), "options=-csearch_path%3D" + schema),
        storeOptions);
    fm::server::LoadDemoInventory(*store);
    fm::server::HttpServerOptions options;
    options.threads = clerks;
    options.accessLog = folder / "access.log";
    fm::server::HttpServer server(std::make_shared<fm::server::RequestHandler>(store), options);
    server.Start();
    auto transport = [&] {
      fm::HttpTransport::Options client;
      client.address = fmt::format("http://127.0.0.1:{}", server.Port());
      client.timeout = std::chrono::minutes(5);  // a stalled save is measured, not cut off
      return std::make_unique<fm::HttpTransport>(client);
    };

    std::mutex mutex;
    std::vector<double> saveMs, searchMs, roundMs(static_cast<std::size_t>(rounds));
    int applied = 0, refused = 0, failed = 0;
    std::string firstRefusal, firstFailure;
    auto fail = [&](const std::exception& e) {
      std::lock_guard lock(mutex);
      if (failed++ == 0) firstFailure = e.what();
    };
    std::barrier start(clerks);
    std::atomic<bool> saving{true};
    std::vector<std::thread> threads;
    for (int clerk = 0; clerk < clerks; ++clerk) {
      threads.emplace_back([&, clerk] {
        auto link = transport();
        for (int round = 0; round < rounds; ++round) {
          const auto request = Receipts(round, clerk, blocks);
          start.arrive_and_wait();
          const auto sent = Clock::now();
          fm::protocol::Reply reply;
          try {
            reply = link->Exchange(request);
          } catch (const std::exception& e) {
            fail(e);
            continue;
          }
          const double ms = MsSince(sent);
          std::lock_guard lock(mutex);
          saveMs.push_back(ms);
          roundMs[static_cast<std::size_t>(round)] =
              std::max(roundMs[static_cast<std::size_t>(round)], ms);
          ++(reply.ok ? applied : refused);
          if (!reply.ok && firstRefusal.empty()) firstRefusal = reply.error;
        }
      });
    }
    std::thread searcher([&] {
      auto link = transport();
      for (int n = 0; saving; ++n) {
        const auto sent = Clock::now();
        try {
          const auto reply = link->Exchange(
              Message(fmt::format("search-{}", n), fm::protocol::kSearchMessage,
                      {Key("TRP_ID", "D"), Key("INACTIVE", "N"), Key("THIN", "YES")}));
          if (!reply.ok) throw std::runtime_error("a search was refused: " + reply.error);
        } catch (const std::exception& e) {
          fail(e);
          continue;
        }
        const double ms = MsSince(sent);
        std::lock_guard lock(mutex);
        searchMs.push_back(ms);
      }
    });
    for (auto& t : threads) t.join();
    saving = false;
    searcher.join();
    server.Stop();

    fmt::print("{} clerks, {} receipts a save, {} rounds, {} handler threads, pool of {}\n", clerks,
               blocks, rounds, options.threads, storeOptions.poolSize);
    for (int round = 0; round < rounds; ++round) {
      fmt::print("round {:2}: slowest save {:.1f} ms\n", round + 1,
                 roundMs[static_cast<std::size_t>(round)]);
    }
    fmt::print("saves: {} ({} applied, {} refused); {}\n", saveMs.size(), applied, refused,
               Figures(saveMs));
    if (!firstRefusal.empty()) fmt::print("  the first refusal: {}\n", firstRefusal);
    fmt::print("searches of another troop meanwhile: {}; {}\n", searchMs.size(), Figures(searchMs));
    fmt::print("writes run again: {} ({} after a deadlock)\n", counter->retries.load(),
               counter->deadlocks.load());
    if (failed > 0) {
      fmt::print(stderr, "overlapping_receipts: {} exchanges failed; the first: {}\n", failed,
                 firstFailure);
      status = 1;
    }
  } catch (const std::exception& e) {
    fmt::print(stderr, "overlapping_receipts: {}\n", e.what());
    status = 1;
  }
  fm::server::testing::RunSql(cluster.Url(), fmt::format("DROP SCHEMA {} CASCADE", schema));
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return status;
}

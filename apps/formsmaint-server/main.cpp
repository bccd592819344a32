// formsmaint-server: the central forms server. Opens the inventory store, optionally
// creates its schema or loads an inventory, and answers the screen's requests over HTTP
// until SIGTERM or SIGINT (docs/protocol.md describes the endpoints).

#include <fmt/format.h>
#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "platform/SiteSettings.h"
#include "server/DemoInventory.h"
#include "server/RequestHandler.h"
#include "server/Store.h"
#include "server/StoreError.h"
#include "server/http/HttpServer.h"
#include "server/http/HttpServerError.h"
#include "server/http/TokenFile.h"

namespace {

constexpr const char* kDefaultListen = "127.0.0.1:8750";

// A setting the operator has to correct; main prints it and exits with status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Listen {
  std::string address;
  unsigned short port = 0;
};

// "ADDRESS:PORT", an IPv6 address in brackets ("[::1]:8750").
Listen ParseListen(const std::string& text) {
  std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
    throw UsageError(fmt::format(
        "--listen \"{}\": give ADDRESS:PORT, for example 127.0.0.1:8750 or [::1]:8750", text));
  }
  Listen listen;
  listen.address = text.substr(0, colon);
  if (listen.address.front() == '[' && listen.address.back() == ']') {
    listen.address = listen.address.substr(1, listen.address.size() - 2);
  }
  const std::string portText = text.substr(colon + 1);
  unsigned long port = 0;
  std::size_t used = 0;
  try {
    port = std::stoul(portText, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != portText.size() || port > 65535 ||
      portText.find_first_not_of("0123456789") != std::string::npos) {
    throw UsageError(fmt::format("--listen \"{}\": the port \"{}\" is not a number from 0 to 65535",
                                 text, portText));
  }
  listen.port = static_cast<unsigned short>(port);
  return listen;
}

std::string DefaultDatabase() {
  return "sqlite:" + (fm::SiteSettings::DefaultDataDirectory() / "server.db").string();
}

// The folder of a SQLite file is created, so a first start in a fresh account works.
void PrepareDatabaseFolder(const std::string& address) {
  if (address.rfind("sqlite:", 0) != 0) return;
  std::filesystem::path folder = std::filesystem::path(address.substr(7)).parent_path();
  if (folder.empty()) return;
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    throw UsageError(
        fmt::format("the database folder {} cannot be created: {}", folder.string(), ec.message()));
  }
}

void WarnIfReadableByOthers(const std::filesystem::path& file) {
  std::error_code ec;
  auto permissions = std::filesystem::status(file, ec).permissions();
  if (!ec && (permissions & std::filesystem::perms::others_read) != std::filesystem::perms::none) {
    spdlog::warn(
        "the token file {} can be read by every user of this host; restrict it "
        "(chmod 600)",
        file.string());
  }
}

// Blocks SIGTERM and SIGINT in this thread and every thread started after, so that only
// the sigwait below receives them and the server's threads are never interrupted.
sigset_t BlockStopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  return signals;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "formsmaint-server: the central forms server. Keeps the inventory of form ranges and "
      "answers the forms-maintenance screen's search (33) and save-with-requery (34) requests "
      "over HTTP/JSON (POST /v1/messages; GET /v1/history, GET /healthz)."};
  std::string database = DefaultDatabase();
  std::string listenText = kDefaultListen;
  std::string tokenFile;
  bool createSchema = false;
  bool loadDemo = false;
  std::optional<std::size_t> generate;
  std::uint64_t seed = 1;
  bool serve = false;
  int threads = 4;
  int ioThreads = 1;
  std::string accessLog;
  std::uint64_t bodyLimit = 8 * 1024 * 1024;
  unsigned readTimeout = 30;
  unsigned idleTimeout = 60;
  std::size_t maxConnections = 1024;
  std::string region = "NORTH";
  std::string logLevel = "info";

  app.add_option("--database", database,
                 "The inventory store: sqlite:PATH (the file is created when missing) or a "
                 "PostgreSQL URL (postgresql://USER@HOST:PORT/DB). Schema migrations run on "
                 "open.")
      ->capture_default_str();
  app.add_option("--listen", listenText,
                 "ADDRESS:PORT to answer on; an IPv6 address in brackets ([::1]:8750). Without "
                 "a token file only a loopback address is allowed.")
      ->capture_default_str();
  app.add_option("--token-file", tokenFile,
                 "File of the bearer tokens clients must send (one per line; blank lines and "
                 "lines starting with # are skipped). Without it no token is asked for.")
      ->check(CLI::ExistingFile);
  app.add_flag("--create-schema", createSchema,
               "Create or migrate the database's schema and reference data, then exit.");
  app.add_flag("--load-demo", loadDemo,
               "Load the demo inventory (about 3,000 ranges over every form type) into an "
               "empty store, then exit unless --serve is given.");
  app.add_option("--generate", generate,
                 "Load N generated ranges (a large inventory for benchmarks) into an empty "
                 "store, then exit unless --serve is given.")
      ->check(CLI::Range(std::size_t{1}, std::size_t{100'000'000}));
  app.add_option("--seed", seed, "Seed of --generate (the same seed gives the same ranges).")
      ->capture_default_str();
  app.add_flag("--serve", serve, "Serve after --load-demo or --generate.");
  app.add_option("--threads", threads, "Threads answering requests (store calls).")
      ->check(CLI::Range(1, 256))
      ->capture_default_str();
  app.add_option("--io-threads", ioThreads, "Threads doing network input and output.")
      ->check(CLI::Range(1, 64))
      ->capture_default_str();
  app.add_option("--access-log", accessLog,
                 "File the access log is appended to (one line per request: time, peer, method, "
                 "target, status, bytes, duration). Default: standard error.");
  app.add_option("--body-limit", bodyLimit,
                 "Largest request body accepted; larger ones are answered 413. A size such as "
                 "8MiB, 512KiB or 1000000.")
      ->transform(CLI::AsSizeValue(false))
      ->capture_default_str();
  app.add_option("--read-timeout", readTimeout,
                 "Seconds a request may take to arrive in full (and a response to be taken).")
      ->check(CLI::Range(1u, 3600u))
      ->capture_default_str();
  app.add_option("--idle-timeout", idleTimeout,
                 "Seconds an idle keep-alive connection is kept open.")
      ->check(CLI::Range(1u, 86400u))
      ->capture_default_str();
  app.add_option("--max-connections", maxConnections,
                 "Connections open at once; more are answered 503.")
      ->check(CLI::Range(std::size_t{1}, std::size_t{100000}))
      ->capture_default_str();
  app.add_option("--region", region,
                 "Region whose reference data (form types, stations, officers) a new database "
                 "receives.")
      ->capture_default_str();
  app.add_option("--log-level", logLevel, "Level of the server log on standard error.")
      ->check(CLI::IsMember({"trace", "debug", "info", "warn", "error", "off"}))
      ->capture_default_str();
  CLI11_PARSE(app, argc, argv);

  // The server's own log goes to standard error (spdlog's default is standard output).
  spdlog::set_default_logger(spdlog::stderr_color_mt("formsmaint-server"));
  spdlog::set_level(spdlog::level::from_str(logLevel));
  try {
    if (createSchema && (loadDemo || generate || serve)) {
      throw UsageError("--create-schema runs alone: it migrates the schema and exits");
    }
    if (loadDemo && generate) {
      throw UsageError("--load-demo and --generate both fill an empty store; give one of them");
    }
    if (bodyLimit == 0) throw UsageError("--body-limit must be above 0");

    fm::server::HttpServerOptions options;
    if (!createSchema) {
      // Settings are checked before the store is touched, so a mistake costs no migration.
      Listen listen = ParseListen(listenText);
      options.address = listen.address;
      options.port = listen.port;
      if (!tokenFile.empty()) {
        options.tokens = fm::server::ReadTokenFile(tokenFile);
        if (options.tokens.empty()) {
          throw UsageError(fmt::format("the token file {} holds no token", tokenFile));
        }
        WarnIfReadableByOthers(tokenFile);
      } else if (!fm::server::IsLoopbackAddress(options.address)) {
        throw UsageError(fmt::format(
            "refusing to listen on {} without bearer tokens: give --token-file, or listen on a "
            "loopback address such as 127.0.0.1",
            options.address));
      }
      options.threads = threads;
      options.ioThreads = ioThreads;
      options.accessLog = accessLog;
      options.bodyLimit = static_cast<std::size_t>(bodyLimit);
      options.readTimeout = std::chrono::seconds(readTimeout);
      options.writeTimeout = std::chrono::seconds(readTimeout);
      options.idleTimeout = std::chrono::seconds(idleTimeout);
      options.maxConnections = maxConnections;
    }

    PrepareDatabaseFolder(database);
    fm::server::StoreOptions storeOptions;
    storeOptions.region = region;
    storeOptions.poolSize = static_cast<std::size_t>(threads) + 2;
    auto store = fm::server::OpenStore(database, storeOptions);
    spdlog::info("store {} ({}), schema version {}, {} ranges", database, store->BackendName(),
                 store->SchemaVersion(), store->RangeCount());
    if (createSchema) return 0;

    if (loadDemo) {
      std::size_t count = fm::server::LoadDemoInventory(*store);
      spdlog::info("loaded the demo inventory: {} ranges", count);
    } else if (generate) {
      std::size_t count = fm::server::LoadLargeInventory(*store, *generate, seed);
      spdlog::info("loaded a generated inventory: {} ranges (seed {})", count, seed);
    }
    if ((loadDemo || generate) && !serve) return 0;

    std::signal(SIGPIPE, SIG_IGN);  // a client that hangs up is an error code, not a death
    sigset_t stopSignals = BlockStopSignals();
    auto handler = std::make_shared<fm::server::RequestHandler>(store);
    fm::server::HttpServer server(handler, options);
    server.Start();
    spdlog::info("listening on http://{} ({}; {} handler threads)", server.Endpoint(),
                 options.tokens.empty() ? "no token asked" : "bearer tokens required", threads);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    spdlog::info("{}: finishing the requests in flight, then stopping",
                 signal == SIGTERM ? "SIGTERM" : "SIGINT");
    server.Stop();
    spdlog::info("stopped");
    return 0;
  } catch (const UsageError& e) {
    spdlog::error("{}", e.what());
    return 2;
  } catch (const fm::server::HttpServerError& e) {
    spdlog::error("{}", e.what());
    return 1;
  } catch (const fm::server::StoreError& e) {
    spdlog::error("{}", e.what());
    return 1;
  } catch (const std::exception& e) {
    spdlog::error("unexpected failure: {}", e.what());
    return 1;
  }
}

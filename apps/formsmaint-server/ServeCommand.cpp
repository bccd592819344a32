#include "ServeCommand.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "server/DemoInventory.h"
#include "server/RequestHandler.h"
#include "server/Store.h"
#include "server/http/HttpServer.h"
#include "server/http/TokenFile.h"

namespace fm::server::cli {

namespace {

constexpr const char* kDefaultListen = "127.0.0.1:8750";

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

struct ServeSettings {
  StoreSelection store;
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
};

}  // namespace

CommandRun AddServeOptions(CLI::App& app) {
  auto s = std::make_shared<ServeSettings>();
  AddStoreOptions(app, s->store);
  app.add_option("--listen", s->listenText,
                 "ADDRESS:PORT to answer on; an IPv6 address in brackets ([::1]:8750). Without "
                 "a token file only a loopback address is allowed.")
      ->capture_default_str();
  app.add_option("--token-file", s->tokenFile,
                 "File of the bearer tokens clients must send (one per line; blank lines and "
                 "lines starting with # are skipped). Without it no token is asked for.")
      ->check(CLI::ExistingFile);
  app.add_flag("--create-schema", s->createSchema,
               "Create or migrate the database's schema and reference data, then exit.");
  app.add_flag("--load-demo", s->loadDemo,
               "Load the demo inventory (about 3,000 ranges over every form type) into an "
               "empty store, then exit unless --serve is given.");
  app.add_option("--generate", s->generate,
                 "Load N generated ranges (a large inventory for benchmarks) into an empty "
                 "store, then exit unless --serve is given.")
      ->check(CLI::Range(std::size_t{1}, std::size_t{100'000'000}));
  app.add_option("--seed", s->seed, "Seed of --generate (the same seed gives the same ranges).")
      ->capture_default_str();
  app.add_flag("--serve", s->serve, "Serve after --load-demo or --generate.");
  app.add_option("--threads", s->threads, "Threads answering requests (store calls).")
      ->check(CLI::Range(1, 256))
      ->capture_default_str();
  app.add_option("--io-threads", s->ioThreads, "Threads doing network input and output.")
      ->check(CLI::Range(1, 64))
      ->capture_default_str();
  app.add_option("--access-log", s->accessLog,
                 "File the access log is appended to (one line per request: time, peer, method, "
                 "target, status, bytes, duration). Default: standard error.");
  app.add_option("--body-limit", s->bodyLimit,
                 "Largest request body accepted; larger ones are answered 413. A size such as "
                 "8MiB, 512KiB or 1000000.")
      ->transform(CLI::AsSizeValue(false))
      ->capture_default_str();
  app.add_option("--read-timeout", s->readTimeout,
                 "Seconds a request may take to arrive in full (and a response to be taken).")
      ->check(CLI::Range(1u, 3600u))
      ->capture_default_str();
  app.add_option("--idle-timeout", s->idleTimeout,
                 "Seconds an idle keep-alive connection is kept open.")
      ->check(CLI::Range(1u, 86400u))
      ->capture_default_str();
  app.add_option("--max-connections", s->maxConnections,
                 "Connections open at once; more are answered 503.")
      ->check(CLI::Range(std::size_t{1}, std::size_t{100000}))
      ->capture_default_str();
  return [s]() -> int {
    if (s->createSchema && (s->loadDemo || s->generate || s->serve)) {
      throw UsageError("--create-schema runs alone: it migrates the schema and exits");
    }
    if (s->loadDemo && s->generate) {
      throw UsageError("--load-demo and --generate both fill an empty store; give one of them");
    }
    if (s->bodyLimit == 0) throw UsageError("--body-limit must be above 0");

    HttpServerOptions options;
    if (!s->createSchema) {
      // Settings are checked before the store is touched, so a mistake costs no migration.
      Listen listen = ParseListen(s->listenText);
      options.address = listen.address;
      options.port = listen.port;
      if (!s->tokenFile.empty()) {
        options.tokens = ReadTokenFile(s->tokenFile);
        if (options.tokens.empty()) {
          throw UsageError(fmt::format("the token file {} holds no token", s->tokenFile));
        }
        WarnIfReadableByOthers(s->tokenFile);
      } else if (!IsLoopbackAddress(options.address)) {
        throw UsageError(fmt::format(
            "refusing to listen on {} without bearer tokens: give --token-file, or listen on a "
            "loopback address such as 127.0.0.1",
            options.address));
      }
      options.threads = s->threads;
      options.ioThreads = s->ioThreads;
      options.accessLog = s->accessLog;
      options.bodyLimit = static_cast<std::size_t>(s->bodyLimit);
      options.readTimeout = std::chrono::seconds(s->readTimeout);
      options.writeTimeout = std::chrono::seconds(s->readTimeout);
      options.idleTimeout = std::chrono::seconds(s->idleTimeout);
      options.maxConnections = s->maxConnections;
    }

    s->store.poolSize = static_cast<std::size_t>(s->threads) + 2;
    auto store = OpenSelectedStore(s->store);
    if (s->createSchema) return 0;

    if (s->loadDemo) {
      std::size_t count = LoadDemoInventory(*store);
      spdlog::info("loaded the demo inventory: {} ranges", count);
    } else if (s->generate) {
      std::size_t count = LoadLargeInventory(*store, *s->generate, s->seed);
      spdlog::info("loaded a generated inventory: {} ranges (seed {})", count, s->seed);
    }
    if ((s->loadDemo || s->generate) && !s->serve) return 0;

    std::signal(SIGPIPE, SIG_IGN);  // a client that hangs up is an error code, not a death
    sigset_t stopSignals = BlockStopSignals();
    auto handler = std::make_shared<RequestHandler>(store);
    HttpServer server(handler, options);
    server.Start();
    spdlog::info("listening on http://{} ({}; {} handler threads)", server.Endpoint(),
                 options.tokens.empty() ? "no token asked" : "bearer tokens required", s->threads);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    spdlog::info("{}: finishing the requests in flight, then stopping",
                 signal == SIGTERM ? "SIGTERM" : "SIGINT");
    server.Stop();
    spdlog::info("stopped");
    return 0;
  };
}

}  // namespace fm::server::cli

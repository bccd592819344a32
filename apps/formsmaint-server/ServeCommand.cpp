#include "ServeCommand.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "UsageCommand.h"
#include "server/handler/RequestHandler.h"
#include "server/http/HttpServer.h"
#include "server/http/TokenFile.h"
#include "server/store/DemoInventory.h"
#include "server/store/GeneratedHistory.h"
#include "server/store/Store.h"

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

// Blocks SIGTERM, SIGINT and SIGHUP in this thread and every thread started after, so that
// only the sigwait below receives them and the server's threads are never interrupted.
sigset_t BlockServerSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  return signals;
}

// The token table of the token file; a file holding no token is refused at start (a server
// nobody can use is a mistake), but accepted on a re-read (every token revoked).
std::shared_ptr<const TokenTable> ReadTokens(const std::string& file, bool atStart) {
  auto table = std::make_shared<const TokenTable>(ReadTokenFile(file));
  if (table->Size() == 0) {
    if (atStart) {
      throw UsageError(
          fmt::format("the token file {} holds no token; add one with "
                      "formsmaint-server token add",
                      file));
    }
    spdlog::warn("the token file {} holds no token: every request is refused now", file);
  }
  WarnIfReadableByOthers(file);
  return table;
}

// SIGHUP: the token file is read anew, so added tokens work and revoked ones stop working
// without a restart. A file that cannot be read keeps the tokens in force.
void ReloadTokens(HttpServer& server, const std::string& file) {
  if (file.empty()) {
    spdlog::warn(
        "SIGHUP: the server was started without a token file; there is nothing to "
        "read again");
    return;
  }
  try {
    auto table = ReadTokens(file, false);
    server.ReplaceTokens(table);
    spdlog::info("SIGHUP: read the token file {} again: {} tokens", file, table->Size());
  } catch (const std::exception& e) {
    spdlog::error("SIGHUP: {}; the tokens read before stay in force", e.what());
  }
}

struct ServeSettings {
  StoreSelection store;
  std::string listenText = kDefaultListen;
  std::string tokenFile;
  bool createSchema = false;
  bool loadDemo = false;
  std::optional<std::size_t> generate;
  std::uint64_t seed = 1;
  int years = HistoryOptions{}.years;
  std::size_t rowsPerSave = HistoryOptions{}.rowsPerSave;
  std::size_t countsPerYear = HistoryOptions{}.countsPerYear;
  bool serve = false;
  int threads = 4;
  int ioThreads = 1;
  std::string accessLog;
  std::uint64_t bodyLimit = std::uint64_t{8} * 1024 * 1024;
  unsigned readTimeout = 30;
  unsigned idleTimeout = 60;
  std::size_t maxConnections = 1024;
  std::uint64_t bodyBudget = std::uint64_t{64} * 1024 * 1024;
  std::uint64_t chunkedReplyAbove = std::uint64_t{256} * 1024;
  std::uint64_t replyChunk = std::uint64_t{64} * 1024;
  std::size_t maxRequestIdLength = 64;
  std::size_t maxCriteria = 64;
  std::size_t maxTextLength = 256;
  std::size_t maxRows = 10000;
  std::string tlsCertificate;
  std::string tlsKey;
  bool insecureBehindProxy = false;
  UsageLimits usage;
  int countDueDays = RequestHandlerOptions{}.countDueDays;
  std::size_t maxCountLines = RequestHandlerOptions{}.maxCountLines;
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
                 "File of the hashes of the bearer tokens clients must send, each with its user, "
                 "role and stations (written by the token command). Read again on SIGHUP. "
                 "Without it no token is asked for, on a loopback address only.")
      ->check(CLI::ExistingFile);
  app.add_option("--tls-cert", s->tlsCertificate,
                 "Certificate chain (PEM) to speak TLS with (1.2 at least); needs --tls-key.")
      ->check(CLI::ExistingFile);
  app.add_option("--tls-key", s->tlsKey, "Private key (PEM) of --tls-cert.")
      ->check(CLI::ExistingFile);
  app.add_flag("--insecure-behind-proxy", s->insecureBehindProxy,
               "Listen on a non-loopback address without TLS, because a TLS-terminating proxy "
               "is the only way in. Logs a warning at start.");
  app.add_flag("--create-schema", s->createSchema,
               "Create or migrate the database's schema and reference data, then exit.");
  app.add_flag("--load-demo", s->loadDemo,
               "Load the demo inventory (about 3,000 ranges over every form type) into an "
               "empty store, then exit unless --serve is given.");
  app.add_option("--generate", s->generate,
                 "Fill an empty store with --years of generated work ending at today's UTC "
                 "midnight (loads, receipts, assignments, splits, uses, voids, moves, "
                 "withdrawals, counts) that leaves about N ranges, then exit unless --serve is "
                 "given.")
      ->check(CLI::Range(std::size_t{1}, std::size_t{100'000'000}));
  app.add_option("--seed", s->seed,
                 "Seed of --generate (the same seed on the same day gives the same store).")
      ->capture_default_str();
  app.add_option("--years", s->years, "Years of work --generate writes, a month at a time.")
      ->check(CLI::Range(1, 50))
      ->capture_default_str();
  app.add_option("--rows-per-save", s->rowsPerSave,
                 "Most change rows one save of --generate carries.")
      ->check(CLI::Range(std::size_t{2}, std::size_t{100000}))
      ->capture_default_str();
  app.add_option("--counts-per-year", s->countsPerYear,
                 "Physical counts (one station and form type each) --generate certifies a year.")
      ->check(CLI::Range(std::size_t{0}, std::size_t{1000}))
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
  app.add_option("--body-budget", s->bodyBudget,
                 "Bytes of request bodies received or handled at once, all connections "
                 "together; a request past it is answered 503 with Retry-After. At least "
                 "--body-limit. A size such as 64MiB.")
      ->transform(CLI::AsSizeValue(false))
      ->capture_default_str();
  app.add_option("--chunked-reply-above", s->chunkedReplyAbove,
                 "Replies larger than this go to HTTP/1.1 clients with chunked transfer "
                 "encoding, one chunk at a time. A size such as 256KiB.")
      ->transform(CLI::AsSizeValue(false))
      ->capture_default_str();
  app.add_option("--reply-chunk", s->replyChunk,
                 "Largest chunk of a chunked reply. A size such as 64KiB.")
      ->transform(CLI::AsSizeValue(false))
      ->capture_default_str();
  app.add_option("--max-request-id-length", s->maxRequestIdLength,
                 "Longest request id (visible ASCII characters); longer ones are answered 422.")
      ->check(CLI::Range(std::size_t{8}, std::size_t{1024}))
      ->capture_default_str();
  app.add_option("--max-criteria", s->maxCriteria,
                 "Most criteria one request may carry; more are answered 422.")
      ->check(CLI::Range(std::size_t{1}, std::size_t{1000}))
      ->capture_default_str();
  app.add_option("--max-text-length", s->maxTextLength,
                 "Longest text of a request outside its data sets (identity, version, "
                 "requester, a criterion's key, value, operator, application); longer ones are "
                 "answered 422.")
      ->check(CLI::Range(std::size_t{32}, std::size_t{65536}))
      ->capture_default_str();
  app.add_option("--max-rows", s->maxRows,
                 "Most rows the data sets of one request may carry; more are answered 422.")
      ->check(CLI::Range(std::size_t{1}, std::size_t{1000000}))
      ->capture_default_str();
  AddUsageLimitOptions(app, s->usage);
  app.add_option("--count-due-days", s->countDueDays,
                 "Days after a station's last certified physical count before the next is due; "
                 "the stock report says when one is overdue.")
      ->check(CLI::Range(1, 3650))
      ->capture_default_str();
  app.add_option("--max-count-lines", s->maxCountLines,
                 "Most numbers or spans one entry or import of counted numbers may hold.")
      ->check(CLI::Range(std::size_t{1}, std::size_t{10000000}))
      ->capture_default_str();
  return [s]() -> int {
    if (s->createSchema && (s->loadDemo || s->generate || s->serve)) {
      throw UsageError("--create-schema runs alone: it migrates the schema and exits");
    }
    if (s->loadDemo && s->generate) {
      throw UsageError("--load-demo and --generate both fill an empty store; give one of them");
    }
    if (s->bodyLimit == 0) throw UsageError("--body-limit must be above 0");
    if (s->chunkedReplyAbove == 0 || s->replyChunk == 0) {
      throw UsageError("--chunked-reply-above and --reply-chunk must be above 0");
    }

    HttpServerOptions options;
    if (!s->createSchema) {
      // Settings are checked before the store is touched, so a mistake costs no migration.
      Listen listen = ParseListen(s->listenText);
      options.address = listen.address;
      options.port = listen.port;
      if (!s->tokenFile.empty()) {
        options.tokens = ReadTokens(s->tokenFile, true);
      } else if (!IsLoopbackAddress(options.address)) {
        throw UsageError(fmt::format(
            "refusing to listen on {} without bearer tokens: give --token-file, or listen on a "
            "loopback address such as 127.0.0.1",
            options.address));
      }
      if (s->tlsCertificate.empty() != s->tlsKey.empty()) {
        throw UsageError(
            "--tls-cert and --tls-key go together: give the certificate and its "
            "private key");
      }
      if (!IsLoopbackAddress(options.address) && s->tlsCertificate.empty() &&
          !s->insecureBehindProxy) {
        throw UsageError(
            fmt::format("refusing to listen on {} without TLS: give --tls-cert and --tls-key, or "
                        "--insecure-behind-proxy when a TLS-terminating proxy is the only way in",
                        options.address));
      }
      options.tlsCertificate = s->tlsCertificate;
      options.tlsKey = s->tlsKey;
      options.insecureBehindProxy = s->insecureBehindProxy;
      if (s->bodyBudget < s->bodyLimit) {
        throw UsageError(
            fmt::format("--body-budget ({} bytes) must be at least --body-limit ({} "
                        "bytes)",
                        s->bodyBudget, s->bodyLimit));
      }
      options.bodyBudget = static_cast<std::size_t>(s->bodyBudget);
      options.limits.requestIdLength = s->maxRequestIdLength;
      options.limits.criteria = s->maxCriteria;
      options.limits.textLength = s->maxTextLength;
      options.limits.rows = s->maxRows;
      options.threads = s->threads;
      options.ioThreads = s->ioThreads;
      options.accessLog = s->accessLog;
      options.bodyLimit = static_cast<std::size_t>(s->bodyLimit);
      options.readTimeout = std::chrono::seconds(s->readTimeout);
      options.writeTimeout = std::chrono::seconds(s->readTimeout);
      options.idleTimeout = std::chrono::seconds(s->idleTimeout);
      options.maxConnections = s->maxConnections;
      options.chunkedReplyAbove = static_cast<std::size_t>(s->chunkedReplyAbove);
      options.replyChunkBytes = static_cast<std::size_t>(s->replyChunk);
    }

    s->store.poolSize = static_cast<std::size_t>(s->threads) + 2;
    auto store = OpenSelectedStore(s->store);
    if (s->createSchema) return 0;

    if (s->loadDemo) {
      std::size_t count = LoadDemoInventory(*store);
      spdlog::info("loaded the demo inventory: {} ranges", count);
    } else if (s->generate) {
      HistoryOptions history;
      history.ranges = *s->generate;
      history.years = s->years;
      history.seed = s->seed;
      history.rowsPerSave = s->rowsPerSave;
      history.countsPerYear = s->countsPerYear;
      StoreOptions generating;
      generating.region = s->store.region;
      generating.poolSize = 2;
      generating.sqliteCacheMiB = s->store.sqliteCacheMiB;
      generating.sqliteMmapMiB = s->store.sqliteMmapMiB;
      const auto began = std::chrono::steady_clock::now();
      const GeneratedHistory g = GenerateHistory(s->store.database, generating, history);
      spdlog::info(
          "generated {} years of work (seed {}) in {:.1f} s: {} ranges held, {} loaded, {} "
          "saves of {} rows ({} receipts, {} assignments with {} splits, {} voids, {} "
          "delistings, {} moves, {} returns), {} withdrawals, {} uses, {} counts",
          history.years, history.seed,
          std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count(), g.ranges,
          g.loaded, g.saves, g.rows, g.receipts, g.assignments, g.splits, g.voids, g.delistings,
          g.moves, g.returns, g.withdrawals, g.uses, g.counts);
    }
    if ((s->loadDemo || s->generate) && !s->serve) return 0;

    std::signal(SIGPIPE, SIG_IGN);  // a client that hangs up is an error code, not a death
    sigset_t signals = BlockServerSignals();
    RequestHandlerOptions handlerOptions;
    handlerOptions.usage = s->usage;
    handlerOptions.countDueDays = s->countDueDays;
    handlerOptions.maxCountLines = s->maxCountLines;
    auto handler = std::make_shared<RequestHandler>(store, handlerOptions);
    HttpServer server(handler, options);
    server.Start();
    spdlog::info("listening on {}://{} ({}; {} handler threads)",
                 server.Secure() ? "https" : "http", server.Endpoint(),
                 options.tokens ? "bearer tokens required"
                                : "no token asked: every local client acts as an admin",
                 s->threads);

    int signal = 0;
    for (;;) {
      sigwait(&signals, &signal);
      if (signal != SIGHUP) break;
      ReloadTokens(server, s->tokenFile);
    }
    spdlog::info("{}: finishing the requests in flight, then stopping",
                 signal == SIGTERM ? "SIGTERM" : "SIGINT");
    server.Stop();
    spdlog::info("stopped");
    return 0;
  };
}

}  // namespace fm::server::cli

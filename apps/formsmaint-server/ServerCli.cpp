#include "ServerCli.h"

#include <fmt/format.h>
#include <pwd.h>
#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <system_error>

#include "base/DelimitedText.h"
#include "base/FileReplace.h"
#include "localdata/LocalData.h"
#include "server/http/HttpServerError.h"
#include "server/store/Store.h"
#include "server/store/StoreError.h"

namespace fm::server::cli {

namespace {

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

}  // namespace

void AddLogLevelOption(CLI::App& app, std::string& level) {
  app.add_option("--log-level", level, "Level of the server log on standard error.")
      ->check(CLI::IsMember({"trace", "debug", "info", "warn", "error", "off"}))
      ->capture_default_str();
}

void StartLog(const std::string& level) {
  // spdlog's default is standard output, which a one-shot command keeps for its answer.
  spdlog::set_default_logger(spdlog::stderr_color_mt("formsmaint-server"));
  spdlog::set_level(spdlog::level::from_str(level));
}

std::string DefaultDatabase() {
  return "sqlite:" + (fm::local_data::DefaultDataDirectory() / "server.db").string();
}

void AddStoreOptions(CLI::App& command, StoreSelection& selection) {
  if (selection.database.empty()) selection.database = DefaultDatabase();
  command
      .add_option("--database", selection.database,
                  "The inventory store: sqlite:PATH (the file is created when missing) or a "
                  "PostgreSQL URL (postgresql://USER@HOST:PORT/DB). Schema migrations run on "
                  "open.")
      ->capture_default_str();
  command
      .add_option("--region", selection.region,
                  "Region whose reference data (form types, stations, officers) a new database "
                  "receives.")
      ->capture_default_str();
  command
      .add_option("--sqlite-cache-mib", selection.sqliteCacheMiB,
                  "SQLite's page cache of each of the store's connections, in MiB (filled only "
                  "as the store's pages are read; PostgreSQL ignores it).")
      ->check(CLI::Range(1, 65536))
      ->capture_default_str();
  command
      .add_option("--sqlite-mmap-mib", selection.sqliteMmapMiB,
                  "How much of the SQLite file each connection reads through a memory map, in "
                  "MiB (0: none; SQLite maps at most its build's limit, 2048 for Debian's). "
                  "Faster large reports; the mapped pages count in the resident memory, and a "
                  "disk error under one stops the process. PostgreSQL ignores it.")
      ->check(CLI::Range(0, 65536))
      ->capture_default_str();
}

std::shared_ptr<Store> OpenSelectedStore(const StoreSelection& selection) {
  PrepareDatabaseFolder(selection.database);
  StoreOptions options;
  options.region = selection.region;
  options.poolSize = selection.poolSize;
  options.sqliteCacheMiB = selection.sqliteCacheMiB;
  options.sqliteMmapMiB = selection.sqliteMmapMiB;
  auto store = OpenStore(selection.database, options);
  spdlog::info("store {} ({}), schema version {}, {} ranges", selection.database,
               store->BackendName(), store->SchemaVersion(), store->RangeCount());
  return store;
}

std::string AccountName() {
  if (const passwd* entry = ::getpwuid(::geteuid()); entry && entry->pw_name) {
    return entry->pw_name;
  }
  return fmt::format("uid {}", ::geteuid());
}

std::string CsvText(const std::vector<std::vector<std::string>>& records) {
  std::ostringstream out;
  CsvWriter csv(out);
  for (const auto& record : records) csv.WriteRecord(record);
  return out.str();
}

void WriteCommandOutput(const std::string& output, const std::string& text) {
  if (output.empty()) {
    std::cout << text << std::flush;
    return;
  }
  try {
    files::ReplaceFile(output, text);
  } catch (const std::system_error& e) {
    throw UsageError(e.what());
  }
}

int RunReportingFailures(const CommandRun& run) {
  try {
    return run();
  } catch (const UsageError& e) {
    spdlog::error("{}", e.what());
    return 2;
  } catch (const HttpServerError& e) {
    spdlog::error("{}", e.what());
    return 1;
  } catch (const StoreError& e) {
    spdlog::error("{}", e.what());
    return 1;
  } catch (const std::exception& e) {
    spdlog::error("unexpected failure: {}", e.what());
    return 1;
  }
}

std::string CommandRequestId(const std::string& what) {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return fmt::format("{}-{}-{}", what,
                     std::chrono::duration_cast<std::chrono::milliseconds>(now).count(),
                     ::getpid());
}

}  // namespace fm::server::cli

#include "BackupCommand.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "server/store/Backup.h"

namespace fm::server::cli {

namespace {

// The database a copy command works on: its own --database, else the server's.
struct DatabaseChoice {
  std::string own;
  CLI::Option* ownOption = nullptr;
  const CLI::Option* serverOption = nullptr;

  void AddTo(CLI::App& command, const CLI::App& app) {
    serverOption = app.get_option_no_throw("--database");
    ownOption = command.add_option(
        "--database", own,
        "The SQLite inventory, sqlite:PATH. Default: the server's --database (given before "
        "the subcommand or in the configuration file), else " +
            DefaultDatabase() + ".");
  }

  // The SQLite file of the chosen address; a PostgreSQL one is answered with `instead`.
  std::filesystem::path File(const std::string& instead) const {
    std::string address = own;
    if (ownOption->count() == 0) {
      address = serverOption && serverOption->count() > 0 ? serverOption->as<std::string>()
                                                          : DefaultDatabase();
    }
    if (address.rfind("postgresql://", 0) == 0 || address.rfind("postgres://", 0) == 0) {
      throw UsageError(
          fmt::format("{} is a PostgreSQL database, which PostgreSQL's own tools copy: {} "
                      "(docs/deployment.md)",
                      address, fmt::format(fmt::runtime(instead), address)));
    }
    if (address.rfind("sqlite:", 0) != 0 || address.size() == 7) {
      throw UsageError(
          fmt::format("--database \"{}\": give sqlite:PATH of the inventory file", address));
    }
    return address.substr(7);
  }
};

// A refusal is a choice the operator has to make again (status 2); a failure of the disk or
// the database is status 1. Either way nothing was replaced.
template <typename Body>
int ReportingCopyErrors(Body&& body) {
  try {
    body();
    return 0;
  } catch (const BackupError& e) {
    if (e.GetKind() == BackupError::Kind::Refused) throw UsageError(e.what());
    spdlog::error("{}", e.what());
    return 1;
  }
}

}  // namespace

std::pair<CLI::App*, CommandRun> AddBackupCommand(CLI::App& app) {
  struct Settings {
    DatabaseChoice database;
    std::string to;
    bool force = false;
    int stepPages = BackupOptions{}.pagesPerStep;
    unsigned stepPause = static_cast<unsigned>(BackupOptions{}.pause.count());
  };
  auto s = std::make_shared<Settings>();
  CLI::App* command = app.add_subcommand(
      "backup",
      "Copy a SQLite inventory to a file while servers keep saving: one consistent snapshot, "
      "written under a temporary name and renamed when complete.");
  s->database.AddTo(*command, app);
  command->add_option("--to", s->to, "The backup file to write (readable by its owner only).")
      ->required();
  command->add_flag("--force", s->force, "Replace the backup file when it exists.");
  command
      ->add_option("--step-pages", s->stepPages,
                   "Database pages copied in one step (a page is usually 4 KiB).")
      ->check(CLI::Range(1, 1'000'000))
      ->capture_default_str();
  command
      ->add_option("--step-pause", s->stepPause,
                   "Milliseconds between steps, leaving the disk to the servers' saves.")
      ->check(CLI::Range(0u, 10'000u))
      ->capture_default_str();
  return {
      command, [s]() -> int {
        std::filesystem::path database = s->database.File(
            "pg_dump --format=custom "
            "--file=FILE '{}'");
        return ReportingCopyErrors([&] {
          BackupOptions options;
          options.overwrite = s->force;
          options.pagesPerStep = s->stepPages;
          options.pause = std::chrono::milliseconds(s->stepPause);
          auto started = std::chrono::steady_clock::now();
          BackupReport report = BackupSqliteInventory(database, s->to, options);
          spdlog::info(
              "backed up {} to {}: {} ranges, schema version {}, {} pages in {} steps, {:.1f} s",
              database.string(), s->to, report.ranges, report.schemaVersion, report.pages,
              report.steps,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
        });
      }};
}

std::pair<CLI::App*, CommandRun> AddRestoreCommand(CLI::App& app) {
  struct Settings {
    DatabaseChoice database;
    std::string from;
    bool force = false;
  };
  auto s = std::make_shared<Settings>();
  CLI::App* command = app.add_subcommand(
      "restore",
      "Put a backup in place of a SQLite inventory, once the backup has passed SQLite's "
      "integrity check and opens as an inventory of this program. Stop the server first.");
  s->database.AddTo(*command, app);
  command->add_option("--from", s->from, "The backup file to restore.")->required();
  command->add_flag("--force", s->force, "Replace an inventory that holds ranges or history.");
  return {command, [s]() -> int {
            std::filesystem::path database =
                s->database.File("pg_restore --clean --if-exists --dbname='{}' FILE");
            return ReportingCopyErrors([&] {
              RestoreOptions options;
              options.force = s->force;
              RestoreReport report = RestoreSqliteInventory(s->from, database, options);
              spdlog::info("restored {} from {}: {} ranges, schema version {}{}", database.string(),
                           s->from, report.ranges, report.schemaVersion,
                           report.schemaVersion != report.backupSchemaVersion
                               ? fmt::format(" (migrated from {})", report.backupSchemaVersion)
                               : "");
            });
          }};
}

}  // namespace fm::server::cli

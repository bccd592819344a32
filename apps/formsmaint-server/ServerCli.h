#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "server/handler/RequestError.h"
#include "server/store/StoreError.h"

namespace CLI {
class App;
}

namespace fm::server {
class Store;
}

// What every command of formsmaint-server shares: the store options, the refusal of a
// setting, and the way a command's outcome becomes an exit status.
namespace fm::server::cli {

// A setting the operator has to correct; the command line prints it and exits with status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// `--log-level` of the server's own log, which goes to standard error.
void AddLogLevelOption(CLI::App& app, std::string& level);
void StartLog(const std::string& level);

// The store a command works on: `--database` and `--region`.
struct StoreSelection {
  std::string database;  // sqlite:PATH or a PostgreSQL URL
  std::string region = "NORTH";
  std::size_t poolSize = 2;
  std::size_t sqliteCacheMiB = 2;  // StoreOptions::sqliteCacheMiB
  std::size_t sqliteMmapMiB = 0;   // StoreOptions::sqliteMmapMiB
};

// "sqlite:<data dir>/server.db", the store of a workstation's own server.
std::string DefaultDatabase();

// Adds `--database`, `--region`, `--sqlite-cache-mib` and `--sqlite-mmap-mib` to `command`,
// bound to `selection` (which starts from the defaults).
void AddStoreOptions(CLI::App& command, StoreSelection& selection);

// Opens (and migrates) the selected store; the folder of a SQLite file is created first, so
// a first start in a fresh account works. Throws UsageError or StoreError.
std::shared_ptr<Store> OpenSelectedStore(const StoreSelection& selection);

// The operating-system account running a command: what an administrator's changes are
// recorded under, the name the host knows them by.
std::string AccountName();

// A request id of a command's change: "<what>-<milliseconds since the epoch>-<process id>",
// unique enough for one operator's commands and telling in the history.
std::string CommandRequestId(const std::string& what);

// Runs `body`, turning what the handler refuses for its parameters (a RequestError, a store's
// Rejected, and with `refusalsToo` a Forbidden) into a UsageError: the caller's to correct.
template <typename Body>
auto Correctable(Body&& body, bool refusalsToo = false) {
  try {
    return body();
  } catch (const RequestError& e) {
    throw UsageError(e.what());
  } catch (const StoreError& e) {
    const bool correctable = e.GetKind() == StoreError::Kind::Rejected ||
                             (refusalsToo && e.GetKind() == StoreError::Kind::Forbidden);
    if (!correctable) throw;
    throw UsageError(e.what());
  }
}

// A report's records as CSV text, the way every command writes its spreadsheet format.
std::string CsvText(const std::vector<std::vector<std::string>>& records);

// Writes a command's whole answer to standard output, or to `output` replaced whole (never
// half-written); a file that cannot be written is a UsageError naming it.
void WriteCommandOutput(const std::string& output, const std::string& text);

// Runs a command after the command line was parsed. Answers its exit status: its own, 2 for
// a UsageError, 1 for any other failure (the message goes to the log).
using CommandRun = std::function<int()>;
int RunReportingFailures(const CommandRun& run);

}  // namespace fm::server::cli

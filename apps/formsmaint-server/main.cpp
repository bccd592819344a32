// formsmaint-server: the central forms server. Without a subcommand it opens the inventory
// store, optionally creates its schema or loads an inventory, and answers the screen's
// requests over HTTP until SIGTERM or SIGINT (docs/protocol.md describes the endpoints).
// Subcommands are the administrator's one-shot tasks on a store.

#include <CLI/CLI.hpp>
#include <string>
#include <utility>
#include <vector>

#include "AllotmentCommand.h"
#include "BackupCommand.h"
#include "CheckpointCommand.h"
#include "ConfigFile.h"
#include "CountCommand.h"
#include "ReconcileCommand.h"
#include "ReportCommand.h"
#include "ServeCommand.h"
#include "ServerCli.h"
#include "StockCommand.h"
#include "TokenCommand.h"
#include "UsageCommand.h"
#include "VerifyCommand.h"
#include "WithdrawCommand.h"

int main(int argc, char** argv) {
  using namespace fm::server::cli;
  CLI::App app{
      "formsmaint-server: the central forms server. Keeps the inventory of form ranges and "
      "answers the forms-maintenance screen's search (33) and save-with-requery (34) requests "
      "over HTTP/JSON (POST /v1/messages; GET /v1/history, GET /v1/report, POST /v1/withdrawals,\n"
      "GET and POST /v1/usage, GET /v1/stock, PUT /v1/stock/minimum, GET /v1/alerts, GET "
      "/healthz)."};
  std::string logLevel = "info";
  AddLogLevelOption(app, logLevel);

  CommandRun serve = AddServeOptions(app);
  // Each subcommand registers its options and answers what to run once they are parsed.
  std::vector<std::pair<CLI::App*, CommandRun>> subcommands;
  subcommands.push_back(AddWithdrawCommand(app));
  subcommands.push_back(AddReportCommand(app));
  subcommands.push_back(AddReconcileCommand(app));
  subcommands.push_back(AddClearanceCommand(app));
  subcommands.push_back(AddVerifyCommand(app));
  subcommands.push_back(AddKeygenCommand(app));
  subcommands.push_back(AddCheckpointCommand(app));
  subcommands.push_back(AddBackupCommand(app));
  subcommands.push_back(AddRestoreCommand(app));
  subcommands.push_back(AddTokenCommand(app));
  subcommands.push_back(AddUsageCommand(app));
  subcommands.push_back(AddStockCommand(app));
  subcommands.push_back(AddCapCommand(app));
  subcommands.push_back(AddReissueRuleCommand(app));
  subcommands.push_back(AddCountCommand(app));
  AddConfigFileOption(app);
  if (auto status = ParseCommandLine(app, argc, argv)) return *status;

  StartLog(logLevel);
  for (const auto& [command, run] : subcommands) {
    if (command->parsed()) return RunReportingFailures(run);
  }
  return RunReportingFailures(serve);
}

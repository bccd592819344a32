#include "ClearanceCommand.h"

#include <CLI/CLI.hpp>
#include <memory>
#include <string>

#include "protocol/Clearance.h"
#include "server/handler/ReportRequest.h"
#include "server/handler/RequestError.h"
#include "server/handler/RequestHandler.h"
#include "server/store/Store.h"

namespace fm::server::cli {

namespace {

// The status of an officer who still holds forms unused or unaccounted.
constexpr int kNotClearStatus = 3;

struct ClearanceSelection {
  StoreSelection store;
  ReconcileParameters parameters;
  std::string format = "text";
  std::string output;
};

int Run(const ClearanceSelection& selection) {
  RequestHandler handler(OpenSelectedStore(selection.store));
  protocol::Reconciliation reconciliation;
  try {
    reconciliation = handler.Reconcile(selection.parameters);
  } catch (const RequestError& e) {
    throw UsageError(e.what());
  }
  WriteCommandOutput(selection.output, selection.format == "json"
                                           ? protocol::ClearanceToJson(reconciliation) + "\n"
                                           : protocol::ClearanceText(reconciliation));
  return protocol::ClearanceOf(reconciliation).Clear() ? 0 : kNotClearStatus;
}

}  // namespace

std::pair<CLI::App*, CommandRun> AddClearanceCommand(CLI::App& app) {
  auto selection = std::make_shared<ClearanceSelection>();
  CLI::App* command = app.add_subcommand(
      "clearance",
      "The clearance statement of an officer leaving or moving: every range he holds, the "
      "forms unused and the numbers unaccounted, and CLEAR only when both are zero. Exits 0 "
      "when clear, 3 when not.");
  AddStoreOptions(*command, selection->store);
  ReconcileParameters& p = selection->parameters;
  command->add_option("--officer", p.officer, "Registry number of the officer.")->required();
  command->add_option("--as-of", p.asOf,
                      "The last day counted, YYYY-MM-DD (local time); default: today.");
  command->add_option("--gap-days", p.gapDays,
                      "How many days a skipped number may wait for its use to be reported before "
                      "it counts as unaccounted (default 30).");
  command->add_option("--format", selection->format, "text (default) or json.")
      ->check(CLI::IsMember({"text", "json"}));
  command->add_option("--output", selection->output,
                      "File to write (replaced whole); default: standard output.");
  return {command, [selection] { return Run(*selection); }};
}

}  // namespace fm::server::cli

#include "ReconcileCommand.h"

#include <CLI/CLI.hpp>
#include <memory>
#include <string>

#include "protocol/Clearance.h"
#include "protocol/Usage.h"
#include "server/handler/ReportRequest.h"
#include "server/handler/RequestError.h"
#include "server/handler/RequestHandler.h"
#include "server/store/Store.h"

namespace fm::server::cli {

namespace {

// The status of a reconciliation that found numbers to follow up, and of an officer who still
// holds forms unused or unaccounted.
constexpr int kFindingsStatus = 3;

struct ReconcileSelection {
  StoreSelection store;
  ReconcileParameters parameters;
  std::string format = "text";
  std::string output;
};

protocol::Reconciliation ReconcileFor(const ReconcileSelection& selection) {
  RequestHandler handler(OpenSelectedStore(selection.store));
  try {
    return handler.Reconcile(selection.parameters);
  } catch (const RequestError& e) {
    throw UsageError(e.what());
  }
}

// The options of the day counted and the gap, which both commands take.
void AddDayOptions(CLI::App& command, ReconcileParameters& p) {
  command.add_option("--as-of", p.asOf,
                     "The last day counted, YYYY-MM-DD (local time); default: today.");
  command.add_option("--gap-days", p.gapDays,
                     "How many days a skipped number may wait for its use to be reported before "
                     "it counts as unaccounted (default 30).");
}

int Run(const ReconcileSelection& selection) {
  const protocol::Reconciliation reconciliation = ReconcileFor(selection);
  std::string text;
  if (selection.format == "csv") {
    text = CsvText(protocol::ReconciliationCsvRecords(reconciliation));
  } else if (selection.format == "json") {
    text = protocol::ReconciliationToJson(reconciliation) + "\n";
  } else {
    text = protocol::ReconciliationText(reconciliation);
  }
  WriteCommandOutput(selection.output, text);
  return protocol::HasFindings(reconciliation) ? kFindingsStatus : 0;
}

}  // namespace

std::pair<CLI::App*, CommandRun> AddReconcileCommand(CLI::App& app) {
  auto selection = std::make_shared<ReconcileSelection>();
  CLI::App* command = app.add_subcommand(
      "reconcile",
      "Reconcile the forms of a Troop/District, a whole troop or an officer with the uses "
      "recorded of their numbers: per holder and form type the numbers held, used (issued, "
      "spoiled, lost, stolen), in stock and unaccounted (skipped below a number used more than "
      "the gap ago), and every use that is an exception. Exits 3 when anything is "
      "unaccounted or an exception.");
  AddStoreOptions(*command, selection->store);
  ReconcileParameters& p = selection->parameters;
  command->add_option("--station", p.station,
                      "Troop/District, e.g. A1; a troop alone (A) covers every district of it.");
  command->add_option("--officer", p.officer, "Registry number of the officer.");
  command->add_option("--form-type", p.formType, "One form type (e.g. C); default: all.");
  AddDayOptions(*command, p);
  command->add_option("--format", selection->format, "text (default), csv or json.")
      ->check(CLI::IsMember({"text", "csv", "json"}));
  command->add_option("--output", selection->output,
                      "File to write (replaced whole); default: standard output.");
  return {command, [selection] { return Run(*selection); }};
}

std::pair<CLI::App*, CommandRun> AddClearanceCommand(CLI::App& app) {
  auto selection = std::make_shared<ReconcileSelection>();
  CLI::App* command = app.add_subcommand(
      "clearance",
      "The clearance statement of an officer leaving or moving: every range he holds, the "
      "forms unused and the numbers unaccounted, and CLEAR only when both are zero. Exits 0 "
      "when clear, 3 when not.");
  AddStoreOptions(*command, selection->store);
  command->add_option("--officer", selection->parameters.officer, "Registry number of the officer.")
      ->required();
  AddDayOptions(*command, selection->parameters);
  command->add_option("--format", selection->format, "text (default) or json.")
      ->check(CLI::IsMember({"text", "json"}));
  command->add_option("--output", selection->output,
                      "File to write (replaced whole); default: standard output.");
  return {command, [selection] {
            const protocol::Reconciliation reconciliation = ReconcileFor(*selection);
            WriteCommandOutput(selection->output,
                               selection->format == "json"
                                   ? protocol::ClearanceToJson(reconciliation) + "\n"
                                   : protocol::ClearanceText(reconciliation));
            return protocol::ClearanceOf(reconciliation).Clear() ? 0 : kFindingsStatus;
          }};
}

}  // namespace fm::server::cli

#include "ReconcileCommand.h"

#include <CLI/CLI.hpp>
#include <memory>
#include <string>

#include "protocol/Usage.h"
#include "server/handler/ReportRequest.h"
#include "server/handler/RequestError.h"
#include "server/handler/RequestHandler.h"
#include "server/store/Store.h"

namespace fm::server::cli {

namespace {

// The status of a reconciliation that found numbers to follow up.
constexpr int kFindingsStatus = 3;

struct ReconcileSelection {
  StoreSelection store;
  ReconcileParameters parameters;
  std::string format = "text";
  std::string output;
};

int Run(const ReconcileSelection& selection) {
  RequestHandler handler(OpenSelectedStore(selection.store));
  protocol::Reconciliation reconciliation;
  try {
    reconciliation = handler.Reconcile(selection.parameters);
  } catch (const RequestError& e) {
    throw UsageError(e.what());
  }
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
  command->add_option("--as-of", p.asOf,
                      "The last day counted, YYYY-MM-DD (local time); default: today.");
  command->add_option("--gap-days", p.gapDays,
                      "How many days a skipped number may wait for its use to be reported before "
                      "it counts as unaccounted (default 30).");
  command->add_option("--format", selection->format, "text (default), csv or json.")
      ->check(CLI::IsMember({"text", "csv", "json"}));
  command->add_option("--output", selection->output,
                      "File to write (replaced whole); default: standard output.");
  return {command, [selection] { return Run(*selection); }};
}

}  // namespace fm::server::cli

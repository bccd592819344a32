#include "StockCommand.h"

#include <fmt/format.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <iostream>
#include <memory>
#include <string>

#include "protocol/Stock.h"
#include "server/handler/ReportRequest.h"
#include "server/handler/RequestError.h"
#include "server/handler/RequestHandler.h"
#include "server/store/Store.h"
#include "server/store/StoreError.h"

namespace fm::server::cli {

namespace {

// The status of a report with a line below its minimum, for a supply clerk's script.
constexpr int kBelowMinimumStatus = 3;

struct StockSelection {
  StoreSelection store;
  StockParameters parameters;
  std::string format = "text";
  std::string output;
  CLI::App* setMinimum = nullptr;
  StockMinimumParameters minimum;
  int countDueDays = RequestHandlerOptions{}.countDueDays;
};

int Report(const StockSelection& selection, RequestHandler& handler, const Principal& principal) {
  protocol::StockReport report;
  try {
    report = handler.Stock(selection.parameters, principal);
  } catch (const RequestError& e) {
    throw UsageError(e.what());
  }
  std::string text;
  if (selection.format == "csv") {
    text = CsvText(protocol::StockCsvRecords(report));
  } else if (selection.format == "json") {
    text = protocol::StockReportToJson(report) + "\n";
  } else {
    text = protocol::StockText(report);
  }
  WriteCommandOutput(selection.output, text);
  return protocol::AnyBelowMinimum(report) ? kBelowMinimumStatus : 0;
}

int SetMinimum(const StockSelection& selection, RequestHandler& handler,
               const Principal& principal) {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const std::string id =
      fmt::format("stock-minimum-{}-{}",
                  std::chrono::duration_cast<std::chrono::milliseconds>(now).count(), ::getpid());
  protocol::StockMinimumSet kept;
  try {
    kept = handler.SetStockMinimum(selection.minimum, principal, id,
                                   "formsmaint-server stock set-minimum");
  } catch (const RequestError& e) {
    throw UsageError(e.what());
  } catch (const StoreError& e) {
    if (e.GetKind() != StoreError::Kind::Rejected) throw;
    throw UsageError(e.what());
  }
  if (kept.minimum == 0) {
    std::cout << fmt::format("{}{} keeps no minimum of {} any more (set by {} at {}).\n",
                             kept.troop, kept.district, kept.formType, kept.setBy, kept.setAt);
  } else {
    std::cout << fmt::format("The minimum stock of {} at {}{} is {} (set by {} at {}).\n",
                             kept.formType, kept.troop, kept.district, kept.minimum, kept.setBy,
                             kept.setAt);
  }
  return 0;
}

}  // namespace

std::pair<CLI::App*, CommandRun> AddStockCommand(CLI::App& app) {
  auto selection = std::make_shared<StockSelection>();
  CLI::App* command = app.add_subcommand(
      "stock",
      "Stock on hand: per Troop/District and form type the unassigned forms, those with "
      "officers, the minimum, the use per week over the last weeks (recorded uses, or forms "
      "handed to officers in weeks without any) and the weeks of supply left, then the open "
      "stock alerts. Exits 3 when a line is below its minimum.");
  command->require_subcommand(0, 1);
  AddStoreOptions(*command, selection->store);
  StockParameters& p = selection->parameters;
  command->add_option("--station", p.station,
                      "Troop/District, e.g. A1; a troop alone (A) covers every district of it; "
                      "default: every station.");
  command->add_option("--form-type", p.formType, "One form type (e.g. C); default: all.");
  command->add_option("--weeks", p.weeks,
                      fmt::format("The weeks the use per week is counted over, ending today "
                                  "(default {}, at most {}).",
                                  kDefaultStockWeeks, kMaxStockWeeks));
  command
      ->add_option("--count-due-days", selection->countDueDays,
                   "Days after a station's last certified physical count before the next is "
                   "due (as the server's --count-due-days).")
      ->check(CLI::Range(1, 3650))
      ->capture_default_str();
  command->add_option("--format", selection->format, "text (default), csv or json.")
      ->check(CLI::IsMember({"text", "csv", "json"}));
  command->add_option("--output", selection->output,
                      "File to write (replaced whole); default: standard output.");

  CLI::App* set = command->add_subcommand(
      "set-minimum",
      "Set the minimum stock of a station and form type: the fewest unassigned forms it wants "
      "on its shelf. Falling below it raises one stock alert per crossing; 0 removes it.");
  selection->setMinimum = set;
  AddStoreOptions(*set, selection->store);
  set->add_option("--station", selection->minimum.station,
                  "Troop/District, e.g. A1, or a troop alone (A) for the troop's own stock.")
      ->required();
  set->add_option("--form-type", selection->minimum.formType, "The form type, e.g. C.")->required();
  set->add_option("--minimum", selection->minimum.minimum,
                  "The fewest unassigned forms, a whole number; 0 removes the minimum.")
      ->required();

  return {command, [selection] {
            RequestHandlerOptions options;
            options.countDueDays = selection->countDueDays;
            RequestHandler handler(OpenSelectedStore(selection->store), options);
            const Principal principal = Principal::LocalAdministrator(0, AccountName());
            return selection->setMinimum->parsed() ? SetMinimum(*selection, handler, principal)
                                                   : Report(*selection, handler, principal);
          }};
}

}  // namespace fm::server::cli

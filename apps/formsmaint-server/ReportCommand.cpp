#include "ReportCommand.h"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "protocol/Custody.h"
#include "server/handler/ReportRequest.h"
#include "server/handler/RequestError.h"
#include "server/handler/RequestHandler.h"
#include "server/store/Store.h"

namespace fm::server::cli {

namespace {

struct ReportSelection {
  StoreSelection store;
  ReportParameters parameters;
  std::string format = "json";
  std::string output;
};

int Run(const ReportSelection& selection) {
  RequestHandler handler(OpenSelectedStore(selection.store));
  protocol::AccountabilityReport report;
  try {
    report = handler.Accountability(selection.parameters);
  } catch (const RequestError& e) {
    throw UsageError(e.what());
  }
  std::string text;
  if (selection.format == "csv") {
    text = CsvText(protocol::AccountabilityCsvRecords(report));
  } else {
    text = protocol::AccountabilityToJson(report) + "\n";
  }
  WriteCommandOutput(selection.output, text);
  for (const auto& line : report.lines) {
    if (line.Imbalance() != 0) {
      std::cerr << fmt::format(
          "formsmaint-server report: {} does not balance (off by {}); the history has a "
          "defect, tell the help desk\n",
          line.description.empty() ? "form type " + line.formType : line.description,
          line.Imbalance());
    }
  }
  return 0;
}

}  // namespace

std::pair<CLI::App*, CommandRun> AddReportCommand(CLI::App& app) {
  auto selection = std::make_shared<ReportSelection>();
  CLI::App* command = app.add_subcommand(
      "report",
      "Print the accountability report of a Troop/District, a whole troop or an officer: per "
      "form type the beginning balance, the forms received, transferred in and out, "
      "reinstated, delisted and withdrawn, and the ending balance, each with its serial "
      "ranges, and the forms issued.");
  AddStoreOptions(*command, selection->store);
  ReportParameters& p = selection->parameters;
  command->add_option("--station", p.station,
                      "Troop/District, e.g. A1; a troop alone (A) reports every district of it.");
  command->add_option("--officer", p.officer, "Registry number of the officer to report on.");
  command->add_option("--form-type", p.formType, "One form type (e.g. C); default: all.");
  command->add_option("--from", p.from,
                      "First day, YYYY-MM-DD (local time). Without --from and --to: the last "
                      "calendar month.");
  command->add_option("--to", p.to, "Last day, YYYY-MM-DD, included.");
  command->add_option("--format", selection->format, "json (default) or csv.")
      ->check(CLI::IsMember({"json", "csv"}));
  command->add_option("--output", selection->output,
                      "File to write (replaced whole); default: standard output.");
  return {command, [selection] { return Run(*selection); }};
}

}  // namespace fm::server::cli

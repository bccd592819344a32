#include "UsageCommand.h"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "protocol/Usage.h"
#include "server/handler/RequestError.h"
#include "server/handler/RequestHandler.h"
#include "server/handler/UsageImport.h"
#include "server/store/Store.h"

namespace fm::server::cli {

namespace {

// Distinct from a failure of the store (1 too): the file is at fault, and nothing was stored.
constexpr int kBadUses = 1;

struct ImportSelection {
  StoreSelection store;
  std::string file;
  std::string source;
  std::string format = "text";
  bool preview = false;
  UsageLimits limits;
};

void PrintText(const std::string& fileName, const protocol::UsageOutcome& o) {
  if (o.sameFileAgain) {
    std::cout << fmt::format("{} was imported before (as {} at {} by {}); nothing changed.\n",
                             fileName, o.previousFileName, o.previousRecordedAt,
                             o.previousRecordedBy);
    return;
  }
  for (const auto& bad : o.badLines)
    std::cout << fmt::format("line {}: {}\n", bad.line, bad.message);
  if (o.badLineCount > 0) {
    const auto unlisted = o.badLineCount - static_cast<std::int64_t>(o.badLines.size());
    std::cout << fmt::format("{} of {} lines are bad{}; nothing was recorded.\n", o.badLineCount,
                             o.lines,
                             unlisted > 0 ? fmt::format(" ({} more not listed: raise "
                                                        "--usage-listed-lines to see them)",
                                                        unlisted)
                                          : "");
    return;
  }
  for (const auto& conflict : o.conflicts) {
    std::cout << fmt::format("conflict, line {}: {}\n", conflict.line, conflict.message);
  }
  std::cout << fmt::format(
      "{} {}: {} lines, {} recorded, {} already recorded, {} conflicts kept apart{}.\n",
      o.preview ? "Preview of" : "Imported", fileName, o.lines, o.recorded, o.alreadyRecorded,
      o.conflictCount, o.preview ? " (nothing was stored)" : "");
}

int Run(const ImportSelection& selection) {
  RequestHandlerOptions options;
  options.usage = selection.limits;
  RequestHandler handler(OpenSelectedStore(selection.store), options);
  const std::string fileName = std::filesystem::path(selection.file).filename().string();
  protocol::UsageOutcome outcome;
  try {
    UseBatch batch =
        CsvUseBatch(fileName, FileBytes(selection.file), selection.source, handler.UsageRules());
    batch.preview = selection.preview;
    outcome = handler.RecordUses(batch, Principal::LocalAdministrator(0, AccountName()),
                                 "usage-import-" + batch.source.fileHash.substr(0, 32),
                                 "formsmaint-server usage import");
  } catch (const RequestError& e) {
    std::cout << e.what() << '\n';
    return kBadUses;
  }
  if (selection.format == "json") {
    std::cout << protocol::UsageOutcomeToJson(outcome) << '\n';
  } else {
    PrintText(fileName, outcome);
  }
  std::cout << std::flush;
  return outcome.badLineCount > 0 ? kBadUses : 0;
}

}  // namespace

void AddUsageLimitOptions(CLI::App& command, UsageLimits& limits) {
  command
      .add_option("--usage-file-limit", limits.fileBytes,
                  "Largest import file of uses; a larger one is refused whole. A size such as "
                  "128MiB.")
      ->transform(CLI::AsSizeValue(false))
      ->capture_default_str();
  command
      .add_option("--usage-line-limit", limits.lineBytes,
                  "Longest line of an import file in bytes; a longer one is a bad line.")
      ->check(CLI::Range(std::size_t{64}, std::size_t{1024 * 1024}))
      ->capture_default_str();
  command
      .add_option("--usage-field-length", limits.fieldLength,
                  "Most characters of a text of a use (reference, note, source, reason).")
      ->check(CLI::Range(std::size_t{16}, std::size_t{10000}))
      ->capture_default_str();
  command
      .add_option("--usage-listed-lines", limits.listedLines,
                  "Bad lines, and conflicts, an answer lists; the rest are counted.")
      ->check(CLI::Range(std::size_t{1}, std::size_t{10'000'000}))
      ->capture_default_str();
  command
      .add_option("--usage-span-limit", limits.spanNumbers,
                  "Most numbers one recorded span of uses (Record Use) may hold.")
      ->check(CLI::Range(std::int64_t{1}, std::int64_t{1'000'000}))
      ->capture_default_str();
}

std::pair<CLI::App*, CommandRun> AddUsageCommand(CLI::App& app) {
  auto selection = std::make_shared<ImportSelection>();
  CLI::App* usage =
      app.add_subcommand("usage", "The uses of form numbers: what became of each (docs/usage.md).");
  usage->require_subcommand(1);
  CLI::App* command = usage->add_subcommand(
      "import",
      "Record the uses of an import file (header form_type,number,disposition,used_on,officer,"
      "reference,note), all or none: a file with any bad line changes nothing and every bad "
      "line is printed; the same file again changes nothing; a line contradicting a recorded "
      "use is kept apart as a conflict.");
  AddStoreOptions(*command, selection->store);
  command->add_option("--file", selection->file, "The import file (CSV).")
      ->required()
      ->check(CLI::ExistingFile);
  command
      ->add_option("--source", selection->source,
                   "Where the uses come from, in words (\"e-citation export, November\").")
      ->required();
  command->add_option("--format", selection->format, "text (default) or json.")
      ->check(CLI::IsMember({"text", "json"}));
  command->add_flag("--preview", selection->preview,
                    "Check and count everything as an import would, and store nothing.");
  AddUsageLimitOptions(*command, selection->limits);
  return {usage, [selection] { return Run(*selection); }};
}

}  // namespace fm::server::cli

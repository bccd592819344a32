#include "VerifyCommand.h"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

#include "server/store/Store.h"

namespace fm::server::cli {

namespace {

// Distinct from a failure (1): the check ran to the end and the inventory is at fault.
constexpr int kViolationsFound = 3;

int Run(const StoreSelection& selection) {
  const InventoryCheck check = OpenSelectedStore(selection)->CheckInventory();
  if (check.violations.empty()) {
    std::cout << fmt::format(
                     "The inventory accounts for every form number: {} ranges, {} history "
                     "entries.\n",
                     check.ranges, check.historyEntries)
              << std::flush;
    return 0;
  }
  for (const auto& violation : check.violations) std::cout << violation << '\n';
  std::cout << fmt::format(
                   "The inventory does not account for every form number: {} violations in {} "
                   "ranges and {} history entries.\n",
                   check.violations.size(), check.ranges, check.historyEntries)
            << std::flush;
  return kViolationsFound;
}

}  // namespace

std::pair<CLI::App*, CommandRun> AddVerifyCommand(CLI::App& app) {
  auto selection = std::make_shared<StoreSelection>();
  CLI::App* command = app.add_subcommand(
      "verify",
      "Check that the inventory accounts for every form number: no two ranges share a "
      "number, replaying the history gives exactly the stored ranges, and the ranges hold "
      "exactly the numbers received and not withdrawn. Exit status 3 when it does not. Run it "
      "after a restore or an upgrade; it reads the whole history.");
  AddStoreOptions(*command, *selection);
  return {command, [selection] { return Run(*selection); }};
}

}  // namespace fm::server::cli

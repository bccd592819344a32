#include "WithdrawCommand.h"

#include <fmt/format.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "server/store/ChangeRules.h"
#include "server/store/ReferenceData.h"
#include "server/store/Store.h"
#include "server/store/StoreTypes.h"

namespace fm::server::cli {

namespace {

struct WithdrawSelection {
  StoreSelection store;
  std::string formType;
  std::int64_t from = 0;
  std::int64_t to = 0;
  std::string reason;
};

std::string Describe(const FormRange& r) {
  std::string text = fmt::format("{}-{} held by {}{}", r.from, r.to, r.troop, r.district);
  if (r.registry != kNoOfficer) text += fmt::format(", officer {}", r.registry);
  text += fmt::format(", status {}", r.status);
  return text;
}

int Run(const WithdrawSelection& selection) {
  auto store = OpenSelectedStore(selection.store);
  const std::string account = AccountName();
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  SaveContext context;
  context.requestId =
      fmt::format("withdraw-{}-{}",
                  std::chrono::duration_cast<std::chrono::milliseconds>(now).count(), ::getpid());
  context.requester = "formsmaint-server withdraw";
  context.userId = 0;
  context.userName = account;
  const WithdrawOutcome outcome =
      store->Withdraw(context, selection.formType, selection.from, selection.to, selection.reason);

  fmt::print("Withdrew forms {}-{} of form type {} ({}) as {}: {}\n", selection.from, selection.to,
             selection.formType, FormTypeName(selection.formType, store->Reference()), account,
             selection.reason);
  for (const auto& gone : outcome.withdrawn) fmt::print("  withdrawn {}\n", Describe(gone));
  for (const auto& kept : outcome.kept) fmt::print("  kept      {}\n", Describe(kept));
  return 0;
}

}  // namespace

std::pair<CLI::App*, CommandRun> AddWithdrawCommand(CLI::App& app) {
  auto selection = std::make_shared<WithdrawSelection>();
  CLI::App* command = app.add_subcommand(
      "withdraw",
      "Take forms out of the inventory with a reason (a range recorded in error, forms "
      "destroyed). The numbers must all be held by stored ranges; those ranges are cut and the "
      "withdrawal is kept in each form's history.");
  AddStoreOptions(*command, selection->store);
  command->add_option("--form-type", selection->formType, "Form type code, for example C.")
      ->required();
  command->add_option("--from", selection->from, "First form number to withdraw.")
      ->required()
      ->check(CLI::NonNegativeNumber);
  command->add_option("--to", selection->to, "Last form number to withdraw.")
      ->required()
      ->check(CLI::NonNegativeNumber);
  command
      ->add_option("--reason", selection->reason,
                   fmt::format("Why the forms leave the inventory (at most {} characters).",
                               kMaxWithdrawReasonLength))
      ->required();
  return {command, [selection] { return Run(*selection); }};
}

}  // namespace fm::server::cli

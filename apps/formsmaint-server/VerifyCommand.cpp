#include "VerifyCommand.h"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

#include "localdata/LocalData.h"
#include "server/store/Checkpoint.h"
#include "server/store/Store.h"

namespace fm::server::cli {

namespace {

// Distinct from a failure (1): the check ran to the end and the inventory is at fault.
constexpr int kViolationsFound = 3;

struct VerifyOptions {
  StoreSelection store;
  std::string checkpoint;  // a checkpoint file the chain must still hold
  std::string signingKey = DefaultSigningKey();
  std::size_t maxViolations = 20;
};

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw UsageError(fmt::format("The checkpoint file {} cannot be read", path));
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The checkpoint, when its signature is this server's: else what is wrong with it.
std::optional<Checkpoint> TrustedCheckpoint(const VerifyOptions& options,
                                            std::vector<std::string>& problems) {
  const Checkpoint checkpoint =
      Correctable([&] { return ReadCheckpointFile(ReadWhole(options.checkpoint)); });
  const std::string ours =
      Correctable([&] { return SigningKey::Load(options.signingKey).PublicKeyHex(); });
  if (checkpoint.publicKey != ours) {
    problems.push_back(fmt::format(
        "The checkpoint {} was signed by the key {}, not by this server's key {} ({}): it "
        "proves nothing about this store and is refused.",
        options.checkpoint, checkpoint.publicKey, ours, options.signingKey));
    return std::nullopt;
  }
  if (!VerifySignature(ours, CheckpointText(checkpoint), checkpoint.signature)) {
    problems.push_back(fmt::format(
        "The checkpoint {} does not carry this server's signature of what it says: it was "
        "changed after it was signed, and is refused.",
        options.checkpoint));
    return std::nullopt;
  }
  return checkpoint;
}

int Run(const VerifyOptions& options) {
  std::vector<std::string> refused;
  ChainCheckOptions chainOptions;
  chainOptions.maxViolations = options.maxViolations;
  std::optional<Checkpoint> checkpoint;
  if (!options.checkpoint.empty()) {
    checkpoint = TrustedCheckpoint(options, refused);
    if (checkpoint) chainOptions.checkpoint = checkpoint->head;
  }
  const auto store = OpenSelectedStore(options.store);
  const InventoryCheck check = store->CheckInventory();
  const ChainCheck chain = store->CheckRecordChain(chainOptions);

  if (check.violations.empty()) {
    std::cout << fmt::format(
        "The inventory accounts for every form number: {} ranges, {} history entries.\n",
        check.ranges, check.historyEntries);
  } else {
    for (const auto& violation : check.violations) std::cout << violation << '\n';
    std::cout << fmt::format(
        "The inventory does not account for every form number: {} violations in {} ranges "
        "and {} history entries.\n",
        check.violations.size(), check.ranges, check.historyEntries);
  }
  for (const auto& why : refused) std::cout << why << '\n';
  if (chain.violationCount == 0) {
    std::cout << fmt::format("The record chain holds every record unchanged: {} links, head {}.\n",
                             chain.links, chain.head.linkHash);
    if (checkpoint) {
      std::cout << fmt::format("Nothing before link {} changed since the checkpoint of {}.\n",
                               checkpoint->head.seq, checkpoint->takenAt);
    }
  } else {
    for (const auto& violation : chain.violations) std::cout << violation << '\n';
    if (chain.violationCount > chain.violations.size()) {
      std::cout << fmt::format("... and {} more.\n",
                               chain.violationCount - chain.violations.size());
    }
    std::cout << fmt::format(
        "The record chain does not hold every record as it was written: {} violations in {} "
        "links.\n",
        chain.violationCount, chain.links);
  }
  std::cout << std::flush;
  const bool sound = check.violations.empty() && refused.empty() && chain.violationCount == 0;
  return sound ? 0 : kViolationsFound;
}

}  // namespace

std::string DefaultSigningKey() {
  return (fm::local_data::DefaultDataDirectory() / "checkpoint.key").string();
}

void AddSigningKeyOption(CLI::App& command, std::string& path) {
  command
      .add_option("--signing-key", path,
                  "The server's Ed25519 signing key (PEM, mode 0600), made by keygen; the "
                  "package makes /var/lib/formsmaint/checkpoint.key.")
      ->capture_default_str();
}

std::pair<CLI::App*, CommandRun> AddVerifyCommand(CLI::App& app) {
  auto options = std::make_shared<VerifyOptions>();
  CLI::App* command = app.add_subcommand(
      "verify",
      "Check that the inventory accounts for every form number: no two ranges share a "
      "number, replaying the history gives exactly the stored ranges, and the ranges hold "
      "exactly the numbers received and not withdrawn; and that the record chain holds every "
      "history entry, use and count as it was written. Exit status 3 when it does not. Run it "
      "after a restore or an upgrade; it reads the whole history.");
  AddStoreOptions(*command, options->store);
  command->add_option("--checkpoint", options->checkpoint,
                      "A checkpoint file (formsmaint-server checkpoint): proves, with the "
                      "server's signature, that nothing before its link changed since.");
  AddSigningKeyOption(*command, options->signingKey);
  command
      ->add_option("--max-violations", options->maxViolations,
                   "The most violations of the record chain printed (all are counted).")
      ->capture_default_str()
      ->check(CLI::Range(1, 100000));
  return {command, [options] { return Run(*options); }};
}

}  // namespace fm::server::cli

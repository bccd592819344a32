#include "CheckpointCommand.h"

#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <iostream>
#include <memory>

#include "VerifyCommand.h"
#include "server/store/Checkpoint.h"
#include "server/store/Store.h"
#include "server/store/TimeText.h"

namespace fm::server::cli {

std::pair<CLI::App*, CommandRun> AddKeygenCommand(CLI::App& app) {
  auto path = std::make_shared<std::string>(DefaultSigningKey());
  CLI::App* command = app.add_subcommand(
      "keygen",
      "Make the server's Ed25519 key that signs checkpoints of the record chain, readable by "
      "its owner alone (mode 0600). An existing key is never replaced: checkpoints it signed "
      "are proved with it.");
  AddSigningKeyOption(*command, *path);
  return {command, [path] {
            const SigningKey key = Correctable([&] { return SigningKey::Create(*path); });
            std::cout << fmt::format("Made the signing key {} (public key {}).\n", *path,
                                     key.PublicKeyHex())
                      << std::flush;
            return 0;
          }};
}

namespace {

struct CheckpointOptions {
  StoreSelection store;
  std::string signingKey = DefaultSigningKey();
  std::string output;
};

}  // namespace

std::pair<CLI::App*, CommandRun> AddCheckpointCommand(CLI::App& app) {
  auto options = std::make_shared<CheckpointOptions>();
  CLI::App* command = app.add_subcommand(
      "checkpoint",
      "Write the record chain's head signed with the server's key. Keep it apart from the "
      "database (print it, file it, send it to the auditor): verify --checkpoint FILE then "
      "proves that no history entry, use or count before it changed, even if the whole "
      "chain was recomputed.");
  AddStoreOptions(*command, options->store);
  AddSigningKeyOption(*command, options->signingKey);
  command->add_option("--output", options->output,
                      "The file to write (replaced whole); standard output without it.");
  return {command, [options] {
            // The key first: a store is not opened (nor migrated) for a checkpoint that
            // could not be signed.
            const SigningKey key =
                Correctable([&] { return SigningKey::Load(options->signingKey); });
            Checkpoint checkpoint;
            checkpoint.head = OpenSelectedStore(options->store)->RecordChainHead();
            checkpoint.takenAt = UtcTimestamp(std::chrono::system_clock::now());
            checkpoint.publicKey = key.PublicKeyHex();
            checkpoint.signature = key.SignHex(CheckpointText(checkpoint));
            WriteCommandOutput(options->output, CheckpointFile(checkpoint));
            return 0;
          }};
}

}  // namespace fm::server::cli

#pragma once

#include <utility>

#include "ServerCli.h"

namespace CLI {
class App;
}

namespace fm::server::cli {

// `keygen`: makes the server's Ed25519 signing key (mode 0600; an existing key is never
// replaced). The package runs it at install.
std::pair<CLI::App*, CommandRun> AddKeygenCommand(CLI::App& app);

// `checkpoint`: the record chain's head now, signed with the signing key, on standard output
// or in --output. `verify --checkpoint FILE` proves from it that nothing before changed.
std::pair<CLI::App*, CommandRun> AddCheckpointCommand(CLI::App& app);

}  // namespace fm::server::cli

#pragma once

#include <string>
#include <utility>

#include "ServerCli.h"

namespace CLI {
class App;
}

namespace fm::server::cli {

// `verify`: checks, from one snapshot of the store, that the inventory accounts for every
// form number (server/store/InventoryCheck.h): no two ranges share a number, replaying the history
// gives exactly the stored ranges, and the ranges hold exactly the numbers received and not
// withdrawn; and that the record chain (server/store/RecordChain.h) holds every record as it
// was written, up to a signed checkpoint with --checkpoint. Prints what it checked, or every
// violation, on standard output. Exit status 0 when the inventory keeps every rule, 3 when it
// does not (an auditor's finding, not a failure of the command), 1 when the store could not
// be read, 2 for options to correct.
std::pair<CLI::App*, CommandRun> AddVerifyCommand(CLI::App& app);

// "<data dir>/checkpoint.key", and `--signing-key` bound to `path`.
std::string DefaultSigningKey();
void AddSigningKeyOption(CLI::App& command, std::string& path);

}  // namespace fm::server::cli

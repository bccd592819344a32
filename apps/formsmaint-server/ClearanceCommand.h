#pragma once

#include <utility>

#include "ServerCli.h"

namespace CLI {
class App;
}

namespace fm::server::cli {

// `clearance --officer N`: the clearance statement of an officer on a transfer or departure
// (docs/clearance.md): every range he holds wherever it is held, the forms unused and the
// numbers unaccounted, and "CLEAR" only when both are zero; as text (default) or JSON (the
// shape of GET /v1/clearance). Exits 0 when clear, 3 when not, 2 for parameters to correct.
std::pair<CLI::App*, CommandRun> AddClearanceCommand(CLI::App& app);

}  // namespace fm::server::cli

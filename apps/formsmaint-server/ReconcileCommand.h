#pragma once

#include <utility>

#include "ServerCli.h"

namespace CLI {
class App;
}

namespace fm::server::cli {

// `reconcile`: the forms of a Troop/District, a whole troop or an officer against the uses
// recorded of their numbers (docs/usage.md): per holder and form type the numbers held, used
// (by disposition), in stock and unaccounted, then the exceptions with their facts; as text
// (default), CSV or JSON (the shape of GET /v1/reconciliation), to standard output or a file
// written atomically. Exits 0 when nothing is unaccounted and no use is an exception, 3 when
// something is (an auditor's script can tell), 2 for parameters to correct.
std::pair<CLI::App*, CommandRun> AddReconcileCommand(CLI::App& app);

}  // namespace fm::server::cli

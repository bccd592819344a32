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

// `clearance --officer N`: the clearance statement of an officer on a transfer or departure
// (docs/clearance.md): every range he holds wherever it is held, the forms unused and the
// numbers unaccounted, and "CLEAR" only when both are zero; as text (default) or JSON (the
// shape of GET /v1/clearance). Exits 0 when clear, 3 when not, 2 for parameters to correct.
std::pair<CLI::App*, CommandRun> AddClearanceCommand(CLI::App& app);

}  // namespace fm::server::cli

#pragma once

#include <utility>

#include "ServerCli.h"

namespace CLI {
class App;
}

namespace fm::server::cli {

// `stock`: the stock on hand of a Troop/District, a whole troop or every station
// (docs/stock.md): per station and form type the unassigned forms, those with officers, the
// minimum, the use per week and the weeks of supply, then the open alerts; as text (default),
// CSV or JSON (the shape of GET /v1/stock), to standard output or a file written atomically.
// Exits 0 when no line is below its minimum, 3 when one is, 2 for parameters to correct.
//
// `stock set-minimum`: sets the minimum of a station and form type as the administrator
// running the command (0 removes it). Exits 0, or 2 for parameters to correct.
std::pair<CLI::App*, CommandRun> AddStockCommand(CLI::App& app);

}  // namespace fm::server::cli

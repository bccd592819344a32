#pragma once

#include <utility>

#include "ServerCli.h"

namespace CLI {
class App;
}

namespace fm::server::cli {

// `report`: the accountability report of a Troop/District, a whole troop or an officer over
// a period (docs/accountability.md), printed as JSON (the shape of GET /v1/report) or CSV
// (the table the desktop exports), to standard output or a file written atomically.
// Parameters to correct (an unknown station, a date that is not one) exit with status 2.
std::pair<CLI::App*, CommandRun> AddReportCommand(CLI::App& app);

}  // namespace fm::server::cli

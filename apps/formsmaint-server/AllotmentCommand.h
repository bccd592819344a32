#pragma once

#include <utility>

#include "ServerCli.h"

namespace CLI {
class App;
}

namespace fm::server::cli {

// `cap`: lists the allotment caps (docs/allotment.md), a line per station and form type;
// `cap set --station A1 --form-type C --cap N` sets one as the administrator running the
// command (0 removes it). Exits 0, or 2 for parameters to correct.
std::pair<CLI::App*, CommandRun> AddCapCommand(CLI::App& app);

// `reissue-rule`: lists the stations whose reissue rule is on; `reissue-rule set --station A1
// --state on|off` turns one on or off. Exits as `cap`.
std::pair<CLI::App*, CommandRun> AddReissueRuleCommand(CLI::App& app);

}  // namespace fm::server::cli

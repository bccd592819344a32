#pragma once

#include <utility>

#include "ServerCli.h"

namespace CLI {
class App;
}

namespace fm::server::cli {

// `count`: physical counts (docs/counts.md). `count open|add|import|certify` act for the
// auditor whose token FORMSMAINT_TOKEN holds (checked against --token-file); `count settle`
// for the administrator running the command, or the token's principal; `count list` and
// `count show` read. Exits 0, or 2 for parameters to correct (a refusal of the role
// included).
std::pair<CLI::App*, CommandRun> AddCountCommand(CLI::App& app);

}  // namespace fm::server::cli

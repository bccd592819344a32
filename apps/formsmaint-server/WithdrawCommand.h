#pragma once

#include <utility>

#include "ServerCli.h"

namespace CLI {
class App;
}

namespace fm::server::cli {

// `withdraw`: takes a span of form numbers out of the inventory with a reason, the only way a
// number leaves it (Store::Withdraw), and prints what was withdrawn and what stayed. The
// acting user recorded in the custody history is the operating-system account running the
// command. Adds the subcommand to `app`; the answer is the subcommand and how to run it.
std::pair<CLI::App*, CommandRun> AddWithdrawCommand(CLI::App& app);

}  // namespace fm::server::cli

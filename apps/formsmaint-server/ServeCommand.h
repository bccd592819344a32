#pragma once

#include "ServerCli.h"

namespace CLI {
class App;
}

namespace fm::server::cli {

// The server's main work, given by the options of the command line itself (no subcommand):
// open the store, optionally create its schema or load an inventory, and answer requests over
// HTTP until SIGTERM or SIGINT (SIGHUP reads the token file again). Adds its options to `app`; the
// answer runs it after parsing.
CommandRun AddServeOptions(CLI::App& app);

}  // namespace fm::server::cli
